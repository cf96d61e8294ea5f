// The data pipe through the libusb backend, driven by the pipe exports: opening and claiming,
// packets and replies, time-outs, short and long replies, stalls, an unplug in the middle of a
// read, and handles that are not open.
#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>

#include "libusb/libusb_fixture.h"

namespace tarvex::libusbtest {
namespace {

using LibusbPipe = LibusbTest;
using namespace std::chrono_literals;

constexpr std::uint32_t kErrorInvalidFunction = 1;

TEST_F(LibusbPipe, OpeningThePipesClaimsInterfaceZeroOnceAndClosingTheLastReleasesIt) {
    DeviceSpec spec;
    spec.kernelDriver = "usbtest";  // a kernel driver bound to the board's interface
    EmulatedUsbDevice& board = testbed().plug(std::move(spec));

    TARVEX_HANDLE out = openPipe(0, PIPE_WRITE);
    ASSERT_NE(out, TARVEX_INVALID_HANDLE);
    EXPECT_TRUE(board.interfaceClaimed());
    EXPECT_EQ(board.boundDriver(), "");
    EXPECT_EQ(board.driverDetaches(), 1);
    TARVEX_HANDLE in = openPipe(0, PIPE_READ);
    ASSERT_NE(in, TARVEX_INVALID_HANDLE);
    EXPECT_EQ(board.claims(), 1);

    EXPECT_EQ(MPUSBClose(out), 1);
    EXPECT_TRUE(board.interfaceClaimed());
    EXPECT_EQ(board.releases(), 0);
    EXPECT_EQ(MPUSBClose(in), 1);
    EXPECT_FALSE(board.interfaceClaimed());
    EXPECT_EQ(board.releases(), 1);
    EXPECT_EQ(board.boundDriver(), "usbtest");
    EXPECT_EQ(board.driverAttaches(), 1);
}

TEST_F(LibusbPipe, TheBareInterfaceOpensWithoutAClaimAndMovesNoData) {
    EmulatedUsbDevice& board = plugBoard(alwaysAnswering({1, 2, 3}));
    TARVEX_HANDLE bare = MPUSBOpen(0, kBoardVidPid.c_str(), nullptr, PIPE_READ, 0);
    ASSERT_NE(bare, TARVEX_INVALID_HANDLE);
    EXPECT_EQ(board.claims(), 0);

    std::uint8_t buffer[64];
    std::uint32_t count = 99;
    EXPECT_EQ(MPUSBRead(bare, buffer, sizeof buffer, &count, 100), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(lastError(), kErrorInvalidFunction);
    std::uint32_t length = 0;
    EXPECT_EQ(MPUSBGetDeviceDescriptor(bare, buffer, sizeof buffer, &length), 1u);
    EXPECT_EQ(length, 18u);
    EXPECT_EQ(MPUSBClose(bare), 1);
}

TEST_F(LibusbPipe, ABoardHeldByAnotherProgramRefusesTheOpenAsASharingViolation) {
    EmulatedUsbDevice& board = plugBoard();
    board.setHeldElsewhere(true);
    EXPECT_EQ(openPipe(0, PIPE_WRITE), TARVEX_INVALID_HANDLE);
    EXPECT_EQ(lastError(), platform::kErrorSharingViolation);

    board.setHeldElsewhere(false);
    TARVEX_HANDLE out = openPipe(0, PIPE_WRITE);
    EXPECT_NE(out, TARVEX_INVALID_HANDLE);
    MPUSBClose(out);
}

TEST_F(LibusbPipe, OnlyTheDataPipeNameOpensWhateverItsCase) {
    plugBoard();
    EXPECT_EQ(MPUSBOpen(0, kBoardVidPid.c_str(), "\\MCHP_EP2", PIPE_READ, 0),
              TARVEX_INVALID_HANDLE);
    EXPECT_EQ(lastError(), platform::kErrorFileNotFound);
    TARVEX_HANDLE in = MPUSBOpen(0, kBoardVidPid.c_str(), "\\mchp_ep1", PIPE_READ, 0);
    EXPECT_NE(in, TARVEX_INVALID_HANDLE);
    MPUSBClose(in);
}

// The port table reopens an index without closing it: the second handle must work too.
TEST_F(LibusbPipe, TwoHandlesOnTheSamePipeBothWorkAndTheClaimOutlivesTheFirst) {
    EmulatedUsbDevice& board = plugBoard();
    TARVEX_HANDLE first = openPipe(0, PIPE_WRITE);
    TARVEX_HANDLE second = openPipe(0, PIPE_WRITE);
    ASSERT_NE(first, TARVEX_INVALID_HANDLE);
    ASSERT_NE(second, TARVEX_INVALID_HANDLE);
    EXPECT_NE(first, second);
    const Bytes one = commandPacket(0xF0, 0, 1), two = commandPacket(0xF0, 0, 2);
    EXPECT_EQ(MPUSBWrite(first, one.data(), 64, nullptr, 250), 1u);
    EXPECT_EQ(MPUSBClose(first), 1);
    EXPECT_EQ(MPUSBWrite(second, two.data(), 64, nullptr, 250), 1u);
    EXPECT_EQ(board.written(), (std::vector<Bytes>{one, two}));
    EXPECT_EQ(MPUSBClose(second), 1);
    EXPECT_EQ(board.claims(), 1);
    EXPECT_EQ(board.releases(), 1);
}

class LibusbOpenPipes : public LibusbTest {
protected:
    void openBoth() {
        out = openPipe(0, PIPE_WRITE);
        in = openPipe(0, PIPE_READ);
        ASSERT_NE(out, TARVEX_INVALID_HANDLE);
        ASSERT_NE(in, TARVEX_INVALID_HANDLE);
    }
    TARVEX_HANDLE out = TARVEX_INVALID_HANDLE;
    TARVEX_HANDLE in = TARVEX_INVALID_HANDLE;
    std::uint8_t reply[64] = {};
    std::uint32_t count = 99;
};

TEST_F(LibusbOpenPipes, APacketReachesTheBoardWholeAndItsReplyIsRead) {
    EmulatedUsbDevice& board = plugBoard(answering([](const Bytes& packet) {
        Bytes answer(packet.rbegin(), packet.rend());  // the packet backwards
        return std::vector<Bytes>{answer};
    }));
    openBoth();
    Bytes packet = commandPacket(0xFA, 1, 0);
    const Bytes payload = tarvex::testing::pattern(60, 4);  // shows any byte out of place
    std::copy(payload.begin(), payload.end(), packet.begin() + 4);

    EXPECT_EQ(MPUSBWrite(out, packet.data(), 64, &count, 250), 1u);
    EXPECT_EQ(count, 64u);
    EXPECT_EQ(board.written(), std::vector<Bytes>{packet});
    EXPECT_EQ(MPUSBRead(in, reply, 64, &count, 250), 1u);
    EXPECT_EQ(count, 64u);
    EXPECT_EQ(Bytes(reply, reply + 64), Bytes(packet.rbegin(), packet.rend()));
}

TEST_F(LibusbOpenPipes, ASilentBoardTimesOutTheReadWhichIsCancelledAndThePipeStaysUsable) {
    EmulatedUsbDevice& board = plugBoard();
    openBoth();

    Stopwatch watch;
    EXPECT_EQ(MPUSBRead(in, reply, 64, &count, 100), 0u);
    const double took = watch.elapsedMs();
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(lastError(), platform::kErrorIoPending);
    EXPECT_GE(took, 100.0);
    EXPECT_LT(took, 2000.0);  // ended by the time-out, not by anything else
    EXPECT_EQ(board.discardedRequests(), 1);
    EXPECT_EQ(board.pendingReads(), 0u);

    board.queueReply({1, 2, 3});
    EXPECT_EQ(MPUSBRead(in, reply, 3, &count, 250), 1u);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(Bytes(reply, reply + 3), (Bytes{1, 2, 3}));
}

TEST_F(LibusbOpenPipes, AZeroTimeOutFailsAReadThatCannotEndAtOnce) {
    EmulatedUsbDevice& board = plugBoard();
    openBoth();
    EXPECT_EQ(MPUSBRead(in, reply, 64, &count, 0), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(lastError(), platform::kErrorIoPending);
    EXPECT_EQ(board.pendingReads(), 0u);
}

TEST_F(LibusbOpenPipes, AShortReplyCompletesTheReadWithItsCount) {
    plugBoard(alwaysAnswering({9, 8, 7, 6, 5}));
    openBoth();
    const Bytes packet = commandPacket(0xF0, 1, 3);
    ASSERT_EQ(MPUSBWrite(out, packet.data(), 64, nullptr, 250), 1u);
    EXPECT_EQ(MPUSBRead(in, reply, 64, &count, 250), 1u);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(Bytes(reply, reply + 5), (Bytes{9, 8, 7, 6, 5}));
}

// A board may pad every reply to a whole packet: the read takes the packet and hands over the
// bytes asked for, and the padding does not spill into the next read.
TEST_F(LibusbOpenPipes, AReplyLongerThanTheReadIsCutToTheBytesAskedFor) {
    Bytes padded(64, 0x55);
    padded[0] = 0x01;
    EmulatedUsbDevice& board = plugBoard(alwaysAnswering(padded));
    openBoth();
    const Bytes packet = commandPacket(0xF0, 1, 3);
    ASSERT_EQ(MPUSBWrite(out, packet.data(), 64, nullptr, 250), 1u);
    std::uint8_t three[8] = {0, 0, 0, 0xEE, 0xEE};
    EXPECT_EQ(MPUSBRead(in, three, 3, &count, 250), 1u);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(Bytes(three, three + 5), (Bytes{0x01, 0x55, 0x55, 0xEE, 0xEE}));

    board.queueReply({4, 2});
    EXPECT_EQ(MPUSBRead(in, reply, 64, &count, 250), 1u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(Bytes(reply, reply + 2), (Bytes{4, 2}));
}

// After an overflow or a transaction error the data toggles of host and board can disagree, and
// the board's next packet be dropped as a repeat: the next read clears the halt first.
struct ReadFailure {
    const char* name;
    int status;            // how the kernel ends the read
    std::uint32_t error;   // what the library reports
};

void PrintTo(const ReadFailure& failure, std::ostream* out) { *out << failure.name; }

class LibusbReadFailure : public LibusbOpenPipes,
                          public ::testing::WithParamInterface<ReadFailure> {};

TEST_P(LibusbReadFailure, TheReadFailsAndTheNextOneGetsTheBoardsReply) {
    EmulatedUsbDevice& board = plugBoard();
    openBoth();
    board.failNextRead(GetParam().status);
    board.queueReply({9, 9});
    StdoutCapture output;
    EXPECT_EQ(MPUSBRead(in, reply, 64, &count, 250), 0u);
    EXPECT_EQ(output.take(), "Error: " + std::to_string(GetParam().error));
    EXPECT_EQ(lastError(), GetParam().error);

    board.queueReply({4, 2});
    EXPECT_EQ(MPUSBRead(in, reply, 64, &count, 250), 1u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(board.clearedHalts(), std::vector<std::uint8_t>{0x81});
}

INSTANTIATE_TEST_SUITE_P(LibusbReadFailures, LibusbReadFailure,
                         ::testing::Values(ReadFailure{"Overflow", -EOVERFLOW, 234},
                                           ReadFailure{"TransactionError", -EPROTO, 31}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LibusbOpenPipes, AStalledReadFailsAndTheNextReadClearsTheHaltFirst) {
    EmulatedUsbDevice& board = plugBoard();
    openBoth();
    board.stallNextRead();
    StdoutCapture output;
    EXPECT_EQ(MPUSBRead(in, reply, 64, &count, 250), 0u);
    EXPECT_EQ(output.take(), "Error: 31");
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(lastError(), platform::kErrorGenFailure);
    EXPECT_TRUE(board.clearedHalts().empty());

    board.queueReply({4, 2});
    EXPECT_EQ(MPUSBRead(in, reply, 64, &count, 250), 1u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(board.clearedHalts(), std::vector<std::uint8_t>{0x81});
}

TEST_F(LibusbOpenPipes, AnUnplugInTheMiddleOfAReadFailsItAsDeviceNotConnected) {
    EmulatedUsbDevice& board = plugBoard();
    openBoth();
    std::thread unplugger([&] {
        std::this_thread::sleep_for(100ms);
        testbed().unplug(board);
    });
    Stopwatch watch;
    StdoutCapture output;
    const std::uint32_t result = MPUSBRead(in, reply, 64, &count, 10000);
    const std::uint32_t error = lastError();
    const double took = watch.elapsedMs();
    unplugger.join();
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(output.take(), "Error: 1167");
    EXPECT_EQ(error, platform::kErrorDeviceNotConnected);
    EXPECT_EQ(count, 0u);
    EXPECT_LT(took, 5000.0);  // ended by the unplug, long before the time-out

    // The handles stay handles: their requests fail as the device's, and they close.
    const Bytes packet = commandPacket(0xF0, 1, 3);
    EXPECT_EQ(MPUSBWrite(out, packet.data(), 64, &count, 250), 0u);
    EXPECT_EQ(lastError(), platform::kErrorDeviceNotConnected);
    EXPECT_EQ(MPUSBClose(out), 1);
    EXPECT_EQ(MPUSBClose(in), 1);
    out = in = TARVEX_INVALID_HANDLE;
    EXPECT_EQ(MPUSBGetDeviceCount(kBoardVidPid.c_str()), 0u);
}

// On a real controller an unplug usually ends the transfer in flight with a transaction error
// before the kernel sees the device go: the board no longer answers, and is reported gone.
TEST_F(LibusbOpenPipes, ATransactionErrorFromABoardThatNoLongerAnswersIsDeviceNotConnected) {
    EmulatedUsbDevice& board = plugBoard();
    openBoth();
    std::thread unplugger([&] {
        std::this_thread::sleep_for(100ms);
        board.breakLink();
    });
    StdoutCapture output;
    const std::uint32_t result = MPUSBRead(in, reply, 64, &count, 10000);
    const std::uint32_t error = lastError();
    unplugger.join();
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(output.take(), "Error: 1167");
    EXPECT_EQ(error, platform::kErrorDeviceNotConnected);
    const std::vector<SetupPacket> asked = board.controlRequests();
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back().request, 0);  // GET_STATUS: are you there?
}

TEST_F(LibusbOpenPipes, ClosedAndUnknownHandlesFailWithInvalidHandle) {
    plugBoard();
    openBoth();
    ASSERT_EQ(MPUSBClose(out), 1);
    const Bytes packet = commandPacket(0xF0, 1, 3);
    EXPECT_EQ(MPUSBWrite(out, packet.data(), 64, &count, 250), 0u);
    EXPECT_EQ(lastError(), platform::kErrorInvalidHandle);
    EXPECT_EQ(MPUSBClose(out), 0);
    EXPECT_EQ(lastError(), platform::kErrorInvalidHandle);
    out = TARVEX_INVALID_HANDLE;

    for (TARVEX_HANDLE handle : {TARVEX_HANDLE{nullptr}, reinterpret_cast<TARVEX_HANDLE>(0x1235)}) {
        EXPECT_EQ(MPUSBRead(handle, reply, 64, &count, 250), 0u);
        EXPECT_EQ(lastError(), platform::kErrorInvalidHandle);
    }
}

TEST_F(LibusbOpenPipes, EachPipeMovesOnlyItsOwnDirection) {
    plugBoard();
    openBoth();
    const Bytes packet = commandPacket(0xF0, 1, 3);
    EXPECT_EQ(MPUSBWrite(in, packet.data(), 64, &count, 250), 0u);
    EXPECT_EQ(lastError(), platform::kErrorAccessDenied);
    EXPECT_EQ(MPUSBRead(out, reply, 64, &count, 250), 0u);
    EXPECT_EQ(lastError(), platform::kErrorAccessDenied);
}

// The interrupt read takes the IN endpoint's own type: usbdevfs refuses an interrupt request on
// a bulk endpoint, where Windows moves both kinds alike.
class LibusbInterruptRead : public LibusbTest, public ::testing::WithParamInterface<PipeType> {};

TEST_P(LibusbInterruptRead, TheInterruptReadUsesTheEndpointsOwnTransferType) {
    DeviceSpec spec;
    spec.inType = GetParam();
    EmulatedUsbDevice& board = testbed().plug(std::move(spec));
    TARVEX_HANDLE in = openPipe(0, PIPE_READ);
    ASSERT_NE(in, TARVEX_INVALID_HANDLE);
    board.queueReply({0x11, 0x22});
    std::uint8_t data[8] = {};
    std::uint32_t count = 0;
    EXPECT_EQ(MPUSBReadInt(in, data, sizeof data, &count, 250), 1u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(data[1], 0x22);
    const std::uint8_t urbType = GetParam() == PipeType::kBulk ? 3 : 1;  // USBDEVFS_URB_TYPE_*
    EXPECT_EQ(board.readRequestTypes(), std::vector<std::uint8_t>{urbType});
    EXPECT_EQ(MPUSBClose(in), 1);
}

INSTANTIATE_TEST_SUITE_P(LibusbEndpointTypes, LibusbInterruptRead,
                         ::testing::Values(PipeType::kBulk, PipeType::kInterrupt),
                         [](const auto& info) {
                             return info.param == PipeType::kBulk ? "Bulk" : "Interrupt";
                         });

}  // namespace
}  // namespace tarvex::libusbtest
