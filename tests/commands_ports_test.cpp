// Port registers, status flags, and the read-modify-write operations on port 3 that reset the
// FIFO and toggle capture.
#include <gtest/gtest.h>

#include <cerrno>

#include "commands/ports.h"
#include "commands_fixture.h"

namespace tarvex::testing {
namespace {

using PortCommands = CommandTest;

// The value a port write carries.
std::uint16_t Written(const Bytes& packet) {
    return static_cast<std::uint16_t>(packet[4] | (packet[5] << 8));
}

TEST_F(PortCommands, APortWriteSendsTheValueLowByteFirstAndLeavesTheLengthAlone) {
    const Bytes before = OutBuff();
    EXPECT_EQ(u_SetPort(0, 3, 0x1234), 1);
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(sent(0), With(before, {{0, 0xF0}, {1, 0x00}, {3, 0x03}, {4, 0x34}, {5, 0x12}}));
    EXPECT_EQ(firmware->ports[3], 0x1234);
}

TEST_F(PortCommands, APortReadSendsThePortNumberOnly) {
    firmware->ports[7] = 0x0042;
    const Bytes before = OutBuff();
    std::uint16_t value = 0;
    EXPECT_EQ(u_GetPort(0, 7, &value), XFER_OK);
    EXPECT_EQ(value, 0x0042);
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(sent(0), With(before, {{0, 0xF0}, {1, 0x01}, {3, 0x07}}));
}

TEST_F(PortCommands, APortReadTakesTheValueFromReplyBytesOneAndTwo) {
    struct Case {
        Bytes reply;
        int result;
        std::uint16_t value;
    } const cases[] = {
        {{0x00, 0x21, 0x00}, XFER_OK, 0x0021},
        {{0xAA, 0xFF, 0x80}, XFER_OK, 0x80FF},  // byte 0 is ignored
        {{0x00, 0x21}, XFER_SHORT, 0x0021},     // the missing high byte reads as 0
        {{}, XFER_SHORT, 0x0000},
    };
    for (const auto& c : cases) {
        firmware->script[CMD_PORT].push_back(c.reply);
        std::uint16_t value = 0xDEAD;
        EXPECT_EQ(u_GetPort(0, 3, &value), c.result) << ::testing::PrintToString(c.reply);
        EXPECT_EQ(value, c.value) << ::testing::PrintToString(c.reply);
    }
}

TEST_F(PortCommands, APortReadWithNoReplyFailsAfterItsTimeOut) {
    board->injectFault({FaultKind::kNoReply});
    std::uint16_t value = 0xDEAD;
    const Micros start = world.now();
    EXPECT_EQ(u_GetPort(0, 3, &value), XFER_FAIL);
    EXPECT_EQ(msSince(start), 250.0);
    EXPECT_EQ(value, 0) << "the zeroed reply buffer, not stack bytes";
#ifndef _WIN32
    // Hosts without GetLastError read the code from errno as the export returns.
    EXPECT_EQ(errno, 997);
    EXPECT_EQ(world.getLastError(), 997u);
#endif
}

TEST_F(PortCommands, CallsWithNowhereToPutTheResultAreRefusedWithoutIo) {
    EXPECT_EQ(u_GetPort(0, 3, nullptr), XFER_FAIL);
    EXPECT_EQ(u_GetStatus(0, nullptr), 0);
    EXPECT_TRUE(received().empty());
}

TEST_F(PortCommands, StatusReadsPortsThreeTwoAndFourInThatOrder) {
    std::uint8_t flags[4];
    EXPECT_EQ(u_GetStatus(0, flags), 1);
    ASSERT_EQ(received().size(), 3u);
    EXPECT_EQ(sent(0)[3], 3);
    EXPECT_EQ(sent(1)[3], 2);
    EXPECT_EQ(sent(2)[3], 4);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sent(i)[0], CMD_PORT);
        EXPECT_EQ(sent(i)[1], DIR_GET);
    }
}

TEST_F(PortCommands, StatusFlagsComeFromTheirBits) {
    struct Case {
        std::uint16_t port3, port2, port4;
        std::uint8_t flags[4];
    } const cases[] = {
        {0x0000, 0x2010, 0x0010, {1, 1, 1, 0}},
        {0x0080, 0x0000, 0x0000, {0, 0, 0, 1}},
        {0xFF7F, 0xDFEF, 0xFFEF, {1, 0, 0, 1}},  // the other bits do not count
        {0x0080, 0x0010, 0x0010, {0, 1, 0, 0}},
    };
    for (const auto& c : cases) {
        firmware->ports[3] = c.port3;
        firmware->ports[2] = c.port2;
        firmware->ports[4] = c.port4;
        std::uint8_t flags[4] = {7, 7, 7, 7};
        EXPECT_EQ(u_GetStatus(0, flags), 1);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(flags[i], c.flags[i]) << "flag " << i << " of ports " << c.port3 << ", "
                                            << c.port2 << ", " << c.port4;
    }
}

TEST_F(PortCommands, StatusIsOneForThreeFullReadsTwoForThreeShortOnesAndZeroOtherwise) {
    const Bytes full = {0, 0, 0}, cut = {0, 0};
    struct Case {
        Bytes port3, port2, port4;
        int result;
    } const cases[] = {
        {full, full, full, 1},
        {cut, cut, cut, 2},
        {full, cut, full, 0},
        {cut, full, full, 0},
        {full, full, cut, 0},
    };
    for (const auto& c : cases) {
        firmware->script[CMD_PORT] = {c.port3, c.port2, c.port4};
        std::uint8_t flags[4];
        EXPECT_EQ(u_GetStatus(0, flags), c.result);
    }
}

TEST_F(PortCommands, StatusStillReadsEveryPortAfterAFailedRead) {
    board->injectFault({FaultKind::kNoReply});
    firmware->ports[4] = 0x0000;
    std::uint8_t flags[4] = {7, 7, 7, 7};
    EXPECT_EQ(u_GetStatus(0, flags), 0);
    EXPECT_EQ(received().size(), 3u);
    EXPECT_EQ(flags[3], 1) << "the flags of the later reads are still written";
}

TEST_F(PortCommands, FifoResetPulsesTheResetBitsLowForFiftyMilliseconds) {
    firmware->ports[3] = 0x00A2;
    const Micros start = world.now();
    EXPECT_EQ(u_ResetFIFO(0), 1);
    EXPECT_EQ(msSince(start), 100.0) << "50 ms low, then 50 ms to settle";
    ASSERT_EQ(received().size(), 3u);
    EXPECT_EQ(sent(0)[1], DIR_GET);
    EXPECT_EQ(sent(1)[1], DIR_SET);
    EXPECT_EQ(sent(1)[3], 3);
    EXPECT_EQ(Written(sent(1)), 0x00A0);
    EXPECT_EQ(received()[1].at, start);
    EXPECT_EQ(Written(sent(2)), 0x00A3);
    EXPECT_EQ(received()[2].at, start + 50 * kMs);
    EXPECT_EQ(firmware->ports[3], 0x00A3);
}

TEST_F(PortCommands, FifoResetSkipsTheWritesWhenPort3CouldNotBeRead) {
    // Writing back a value that was never read would clobber port 3's other bits.
    for (const Fault fault : {Fault{FaultKind::kNoReply}, Fault{FaultKind::kShortReply, 2}}) {
        board->clearReceived();
        firmware->ports[3] = 0x00A2;
        board->injectFault(fault);
        const Micros start = world.now();
        EXPECT_EQ(u_ResetFIFO(0), 0);
        EXPECT_EQ(received().size(), 1u) << "the read only";
        EXPECT_EQ(firmware->ports[3], 0x00A2);
        const double readMs = fault.kind == FaultKind::kNoReply ? 250.0 : 0.0;
        EXPECT_EQ(msSince(start), readMs + 100.0) << "both sleeps are kept";
    }
}

TEST_F(PortCommands, FifoResetStillSetsTheBitsAfterAFailedFirstWrite) {
    firmware->ports[3] = 0x00A2;
    board->injectFault(NoFault());
    board->injectFault({FaultKind::kRefuseWrite, platform::kErrorGenFailure});
    EXPECT_EQ(u_ResetFIFO(0), 0);
    ASSERT_EQ(received().size(), 2u) << "the read and the second write";
    EXPECT_EQ(Written(sent(1)), 0x00A3);
}

TEST_F(PortCommands, CaptureEnableSetsAndClearsBitFiveOnly) {
    struct Case {
        int (*operation)(std::uint16_t);
        std::uint16_t before, after;
    } const cases[] = {
        {commands::EnableCapture, 0x0003, 0x0023},
        {commands::DisableCapture, 0x0023, 0x0003},
        {commands::EnableCapture, 0xFFDF, 0xFFFF},
        {commands::DisableCapture, 0xFFFF, 0xFFDF},
        {commands::EnableCapture, 0x0020, 0x0020},
    };
    for (const auto& c : cases) {
        board->clearReceived();
        firmware->ports[3] = c.before;
        const Micros start = world.now();
        EXPECT_EQ(c.operation(0), 1);
        ASSERT_EQ(received().size(), 2u);
        EXPECT_EQ(sent(1)[3], 3);
        EXPECT_EQ(Written(sent(1)), c.after);
        EXPECT_EQ(msSince(start), 0.0) << "no sleep of its own";
    }
}

TEST_F(PortCommands, CaptureEnableWritesNothingWithoutAFullRead) {
    for (auto* operation : {commands::EnableCapture, commands::DisableCapture}) {
        board->clearReceived();
        firmware->script[CMD_PORT].push_back({0, 3});
        EXPECT_EQ(operation(0), 0);
        EXPECT_EQ(received().size(), 1u);
    }
}

TEST_F(PortCommands, CaptureEnableReportsAFailedWrite) {
    firmware->ports[3] = 0x0003;
    board->injectFault(NoFault());
    board->injectFault({FaultKind::kRefuseWrite, platform::kErrorGenFailure});
    EXPECT_EQ(commands::EnableCapture(0), 0);
}

TEST_F(PortCommands, AnIndexWithoutABoardFailsEveryPortCommand) {
    std::uint16_t value = 0;
    std::uint8_t flags[4];
    EXPECT_EQ(u_SetPort(31, 3, 1), 0);
    EXPECT_EQ(u_GetPort(31, 3, &value), XFER_FAIL);
    EXPECT_EQ(u_GetStatus(31, flags), 0);
    EXPECT_EQ(u_ResetFIFO(31), 0);
    EXPECT_TRUE(received().empty());
}

}  // namespace
}  // namespace tarvex::testing
