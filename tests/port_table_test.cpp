// The port table: opening and closing board indexes, the send and send-and-receive primitives,
// and which failures drop a row.
//
// The table lives for the whole process, so each test opens the rows it uses and closes them
// again; tests about rows never opened each use a row no other test touches.
#include <gtest/gtest.h>

#include <string>

#include "support/board_fixture.h"
#include "support/stdout_capture.h"
#include "port/port_table.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using emulated::Fault;
using emulated::FaultKind;
using platform::Handle;
using port::inPipeOf;
using port::outPipeOf;

// A packet of the system command whose selector byte tells the packets apart.
Bytes systemPacket(std::uint8_t direction, std::uint8_t tag) {
    return commandPacket(CMD_SYSTEM, direction, tag);
}

class PortTable : public EmulatedBoardTest {
protected:
    PortTable() { firmware->standing[CMD_SYSTEM] = pattern(20); }
    void openRow(std::uint32_t index) {
        ASSERT_EQ(openPort(index), 1);
        spy.clear();
    }
    int sendReceive(std::uint32_t index, Bytes& reply, std::uint32_t& replyLength,
                    std::uint32_t writeTimeout = 250, std::uint32_t readTimeout = 250) {
        const Bytes packet = systemPacket(DIR_GET, 0x11);
        return SendReceiveUSBPacket(index, packet.data(), 64, reply.data(), &replyLength,
                                    writeTimeout, readTimeout);
    }
    int send(std::uint32_t index) {
        const Bytes packet = systemPacket(DIR_SET, 0x22);
        return SendUSBPacket(index, packet.data(), 64, 250);
    }
    bool rowOpen(std::uint32_t index) {
        return outPipeOf(index) != platform::invalidHandle() && outPipeOf(index) != nullptr &&
               inPipeOf(index) != platform::invalidHandle() && inPipeOf(index) != nullptr;
    }
    bool rowInvalid(std::uint32_t index) {
        return outPipeOf(index) == platform::invalidHandle() &&
               inPipeOf(index) == platform::invalidHandle();
    }
};

TEST_F(PortTable, OpeningAnIndexOpensTheBoardsWriteAndReadPipes) {
    ASSERT_EQ(openPort(0), 1);
    EXPECT_TRUE(rowOpen(0));
    EXPECT_NE(outPipeOf(0), inPipeOf(0));
    const auto creates = spy.of("createFile");
    ASSERT_EQ(creates.size(), 2u);
    const std::string pipe = world.interfacePath(world.idOf(*board)) + "\\MCHP_EP1";
    EXPECT_EQ(creates[0].name, pipe);
    EXPECT_EQ(creates[0].access, platform::kGenericWrite);
    EXPECT_EQ(creates[1].name, pipe);
    EXPECT_EQ(creates[1].access, platform::kGenericRead);
}

TEST_F(PortTable, OpeningAnOpenIndexAgainReplacesItsPipes) {
    world.setExclusiveOpen(true);  // a second open of a pipe still open would be refused
    openRow(0);
    const Handle firstOut = outPipeOf(0);
    EXPECT_EQ(OpenUSBPort(0), 1);
    EXPECT_TRUE(rowOpen(0));
    EXPECT_NE(outPipeOf(0), firstOut);
    EXPECT_EQ(world.openHandleCount(), 2u) << "the first pair was closed, not leaked";
    EXPECT_EQ(send(0), 1);
    EXPECT_EQ(CloseUSBPort(0), 1);
    EXPECT_EQ(world.openHandleCount(), 0u);
}

TEST_F(PortTable, AClosedIndexRefusesTransfersAndASecondClose) {
    openRow(0);
    EXPECT_EQ(CloseUSBPort(0), 1);
    EXPECT_TRUE(rowInvalid(0));
    EXPECT_EQ(world.openHandleCount(), 0u);

    spy.clear();
    EXPECT_EQ(CloseUSBPort(0), 1) << "nothing left to close";
    EXPECT_EQ(send(0), 0);
    Bytes reply(20, 0);
    std::uint32_t replyLength = 20;
    EXPECT_EQ(sendReceive(0, reply, replyLength), XFER_FAIL);
    EXPECT_EQ(replyLength, 20u);
    EXPECT_EQ(spy.fileCalls() + spy.count("closeHandle"), 0u) << "the closed handles are never used";
    EXPECT_TRUE(board->received().empty());
}

TEST_F(PortTable, AnIndexWithoutABoardFailsToOpenAndRefusesTransfers) {
    world.plugDevice(0x1234, 0x5678);  // member index 1: another vendor's device
    for (std::uint32_t index : {1u, 5u}) {
        EXPECT_EQ(openPort(index), 0) << index;
        EXPECT_TRUE(rowInvalid(index)) << index;
        spy.clear();
        EXPECT_EQ(send(index), 0);
        Bytes reply(20, 0);
        std::uint32_t replyLength = 20;
        EXPECT_EQ(sendReceive(index, reply, replyLength), XFER_FAIL);
        EXPECT_EQ(replyLength, 20u) << "a refused index leaves the expected length";
        EXPECT_EQ(spy.fileCalls(), 0u);
        EXPECT_EQ(CloseUSBPort(index), 1);
    }
}

// Each half is opened whatever became of the other, so the row records which half failed.
TEST_F(PortTable, AHalfOpenRowRefusesTransfersAndClosesItsOpenHalf) {
    world.setExclusiveOpen(true);  // the pipe the host holds cannot be opened again
    for (const std::uint32_t held : {PIPE_READ, PIPE_WRITE}) {
        SCOPED_TRACE(held == PIPE_READ ? "the host holds the read pipe" : "... the write pipe");
        const Handle hostsPipe = MPUSBOpen(0, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, held, 0);
        ASSERT_NE(hostsPipe, platform::invalidHandle());
        spy.clear();
        EXPECT_EQ(openPort(0), 0);
        EXPECT_EQ(spy.count("createFile"), 2u) << "both halves were tried";
        EXPECT_EQ(outPipeOf(0) == platform::invalidHandle(), held == PIPE_WRITE);
        EXPECT_EQ(inPipeOf(0) == platform::invalidHandle(), held == PIPE_READ);

        spy.clear();
        EXPECT_EQ(send(0), 0);
        Bytes reply(20, 0);
        std::uint32_t replyLength = 20;
        EXPECT_EQ(sendReceive(0, reply, replyLength), XFER_FAIL);
        EXPECT_EQ(replyLength, 20u);
        EXPECT_EQ(spy.fileCalls(), 0u);

        EXPECT_EQ(CloseUSBPort(0), 1);
        EXPECT_TRUE(rowInvalid(0));
        EXPECT_EQ(world.openHandleCount(), 1u) << "only the host's own pipe is left";
        EXPECT_EQ(MPUSBClose(hostsPipe), 1);
    }
}

TEST_F(PortTable, ANeverOpenedRowFailsInThePipeLayerOnceAndIsThenRefused) {
    // Row 29 is not used by any other test.
    ASSERT_EQ(outPipeOf(29), nullptr);
    ASSERT_EQ(inPipeOf(29), nullptr);
    EXPECT_EQ(send(29), 0);
    const auto writes = spy.of("writeFile");
    ASSERT_EQ(writes.size(), 1u) << "the zero handle reaches the pipe layer";
    EXPECT_EQ(writes[0].handle, nullptr);
    EXPECT_TRUE(rowInvalid(29));

    spy.clear();
    EXPECT_EQ(send(29), 0);
    EXPECT_EQ(spy.fileCalls(), 0u);
}

TEST_F(PortTable, ANeverOpenedRowFailsASendReceiveInTheWrite) {
    // Row 28 is not used by any other test.
    ASSERT_EQ(outPipeOf(28), nullptr);
    Bytes reply(20, 0xEE);
    std::uint32_t replyLength = 20;
    EXPECT_EQ(sendReceive(28, reply, replyLength), XFER_FAIL);
    EXPECT_EQ(replyLength, 20u) << "a failed write keeps the expected length";
    EXPECT_EQ(spy.count("readFile"), 0u);
    EXPECT_TRUE(rowInvalid(28));
}

TEST_F(PortTable, ClosingANeverOpenedRowFails) {
    // Row 27 is not used by any other test.
    ASSERT_EQ(outPipeOf(27), nullptr);
    EXPECT_EQ(CloseUSBPort(27), 0) << "the system does not close the zero handle";
    EXPECT_TRUE(rowInvalid(27));
    EXPECT_EQ(CloseUSBPort(27), 1);
}

TEST_F(PortTable, SendWritesThePacketOnTheWritePipe) {
    openRow(0);
    EXPECT_EQ(send(0), 1);
    ASSERT_EQ(board->received().size(), 1u);
    EXPECT_EQ(board->received()[0].bytes, systemPacket(DIR_SET, 0x22));
    const auto writes = spy.of("writeFile");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].handle, outPipeOf(0));
    EXPECT_EQ(spy.count("readFile"), 0u);
}

TEST_F(PortTable, AReplyOfTheExpectedLengthIsOk) {
    openRow(0);
    Bytes reply(20, 0);
    std::uint32_t replyLength = 20;
    EXPECT_EQ(sendReceive(0, reply, replyLength), XFER_OK);
    EXPECT_EQ(replyLength, 20u);
    EXPECT_EQ(reply, pattern(20));
    ASSERT_EQ(board->received().size(), 1u);
    EXPECT_EQ(board->received()[0].bytes, systemPacket(DIR_GET, 0x11));
    const auto reads = spy.of("readFile");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].handle, inPipeOf(0));
    EXPECT_EQ(reads[0].out, reply.data()) << "straight into the caller's buffer";
    EXPECT_EQ(reads[0].length, 20u);
}

TEST_F(PortTable, AShorterReplyIsShortWithTheCountReceived) {
    openRow(0);
    for (std::size_t n : {5u, 0u}) {
        firmware->standing[CMD_SYSTEM] = pattern(n);
        Bytes reply(20, 0xEE);
        std::uint32_t replyLength = 20;
        EXPECT_EQ(sendReceive(0, reply, replyLength), XFER_SHORT) << n;
        EXPECT_EQ(replyLength, n);
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + n), pattern(n));
        EXPECT_EQ(Bytes(reply.begin() + n, reply.end()), Bytes(20 - n, 0xEE));
        EXPECT_TRUE(rowOpen(0));
    }
}

TEST_F(PortTable, AReadThatTimesOutLeavesTheRowUsable) {
    openRow(0);
    const Handle out = outPipeOf(0), in = inPipeOf(0);
    board->injectFault(Fault{FaultKind::kNoReply});
    Bytes reply(20, 0);
    std::uint32_t replyLength = 20;
    const Micros start = world.now();
    EXPECT_EQ(sendReceive(0, reply, replyLength, 250, 120), XFER_FAIL);
    EXPECT_EQ(world.now() - start, 120 * kMs) << "the write completes at once, the read waits";
    EXPECT_EQ(replyLength, 0u);
    EXPECT_EQ(outPipeOf(0), out);
    EXPECT_EQ(inPipeOf(0), in);

    replyLength = 20;
    EXPECT_EQ(sendReceive(0, reply, replyLength), XFER_OK) << "the next transfer is attempted";
    EXPECT_EQ(replyLength, 20u);
}

TEST_F(PortTable, AWriteThatTimesOutKeepsTheExpectedLengthAndTheRow) {
    openRow(0);
    const Handle out = outPipeOf(0);
    board->injectFault(Fault{FaultKind::kStallWrite});
    Bytes reply(20, 0);
    std::uint32_t replyLength = 20;
    const Micros start = world.now();
    EXPECT_EQ(sendReceive(0, reply, replyLength, 70, 250), XFER_FAIL);
    EXPECT_EQ(world.now() - start, 70 * kMs);
    EXPECT_EQ(replyLength, 20u);
    EXPECT_EQ(spy.count("readFile"), 0u) << "no read after a failed write";
    EXPECT_EQ(outPipeOf(0), out);
    EXPECT_EQ(send(0), 1);
}

TEST_F(PortTable, OnlyAnInvalidHandleDropsTheRow) {
    struct Case {
        std::uint32_t code;
        bool dropped;
    };
    for (const Case c : {Case{platform::kErrorGenFailure, false},
                         Case{platform::kErrorAccessDenied, false},
                         Case{platform::kErrorInvalidHandle, true}}) {
        openRow(0);
        const Handle out = outPipeOf(0);
        board->injectFault(Fault{FaultKind::kRefuseWrite, c.code});
        EXPECT_EQ(send(0), 0) << c.code;
        EXPECT_EQ(world.getLastError(), c.code);
        if (c.dropped) {
            EXPECT_TRUE(rowInvalid(0));
            EXPECT_EQ(world.openHandleCount(), 0u) << "both pipes were closed";
        } else {
            EXPECT_EQ(outPipeOf(0), out) << c.code;
            EXPECT_EQ(send(0), 1) << c.code;
        }
        CloseUSBPort(0);
    }
}

TEST_F(PortTable, AnUnpluggedBoardDropsTheRowOnlyIfItsHandlesReportInvalidHandle) {
    // With the driver's usual code for a device that has gone, the row stays as it was.
    openRow(0);
    const Handle out = outPipeOf(0);
    world.unplug(*board);
    EXPECT_EQ(send(0), 0);
    EXPECT_EQ(world.getLastError(), world.vanishedError());
    EXPECT_EQ(outPipeOf(0), out);
    CloseUSBPort(0);

    // A driver that reports ERROR_INVALID_HANDLE makes the row drop; then no I/O is attempted.
    world.setVanishedError(platform::kErrorInvalidHandle);
    world.replug(world.idOf(*board));
    openRow(0);
    world.unplug(*board);
    EXPECT_EQ(send(0), 0);
    EXPECT_TRUE(rowInvalid(0));
    EXPECT_EQ(world.openHandleCount(), 0u);
    spy.clear();
    EXPECT_EQ(send(0), 0);
    EXPECT_EQ(spy.fileCalls(), 0u);
}

TEST_F(PortTable, AReadEndedByInvalidHandleDropsTheRowAndReportsNoBytes) {
    world.setVanishedError(platform::kErrorInvalidHandle);
    firmware->delay = 100 * kMs;
    openRow(0);
    world.schedule(world.now() + 50 * kMs, [&] { world.unplug(*board); });
    Bytes reply(20, 0);
    std::uint32_t replyLength = 20;
    StdoutCapture output;
    EXPECT_EQ(sendReceive(0, reply, replyLength), XFER_FAIL);
    EXPECT_EQ(output.take(), "Error: 6");
    EXPECT_EQ(replyLength, 0u);
    EXPECT_TRUE(rowInvalid(0));
    EXPECT_EQ(world.openHandleCount(), 0u);
}

TEST_F(PortTable, OnlyTheLow16BitsOfTheIndexCount) {
    EXPECT_EQ(openPort(0x10000), 1);
    EXPECT_TRUE(rowOpen(0));
    EXPECT_EQ(spy.of("enumDeviceInterfaces").at(0).length, 0u) << "member index 0";
    EXPECT_EQ(send(0x10000), 1);
    Bytes reply(20, 0);
    std::uint32_t replyLength = 20;
    EXPECT_EQ(sendReceive(0x30000, reply, replyLength), XFER_OK);
    EXPECT_EQ(board->received().size(), 2u);
    EXPECT_EQ(CloseUSBPort(0x10000), 1);
    EXPECT_TRUE(rowInvalid(0));
}

TEST_F(PortTable, IndexesOutsideTheTableAreRefusedWithoutIo) {
    // Put a board at member index 32, so an open that went ahead would succeed.
    for (int i = 0; i < 31; ++i) world.plugDevice(0x1234, 0x5678);
    world.plugBoard(std::make_unique<ScriptedFirmware>());
    spy.clear();
    for (std::uint32_t index : {32u, 33u, 1000u, 0xFFFFu, 0x1FFFFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(OpenUSBPort(index), 0) << index;
        EXPECT_EQ(CloseUSBPort(index), 0) << index;
        EXPECT_EQ(send(index), 0) << index;
        Bytes reply(20, 0);
        std::uint32_t replyLength = 20;
        EXPECT_EQ(sendReceive(index, reply, replyLength), XFER_FAIL) << index;
        EXPECT_EQ(replyLength, 20u);
        EXPECT_EQ(outPipeOf(index), platform::invalidHandle());
    }
    EXPECT_TRUE(spy.calls.empty()) << "nothing reached the platform";
}

TEST_F(PortTable, MissingBuffersAreRefusedWithoutIo) {
    openRow(0);
    const Bytes packet = systemPacket(DIR_GET, 0x33);
    Bytes reply(20, 0);
    std::uint32_t replyLength = 20;

    EXPECT_EQ(SendReceiveUSBPacket(0, packet.data(), 64, reply.data(), nullptr, 250, 250),
              XFER_FAIL);
    EXPECT_EQ(SendReceiveUSBPacket(0, nullptr, 64, reply.data(), &replyLength, 250, 250),
              XFER_FAIL);
    EXPECT_EQ(replyLength, 20u);
    EXPECT_EQ(SendReceiveUSBPacket(0, packet.data(), 64, nullptr, &replyLength, 250, 250),
              XFER_FAIL);
    EXPECT_EQ(replyLength, 20u);
    EXPECT_EQ(SendUSBPacket(0, nullptr, 64, 250), 0);
    EXPECT_EQ(spy.fileCalls(), 0u);
    EXPECT_TRUE(board->received().empty());
    EXPECT_TRUE(rowOpen(0));

    // No data and no length is nothing missing: the empty write goes ahead.
    EXPECT_EQ(SendUSBPacket(0, nullptr, 0, 250), 1);
    EXPECT_EQ(spy.count("writeFile"), 1u);
}

TEST_F(PortTable, TheTimeOutsArePassedOnUnchanged) {
    openRow(0);
    board->injectFault(Fault{FaultKind::kStallWrite});
    EXPECT_EQ(SendUSBPacket(0, systemPacket(DIR_SET, 0).data(), 64, 17), 0);
    firmware->delay = 500 * kMs;
    Bytes reply(20, 0);
    std::uint32_t replyLength = 20;
    EXPECT_EQ(sendReceive(0, reply, replyLength, 250, 33), XFER_FAIL);
    const auto waits = spy.of("waitForSingleObject");
    ASSERT_EQ(waits.size(), 2u);
    EXPECT_EQ(waits[0].timeout, 17u);
    EXPECT_EQ(waits[1].timeout, 33u);
}

}  // namespace
}  // namespace tarvex::testing
