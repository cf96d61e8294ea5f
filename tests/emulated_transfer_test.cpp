// Overlapped requests on an emulated board's data pipe: completion, pending, cancels, the
// outcome in the transfer record, and requests on handles that are not open.
#include <cstring>

#include "emulated_world_fixture.h"

namespace tarvex::emulated::testing {
namespace {

using Transfers = BoardTest;

TEST_F(Transfers, AWriteCompletesAtOnceAndTheBoardReceivesTheExactBytes) {
    world.sleep(12);
    Bytes p = setPacket(0xF0, 3);
    p[40] = 0x77;  // bytes a command leaves untouched still travel
    Handle event = world.createEvent(false, false);
    Overlapped ov = record(event);
    std::uint32_t written = 99;
    ASSERT_TRUE(world.writeFile(out, p.data(), 64, &written, &ov));
    EXPECT_EQ(written, 64u);
    EXPECT_EQ(ov.internalHigh, 64u);
    EXPECT_TRUE(eventSignalled(event));
    ASSERT_EQ(board->received().size(), 1u);
    EXPECT_EQ(board->received()[0].bytes, p);
    EXPECT_EQ(board->received()[0].at, 12 * kMs);
    EXPECT_EQ(board->lastPacket(), p);
}

TEST_F(Transfers, AReadOfAReadyReplyCompletesAtOnce) {
    Bytes p = getPacket();
    send(p);
    Handle event = world.createEvent(false, false);
    Overlapped ov = record(event);
    std::uint8_t buffer[3] = {};
    std::uint32_t count = 0;
    ASSERT_TRUE(world.readFile(in, buffer, 3, &count, &ov));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(ov.internalHigh, 3u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), replyTo(p, 3));
    EXPECT_TRUE(eventSignalled(event));
    EXPECT_EQ(world.pendingRequestCount(), 0u);
}

TEST_F(Transfers, AReadWaitsForTheReplyAndFillsTheBufferOnlyWhenItCompletes) {
    board->setLatency(2 * kMs);
    firmware->delay = 3 * kMs;
    Bytes p = getPacket();
    send(p);
    Handle event = world.createEvent(false, false);
    Overlapped ov = record(event);
    std::uint8_t buffer[3] = {0xEE, 0xEE, 0xEE};
    std::uint32_t count = 7;
    EXPECT_FALSE(world.readFile(in, buffer, 3, &count, &ov));
    EXPECT_EQ(world.getLastError(), kErrorIoPending);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(world.pendingRequestCount(), 1u);
    EXPECT_FALSE(world.getOverlappedResult(in, &ov, &count, false));
    EXPECT_EQ(world.getLastError(), kErrorIoIncomplete);
    EXPECT_EQ(Bytes(buffer, buffer + 3), Bytes(3, 0xEE));

    EXPECT_EQ(world.waitForSingleObject(event, 250), kWaitObject0);
    EXPECT_EQ(world.now(), 5 * kMs);
    EXPECT_EQ(Bytes(buffer, buffer + 3), replyTo(p, 3));
    ASSERT_TRUE(world.getOverlappedResult(in, &ov, &count, false));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(world.pendingRequestCount(), 0u);
}

TEST_F(Transfers, AReplyLongerThanTheReadIsCutToTheRead) {
    firmware->answer = echoing(20);
    Bytes p = getPacket();
    send(p);
    std::uint8_t buffer[8] = {};
    std::uint32_t count = 0;
    ASSERT_TRUE(world.readFile(in, buffer, 2, &count, nullptr));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(Bytes(buffer, buffer + 2), replyTo(p, 2));
    EXPECT_EQ(buffer[2], 0);
}

TEST_F(Transfers, RepliesComeInTheOrderOfTheirRequestsAndALateOneHoldsBackTheNext) {
    firmware->answer = echoing(4);  // byte 3, the selector, tells the replies apart
    Bytes first = getPacket(0xF0, 1), second = getPacket(0xF0, 2);
    board->injectFault({FaultKind::kLateReply, 30});
    send(first);
    world.sleep(10);
    send(second);
    std::uint8_t a[4], b[4];
    std::uint32_t count = 0;
    ASSERT_TRUE(world.readFile(in, a, 4, &count, nullptr));
    EXPECT_EQ(world.now(), 30 * kMs);
    ASSERT_TRUE(world.readFile(in, b, 4, &count, nullptr));
    EXPECT_EQ(world.now(), 30 * kMs);
    EXPECT_EQ(Bytes(a, a + 4), replyTo(first, 4));
    EXPECT_EQ(Bytes(b, b + 4), replyTo(second, 4));
}

TEST_F(Transfers, GetOverlappedResultWithWaitAdvancesToTheCompletion) {
    board->setLatency(40 * kMs);
    send(getPacket());
    Overlapped ov = record(world.createEvent(false, false));
    std::uint8_t buffer[3];
    ASSERT_FALSE(world.readFile(in, buffer, 3, nullptr, &ov));
    std::uint32_t count = 0;
    ASSERT_TRUE(world.getOverlappedResult(in, &ov, &count, true));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(world.now(), 40 * kMs);
    EXPECT_FALSE(eventSignalled(ov.event));  // the wait took the auto-reset signal
}

TEST_F(Transfers, GetOverlappedResultWithWaitOnARequestThatCanNeverEndFails) {
    Overlapped ov = record(world.createEvent(false, false));
    std::uint8_t buffer[3];
    ASSERT_FALSE(world.readFile(in, buffer, 3, nullptr, &ov));
    std::uint32_t count = 5;
    EXPECT_FALSE(world.getOverlappedResult(in, &ov, &count, true));
    EXPECT_EQ(world.getLastError(), 1131u);
    EXPECT_EQ(world.pendingRequestCount(), 1u);
}

TEST_F(Transfers, ACancelEndsAPendingReadAtOnceAndTheLateReplyWaitsForTheNextRead) {
    board->setLatency(100 * kMs);
    Bytes p = getPacket();
    send(p);
    Handle event = world.createEvent(false, false);
    Overlapped ov = record(event);
    std::uint8_t buffer[3] = {0xEE, 0xEE, 0xEE};
    ASSERT_FALSE(world.readFile(in, buffer, 3, nullptr, &ov));
    EXPECT_EQ(world.waitForSingleObject(event, 50), kWaitTimeout);
    world.setLastError(kErrorIoPending);
    ASSERT_TRUE(world.cancelIo(in));
    EXPECT_EQ(world.getLastError(), kErrorIoPending);  // a cancel that works leaves it alone
    EXPECT_EQ(world.pendingRequestCount(), 0u);
    EXPECT_TRUE(eventSignalled(event));
    std::uint32_t count = 9;
    EXPECT_FALSE(world.getOverlappedResult(in, &ov, &count, false));
    EXPECT_EQ(world.getLastError(), kErrorOperationAborted);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), Bytes(3, 0xEE));

    std::uint8_t next[3];
    ASSERT_TRUE(world.readFile(in, next, 3, &count, nullptr));
    EXPECT_EQ(world.now(), 100 * kMs);
    EXPECT_EQ(Bytes(next, next + 3), replyTo(p, 3));
}

TEST_F(Transfers, ACancelWithLatencyEndsTheRequestLater) {
    world.setCancelLatency(8 * kMs);
    Handle event = world.createEvent(false, false);
    Overlapped ov = record(event);
    std::uint8_t buffer[3];
    ASSERT_FALSE(world.readFile(in, buffer, 3, nullptr, &ov));
    ASSERT_TRUE(world.cancelIo(in));
    EXPECT_EQ(world.pendingRequestCount(), 1u);
    std::uint32_t count = 0;
    EXPECT_FALSE(world.getOverlappedResult(in, &ov, &count, false));
    EXPECT_EQ(world.getLastError(), kErrorIoIncomplete);
    EXPECT_EQ(world.waitForSingleObject(event, kInfinite), kWaitObject0);
    EXPECT_EQ(world.now(), 8 * kMs);
    EXPECT_FALSE(world.getOverlappedResult(in, &ov, &count, false));
    EXPECT_EQ(world.getLastError(), kErrorOperationAborted);
}

TEST_F(Transfers, ACancelCanLoseTheRaceToAReplyThatArrivesFirst) {
    world.setCancelLatency(10 * kMs);
    board->setLatency(20 * kMs);
    Bytes p = getPacket();
    send(p);
    Overlapped ov = record(world.createEvent(false, false));
    std::uint8_t buffer[3] = {};
    ASSERT_FALSE(world.readFile(in, buffer, 3, nullptr, &ov));
    world.sleep(15);
    ASSERT_TRUE(world.cancelIo(in));  // takes effect at 25 ms; the reply is ready at 20 ms
    std::uint32_t count = 0;
    ASSERT_TRUE(world.getOverlappedResult(in, &ov, &count, true));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(world.now(), 20 * kMs);
    EXPECT_EQ(Bytes(buffer, buffer + 3), replyTo(p, 3));
}

TEST_F(Transfers, ARequestThatEndsAfterItsEventWasClosedJustEnds) {
    world.setCancelLatency(5 * kMs);
    Handle event = world.createEvent(false, false);
    Overlapped ov = record(event);
    std::uint8_t buffer[3];
    ASSERT_FALSE(world.readFile(in, buffer, 3, nullptr, &ov));
    world.cancelIo(in);
    world.closeHandle(event);
    world.sleep(10);
    EXPECT_EQ(world.pendingRequestCount(), 0u);
    EXPECT_EQ(ov.internalHigh, 0u);
    std::uint32_t count = 0;
    EXPECT_FALSE(world.getOverlappedResult(in, &ov, &count, false));
    EXPECT_EQ(world.getLastError(), kErrorOperationAborted);
}

TEST_F(Transfers, ClosingAPipeCancelsWhatIsPendingOnIt) {
    Overlapped ov = record(world.createEvent(false, false));
    std::uint8_t buffer[3];
    ASSERT_FALSE(world.readFile(in, buffer, 3, nullptr, &ov));
    ASSERT_TRUE(world.closeHandle(in));
    EXPECT_EQ(world.pendingRequestCount(), 0u);
    EXPECT_TRUE(eventSignalled(ov.event));
    std::uint32_t count = 0;
    EXPECT_FALSE(world.getOverlappedResult(in, &ov, &count, false));
    EXPECT_EQ(world.getLastError(), kErrorOperationAborted);
}

TEST_F(Transfers, ASynchronousReadBlocksUntilTheReply) {
    board->setLatency(30 * kMs);
    send(getPacket());
    std::uint8_t buffer[3];
    std::uint32_t count = 0;
    ASSERT_TRUE(world.readFile(in, buffer, 3, &count, nullptr));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(world.now(), 30 * kMs);
}

TEST_F(Transfers, ASynchronousReadThatCanNeverCompleteFailsInsteadOfHanging) {
    std::uint8_t buffer[3];
    std::uint32_t count = 0;
    EXPECT_FALSE(world.readFile(in, buffer, 3, &count, nullptr));
    EXPECT_EQ(world.getLastError(), 1131u);
    EXPECT_EQ(world.pendingRequestCount(), 0u);
}

TEST_F(Transfers, ARequestWithATransferRecordOnAHandleNotOpenedOverlappedBlocks) {
    Handle plain = openPipe(kGenericRead, /*overlapped=*/false);
    board->setLatency(20 * kMs);
    send(getPacket());
    Handle event = world.createEvent(false, false);
    Overlapped ov = record(event);
    std::uint8_t buffer[3];
    std::uint32_t count = 0;
    ASSERT_TRUE(world.readFile(plain, buffer, 3, &count, &ov));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(world.now(), 20 * kMs);
    EXPECT_TRUE(eventSignalled(event));
}

TEST_F(Transfers, ASynchronousRequestNeedsACountPointer) {
    send(getPacket());
    std::uint8_t buffer[3];
    EXPECT_FALSE(world.readFile(in, buffer, 3, nullptr, nullptr));
    EXPECT_EQ(world.getLastError(), kErrorInvalidParameter);
    Bytes p = setPacket();
    EXPECT_FALSE(world.writeFile(out, p.data(), 64, nullptr, nullptr));
    EXPECT_EQ(world.getLastError(), kErrorInvalidParameter);
    EXPECT_EQ(board->received().size(), 1u);
}

TEST_F(Transfers, EachPipeMovesDataOneWayOnly) {
    Bytes p = getPacket();
    std::uint8_t buffer[3];
    std::uint32_t count = 0;
    Overlapped ov = record(nullptr);
    EXPECT_FALSE(world.writeFile(in, p.data(), 64, &count, &ov));
    EXPECT_EQ(world.getLastError(), kErrorAccessDenied);
    EXPECT_FALSE(world.readFile(out, buffer, 3, &count, &ov));
    EXPECT_EQ(world.getLastError(), kErrorAccessDenied);

    Handle bare = world.createFile(world.interfacePath(id).c_str(), kGenericRead | kGenericWrite,
                                   0, kOpenExisting, kFileFlagOverlapped);
    ASSERT_NE(bare, invalidHandle());
    EXPECT_FALSE(world.writeFile(bare, p.data(), 64, &count, &ov));
    EXPECT_EQ(world.getLastError(), 1u);  // ERROR_INVALID_FUNCTION
    EXPECT_FALSE(world.readFile(bare, buffer, 3, &count, &ov));
    EXPECT_EQ(world.getLastError(), 1u);
    EXPECT_TRUE(board->received().empty());
}

TEST_F(Transfers, RequestsOnHandlesThatAreNotOpenFailWithInvalidHandle) {
    Handle closed = openPipe(kGenericRead);
    ASSERT_TRUE(world.closeHandle(closed));
    Handle event = world.createEvent(false, false);
    std::uint8_t buffer[64] = {};
    for (Handle h : {closed, Handle{nullptr}, invalidHandle(), event,
                     reinterpret_cast<Handle>(std::uintptr_t{0x12345})}) {
        std::uint32_t count = 7;
        Overlapped ov = record(event);
        world.setLastError(0);
        EXPECT_FALSE(world.readFile(h, buffer, 3, &count, &ov));
        EXPECT_EQ(world.getLastError(), kErrorInvalidHandle);
        EXPECT_EQ(count, 0u);
        world.setLastError(0);
        EXPECT_FALSE(world.writeFile(h, buffer, 64, &count, &ov));
        EXPECT_EQ(world.getLastError(), kErrorInvalidHandle);
        world.setLastError(0);
        EXPECT_FALSE(world.deviceIoControl(h, 0x00226018, nullptr, 0, buffer, 64, &count, &ov));
        EXPECT_EQ(world.getLastError(), kErrorInvalidHandle);
        if (h != invalidHandle()) {
            world.setLastError(0);
            EXPECT_FALSE(world.cancelIo(h));
            EXPECT_EQ(world.getLastError(), kErrorInvalidHandle);
        }
    }
    EXPECT_TRUE(board->received().empty());
}

TEST_F(Transfers, ClosingFollowsWindowsForTheNullAndPseudoHandles) {
    world.setLastError(0);
    EXPECT_TRUE(world.closeHandle(invalidHandle()));
    EXPECT_TRUE(world.cancelIo(invalidHandle()));
    EXPECT_EQ(world.getLastError(), 0u);
    EXPECT_FALSE(world.closeHandle(nullptr));
    EXPECT_EQ(world.getLastError(), kErrorInvalidHandle);
    ASSERT_TRUE(world.closeHandle(out));
    world.setLastError(0);
    EXPECT_FALSE(world.closeHandle(out));
    EXPECT_EQ(world.getLastError(), kErrorInvalidHandle);
    ASSERT_TRUE(world.closeHandle(in));
    EXPECT_EQ(world.openHandleCount(), 0u);
}

}  // namespace
}  // namespace tarvex::emulated::testing
