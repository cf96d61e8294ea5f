// Pipe access: opening pipes, the timed transfer's outcomes, closing.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>

#include "support/board_fixture.h"
#include "support/stdout_capture.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using emulated::DeviceIdentity;
using emulated::Fault;
using emulated::FaultKind;
using emulated::InterfaceId;
using platform::Handle;

constexpr const char* kBoard = TARVEX_BOARD_VID_PID;
constexpr const char* kPipe = TARVEX_BOARD_PIPE;

// A 64-byte packet the firmware answers with pattern(20) (or what the test sets).
const Bytes kGetPacket = commandPacket(CMD_SYSTEM, DIR_GET);

class Pipe : public EmulatedBoardTest {
protected:
    Pipe() { firmware->standing[CMD_SYSTEM] = pattern(20); }
    // Writes a packet the board answers, so a reply waits on the read pipe.
    void askForReply(Handle out) {
        ASSERT_EQ(MPUSBWrite(out, kGetPacket.data(), 64, nullptr, 250), 1u);
    }
};

TEST_F(Pipe, OpenRefusesABadDirectionOrNoVendorProductWithoutLookingAtDevices) {
    EXPECT_EQ(MPUSBOpen(0, kBoard, kPipe, 2, 0), platform::invalidHandle());
    EXPECT_EQ(MPUSBOpen(0, kBoard, kPipe, 0xFFFFFFFF, 0), platform::invalidHandle());
    EXPECT_EQ(MPUSBOpen(0, nullptr, kPipe, PIPE_READ, 0), platform::invalidHandle());
    EXPECT_TRUE(spy.calls.empty());
}

TEST_F(Pipe, OpenAsksForTheBoardsPipeWithTheDirectionsAccess) {
    const std::string path = world.interfacePath(world.idOf(*board));
    for (const auto& [direction, access] :
         {std::pair{PIPE_WRITE, platform::kGenericWrite}, std::pair{PIPE_READ, platform::kGenericRead}}) {
        spy.clear();
        const Handle h = openPipe(0, direction, kPipe);
        EXPECT_NE(h, platform::invalidHandle());
        const auto creates = spy.of("createFile");
        ASSERT_EQ(creates.size(), 1u);
        EXPECT_EQ(creates[0].name, path + "\\MCHP_EP1");
        EXPECT_EQ(creates[0].access, access);
        EXPECT_EQ(creates[0].share, 0u);
        EXPECT_EQ(creates[0].disposition, platform::kOpenExisting);
        EXPECT_EQ(creates[0].flags, 0x40000080u);
    }
}

TEST_F(Pipe, ANullPipeNameOpensTheBareInterfacePath) {
    openPipe(0, PIPE_READ, nullptr);
    const auto creates = spy.of("createFile");
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(creates[0].name, world.interfacePath(world.idOf(*board)));
    EXPECT_EQ(creates[0].access, platform::kGenericRead);
}

TEST_F(Pipe, OpenFailsOnAnotherDeviceOrAnEmptyIndex) {
    world.plugDevice(0x1234, 0x5678);
    EXPECT_EQ(openPipe(1, PIPE_WRITE), platform::invalidHandle());
    EXPECT_EQ(openPipe(2, PIPE_WRITE), platform::invalidHandle());
    EXPECT_EQ(spy.count("createFile"), 0u);
}

TEST_F(Pipe, ANameOf260CharactersOrMoreIsRefused) {
    // Serials that make the interface paths 250 and 251 characters long: with "\MCHP_EP1" (9)
    // the names opened are 259 and 260 characters.
    const std::size_t overhead = world.interfacePath(world.idOf(*board)).size() -
                                 board->identity().serial.size();
    DeviceIdentity fits, tooLong;
    fits.serial = std::string(250 - overhead, 'f');
    tooLong.serial = std::string(251 - overhead, 'g');
    const InterfaceId fitsId = world.idOf(world.plugBoard(nullptr, fits));
    const InterfaceId longId = world.idOf(world.plugBoard(nullptr, tooLong));
    ASSERT_EQ(world.interfacePath(fitsId).size(), 250u);
    ASSERT_EQ(world.interfacePath(longId).size(), 251u);

    spy.clear();
    EXPECT_NE(openPipe(1, PIPE_WRITE), platform::invalidHandle());
    ASSERT_EQ(spy.count("createFile"), 1u);
    EXPECT_EQ(spy.of("createFile")[0].name.size(), 259u);

    spy.clear();
    EXPECT_EQ(openPipe(2, PIPE_WRITE), platform::invalidHandle());
    EXPECT_EQ(spy.count("createFile"), 0u) << "a cut-short name is never opened";

    openPipe(2, PIPE_WRITE, nullptr);
    ASSERT_EQ(spy.count("createFile"), 1u);
    EXPECT_EQ(spy.of("createFile")[0].name, world.interfacePath(longId));
}

TEST_F(Pipe, AWriteAndARead) {
    const Handle out = openPipe(0, PIPE_WRITE), in = openPipe(0, PIPE_READ);
    std::uint32_t count = 99;
    EXPECT_EQ(MPUSBWrite(out, kGetPacket.data(), 64, &count, 250), 1u);
    EXPECT_EQ(count, 64u);
    ASSERT_EQ(board->received().size(), 1u);
    EXPECT_EQ(board->received()[0].bytes, kGetPacket);

    Bytes reply(20, 0);
    count = 99;
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, &count, 250), 1u);
    EXPECT_EQ(count, 20u);
    EXPECT_EQ(reply, pattern(20));

    const auto reads = spy.of("readFile");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].out, reply.data()) << "the reply lands straight in the caller's buffer";
    EXPECT_EQ(reads[0].length, 20u);
    EXPECT_TRUE(reads[0].overlapped);
    for (const auto& e : spy.of("createEvent")) EXPECT_EQ(e.flags, 0u) << "auto-reset, not set";
    EXPECT_EQ(spy.count("createEvent"), 2u);
    EXPECT_EQ(spy.count("cancelIo"), 0u);
}

TEST_F(Pipe, AReplyShorterThanAskedForIsASuccessWithTheSmallerCount) {
    firmware->standing[CMD_SYSTEM] = pattern(5);
    const Handle out = openPipe(0, PIPE_WRITE), in = openPipe(0, PIPE_READ);
    askForReply(out);
    Bytes reply(20, 0xEE);
    std::uint32_t count = 99;
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, &count, 250), 1u);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 5), pattern(5));
    EXPECT_EQ(Bytes(reply.begin() + 5, reply.end()), Bytes(15, 0xEE));
}

TEST_F(Pipe, TransfersWithoutACountPointerWorkTheSame) {
    const Handle out = openPipe(0, PIPE_WRITE), in = openPipe(0, PIPE_READ);
    EXPECT_EQ(MPUSBWrite(out, kGetPacket.data(), 64, nullptr, 250), 1u);
    Bytes reply(20, 0);
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, nullptr, 250), 1u);
    EXPECT_EQ(reply, pattern(20));
    firmware->interrupt = Bytes{1, 2, 3};
    EXPECT_EQ(MPUSBReadInt(in, reply.data(), 20, nullptr, 250), 1u);
    // A failure without a count pointer is a plain 0.
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, nullptr, 0), 0u);
}

TEST_F(Pipe, AReplyWithinTheTimeOutIsWaitedFor) {
    firmware->delay = 100 * kMs;
    const Handle out = openPipe(0, PIPE_WRITE), in = openPipe(0, PIPE_READ);
    askForReply(out);
    const Micros start = world.now();
    Bytes reply(20, 0);
    std::uint32_t count = 0;
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, &count, 250), 1u);
    EXPECT_EQ(count, 20u);
    EXPECT_EQ(world.now() - start, 100 * kMs);
    EXPECT_EQ(spy.count("cancelIo"), 0u);
}

TEST_F(Pipe, AReadThatTimesOutIsCancelledAndLeavesThePipeUsable) {
    const Handle out = openPipe(0, PIPE_WRITE), in = openPipe(0, PIPE_READ);
    Bytes reply(20, 0xEE);
    std::uint32_t count = 99;
    StdoutCapture output;
    const Micros start = world.now();
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, &count, 250), 0u);
    EXPECT_EQ(world.now() - start, 250 * kMs) << "exactly the time-out";
    EXPECT_EQ(lastError(), platform::kErrorIoPending) << "not ERROR_INVALID_HANDLE";
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(reply, Bytes(20, 0xEE));
    EXPECT_EQ(spy.count("cancelIo"), 1u);
    EXPECT_EQ(world.pendingRequestCount(), 0u);
    EXPECT_EQ(output.take(), "") << "time-outs are silent";

    askForReply(out);
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, &count, 250), 1u);
    EXPECT_EQ(count, 20u);
}

TEST_F(Pipe, ATimeOutOf0FailsEveryRequestThatDoesNotCompleteAtOnce) {
    const Handle in = openPipe(0, PIPE_READ);
    Bytes reply(20, 0);
    std::uint32_t count = 99;
    const Micros start = world.now();
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, &count, 0), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(world.now(), start);
    EXPECT_EQ(lastError(), platform::kErrorIoPending);
    EXPECT_EQ(spy.count("cancelIo"), 1u);
}

TEST_F(Pipe, AWriteThatNeverCompletesTimesOut) {
    board->injectFault(Fault{FaultKind::kStallWrite});
    const Handle out = openPipe(0, PIPE_WRITE);
    std::uint32_t count = 99;
    const Micros start = world.now();
    EXPECT_EQ(MPUSBWrite(out, kGetPacket.data(), 64, &count, 250), 0u);
    EXPECT_EQ(world.now() - start, 250 * kMs);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(lastError(), platform::kErrorIoPending);
}

TEST_F(Pipe, ARequestRefusedAtOnceLeavesItsOwnCode) {
    board->injectFault(Fault{FaultKind::kRefuseWrite, platform::kErrorGenFailure});
    const Handle out = openPipe(0, PIPE_WRITE);
    std::uint32_t count = 99;
    const Micros start = world.now();
    EXPECT_EQ(MPUSBWrite(out, kGetPacket.data(), 64, &count, 250), 0u);
    EXPECT_EQ(lastError(), platform::kErrorGenFailure)
        << "the cancel and the release of the event leave the refusing code";
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(world.now(), start);
    EXPECT_EQ(spy.count("cancelIo"), 1u);
    EXPECT_EQ(spy.count("waitForSingleObject"), 0u);
}

TEST_F(Pipe, EndOfDataNeitherWaitsNorCancels) {
    board->armEndOfData();
    const Handle in = openPipe(0, PIPE_READ);
    Bytes reply(20, 0);
    std::uint32_t count = 99;
    const Micros start = world.now();
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, &count, 250), 0u);
    EXPECT_EQ(lastError(), platform::kErrorHandleEof);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(world.now(), start);
    EXPECT_EQ(spy.count("cancelIo"), 0u);
    EXPECT_EQ(spy.count("waitForSingleObject"), 0u);
}

TEST_F(Pipe, ARequestThatEndsInFailurePrintsItsCode) {
    const Handle in = openPipe(0, PIPE_READ);
    world.schedule(world.now() + 100 * kMs, [&] { world.unplug(*board); });
    Bytes reply(20, 0xEE);
    std::uint32_t count = 99;
    StdoutCapture output;
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, &count, 250), 0u);
    const std::uint32_t code = lastError();
    EXPECT_NE(code, platform::kErrorIoPending);
    EXPECT_NE(code, 0u);
    EXPECT_EQ(output.take(), "Error: " + std::to_string(code)) << "no line end";
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(spy.count("cancelIo"), 0u) << "the request has ended; nothing to cancel";
}

TEST_F(Pipe, AFailedWaitCancelsTheRequestAndLeavesTheWaitsCode) {
    const Handle in = openPipe(0, PIPE_READ);
    world.failEventCreation(1);
    Bytes reply(20, 0xEE);
    std::uint32_t count = 99;
    StdoutCapture output;
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, &count, 250), 0u);
    EXPECT_EQ(count, 0u);
    const auto waits = spy.of("waitForSingleObject");
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_EQ(waits[0].handle, nullptr) << "the event could not be created";
    EXPECT_EQ(lastError(), platform::kErrorInvalidHandle) << "what the wait on no event left";
    EXPECT_EQ(spy.count("cancelIo"), 1u);
    EXPECT_EQ(spy.count("closeHandle"), 0u) << "no event to release";
    EXPECT_EQ(output.take(), "");
}

TEST_F(Pipe, ACancelledReadThatCompletesLateHasEndedBeforeTheCallReturns) {
    // The reply is ready 120 ms after the request, the read gives up at 100 ms, and the cancel
    // takes 50 ms: the request wins the race and completes with data, before the call returns.
    world.setCancelLatency(50 * kMs);
    firmware->delay = 120 * kMs;
    const Handle out = openPipe(0, PIPE_WRITE), in = openPipe(0, PIPE_READ);
    askForReply(out);

    auto reply = std::make_unique<Bytes>(20, 0xEE);
    std::uint32_t count = 99;
    EXPECT_EQ(MPUSBRead(in, reply->data(), 20, &count, 100), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(lastError(), platform::kErrorIoPending);
    EXPECT_EQ(world.pendingRequestCount(), 0u) << "nothing runs on after the call";
    const auto settles = spy.of("getOverlappedResult");
    ASSERT_EQ(settles.size(), 1u);
    EXPECT_TRUE(settles[0].wait);

    const Bytes atReturn = *reply;
    world.advance(1000);
    EXPECT_EQ(*reply, atReturn);
    EXPECT_EQ(count, 0u);
    reply.reset();  // a late write into freed memory would show under the sanitizers
    world.advance(1000);
}

TEST_F(Pipe, AnInterruptReadIsAControlRequest) {
    firmware->interrupt = Bytes{7, 8, 9};
    const Handle in = openPipe(0, PIPE_READ);
    Bytes data(16, 0);
    std::uint32_t count = 99;
    EXPECT_EQ(MPUSBReadInt(in, data.data(), 16, &count, 250), 1u);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 3), (Bytes{7, 8, 9}));
    const auto controls = spy.of("deviceIoControl");
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].code, 0x00226018u);
    EXPECT_TRUE(controls[0].in.empty());
    EXPECT_EQ(controls[0].length, 16u);
    EXPECT_TRUE(controls[0].overlapped);
}

// A transfer's event goes back to the system unsignalled, whichever way the transfer ended:
// reset, then closed, once each.
TEST_F(Pipe, EveryEventIsResetBeforeItIsClosed) {
    const Handle out = openPipe(0, PIPE_WRITE), in = openPipe(0, PIPE_READ);
    Bytes reply(20, 0);
    askForReply(out);                                                // done at once
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, nullptr, 250), 1u);    // waited for
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, nullptr, 250), 0u);    // timed out, cancelled
    EXPECT_EQ(MPUSBReadInt(in, nullptr, 16, nullptr, 250), 0u);      // refused before a request
    board->armEndOfData();
    EXPECT_EQ(MPUSBRead(in, reply.data(), 20, nullptr, 250), 0u);    // ended at once
    board->injectFault(Fault{FaultKind::kRefuseWrite, platform::kErrorGenFailure});
    EXPECT_EQ(MPUSBWrite(out, kGetPacket.data(), 64, nullptr, 250), 0u);  // refused at once

    std::map<Handle, bool> live;  // events created and not closed yet: whether reset since
    for (const Call& c : spy.calls) {
        if (c.op == "createEvent") {
            EXPECT_TRUE(live.emplace(c.handle, false).second) << "an event still open";
        } else if (c.op == "resetEvent" && live.count(c.handle)) {
            EXPECT_FALSE(live[c.handle]) << "reset twice";
            live[c.handle] = true;
        } else if (c.op == "closeHandle" && live.count(c.handle)) {
            EXPECT_TRUE(live[c.handle]) << "closed without a reset";
            live.erase(c.handle);
        }
    }
    EXPECT_EQ(spy.count("createEvent"), 6u);
    EXPECT_TRUE(live.empty()) << "an event was never closed";
}

TEST_F(Pipe, AnInterruptReadIntoNoBufferIsRefusedWithoutARequest) {
    const Handle in = openPipe(0, PIPE_READ);
    spy.clear();
    std::uint32_t count = 99;
    EXPECT_EQ(MPUSBReadInt(in, nullptr, 16, &count, 250), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(lastError(), platform::kErrorNoAccess);
    EXPECT_EQ(spy.count("deviceIoControl"), 0u);
    EXPECT_EQ(spy.count("createEvent"), 1u);
    EXPECT_EQ(spy.count("closeHandle"), 1u) << "the event is released on this path too";
}

TEST_F(Pipe, AReadOrWriteOfBytesThatAreNotThereIsRefusedWithoutARequest) {
    const Handle out = openPipe(0, PIPE_WRITE), in = openPipe(0, PIPE_READ);
    spy.clear();
    std::uint32_t count = 99;
    EXPECT_EQ(MPUSBWrite(out, nullptr, 64, &count, 250), 0u);
    EXPECT_EQ(lastError(), platform::kErrorNoAccess);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(MPUSBRead(in, nullptr, 20, &count, 250), 0u);
    EXPECT_EQ(lastError(), platform::kErrorNoAccess);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(spy.count("writeFile") + spy.count("readFile"), 0u);
    EXPECT_TRUE(board->received().empty());
}

enum class Op { kRead, kWrite, kReadInt };
const char* nameOf(Op op) { return op == Op::kRead ? "Read" : op == Op::kWrite ? "Write" : "ReadInt"; }
void PrintTo(Op op, std::ostream* os) { *os << nameOf(op); }

std::uint32_t transfer(Op op, Handle h, std::uint32_t* count) {
    static std::uint8_t data[64];
    switch (op) {
        case Op::kRead: return MPUSBRead(h, data, 20, count, 250);
        case Op::kWrite: return MPUSBWrite(h, data, 64, count, 250);
        case Op::kReadInt: return MPUSBReadInt(h, data, 20, count, 250);
    }
    return 99;
}

class PipeOnNoHandle : public Pipe, public ::testing::WithParamInterface<Op> {};

TEST_P(PipeOnNoHandle, ATransferOnAHandleThatIsNotOpenFailsWithInvalidHandle) {
    const Handle closed = MPUSBOpen(0, kBoard, kPipe, PIPE_READ, 0);
    ASSERT_EQ(MPUSBClose(closed), 1);
    for (Handle h : {closed, Handle{nullptr}, platform::invalidHandle()}) {
        spy.clear();
        std::uint32_t count = 99;
        const Micros start = world.now();
        EXPECT_EQ(transfer(GetParam(), h, &count), 0u);
        EXPECT_EQ(lastError(), platform::kErrorInvalidHandle);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(world.now(), start) << "refused at once, no wait";
        EXPECT_FALSE(spy.sawInvalidHandle()) << "\"no handle\" is never handed to the platform";
    }
    EXPECT_TRUE(board->received().empty());
}

INSTANTIATE_TEST_SUITE_P(AllTransfers, PipeOnNoHandle,
                         ::testing::Values(Op::kRead, Op::kWrite, Op::kReadInt),
                         [](const auto& info) { return std::string(nameOf(info.param)); });

TEST_F(Pipe, Close) {
    spy.clear();
    EXPECT_EQ(MPUSBClose(platform::invalidHandle()), 1);
    EXPECT_EQ(spy.count("closeHandle"), 0u);

    EXPECT_EQ(MPUSBClose(nullptr), 0);
    EXPECT_EQ(lastError(), platform::kErrorInvalidHandle);

    const Handle h = MPUSBOpen(0, kBoard, kPipe, PIPE_WRITE, 0);
    ASSERT_NE(h, platform::invalidHandle());
    EXPECT_EQ(MPUSBClose(h), 1);
    EXPECT_EQ(MPUSBClose(h), 0) << "already closed";
    EXPECT_EQ(lastError(), platform::kErrorInvalidHandle);
}

}  // namespace
}  // namespace tarvex::testing
