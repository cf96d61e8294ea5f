// Overlapped requests, events and waits of the libusb backend, through the seam itself: what the
// pipe layer builds its timed transfers on.
#include <thread>

#include "libusb/libusb_fixture.h"

namespace tarvex::libusbtest {
namespace {

using namespace std::chrono_literals;
using platform::Handle;
using platform::Overlapped;

class LibusbOverlapped : public LibusbTest {
protected:
    void SetUp() override {
        LibusbTest::SetUp();
        board = &plugBoard();
        const std::string pipe = interfacePaths().at(0) + "\\MCHP_EP1";
        in = os().createFile(pipe.c_str(), platform::kGenericRead, 0, platform::kOpenExisting,
                             platform::kFileFlagOverlapped | platform::kFileAttributeNormal);
        ASSERT_NE(in, platform::invalidHandle());
        record.event = os().createEvent(false, false);
        ASSERT_NE(record.event, nullptr);
    }
    void TearDown() override {
        os().closeHandle(record.event);
        if (in != platform::invalidHandle()) os().closeHandle(in);
        LibusbTest::TearDown();
    }
    // Starts a read of 64 bytes that the board has not answered yet.
    void startRead() {
        EXPECT_FALSE(os().readFile(in, buffer, sizeof buffer, &count, &record));
        EXPECT_EQ(lastError(), platform::kErrorIoPending);
    }

    EmulatedUsbDevice* board = nullptr;
    Handle in = platform::invalidHandle();
    Overlapped record{};
    std::uint8_t buffer[64] = {};
    std::uint32_t count = 99;
};

TEST_F(LibusbOverlapped, AReadPendsUntilTheBoardAnswersAndSignalsItsEvent) {
    startRead();
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(os().waitForSingleObject(record.event, 50), platform::kWaitTimeout);
    board->queueReply({5, 6, 7});
    EXPECT_EQ(os().waitForSingleObject(record.event, 2000), platform::kWaitObject0);
    EXPECT_TRUE(os().getOverlappedResult(in, &record, &count, false));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(record.internalHigh, 3u);
    // An auto-reset event is consumed by the wait that saw it.
    EXPECT_EQ(os().waitForSingleObject(record.event, 0), platform::kWaitTimeout);
}

TEST_F(LibusbOverlapped, TheOutcomeOfARunningRequestIsIncompleteUnlessWaitedFor) {
    Stopwatch watch;
    board->queueReply({1, 2, 3, 4}, 150);
    startRead();
    EXPECT_FALSE(os().getOverlappedResult(in, &record, &count, false));
    EXPECT_EQ(lastError(), platform::kErrorIoIncomplete);

    EXPECT_TRUE(os().getOverlappedResult(in, &record, &count, true));
    EXPECT_GE(watch.elapsedMs(), 150.0);
    EXPECT_EQ(count, 4u);
}

TEST_F(LibusbOverlapped, CancelEndsTheRequestBeforeItReturnsAndKeepsTheLastError) {
    startRead();
    os().setLastError(4242);
    EXPECT_TRUE(os().cancelIo(in));
    // Ended already: the record no longer reads STATUS_PENDING.
    EXPECT_NE(record.internal, 0x103u);
    EXPECT_EQ(lastError(), 4242u);
    EXPECT_EQ(board->discardedRequests(), 1);
    EXPECT_EQ(board->pendingReads(), 0u);
    EXPECT_EQ(os().waitForSingleObject(record.event, 0), platform::kWaitObject0);
    EXPECT_FALSE(os().getOverlappedResult(in, &record, &count, false));
    EXPECT_EQ(lastError(), platform::kErrorOperationAborted);
    EXPECT_EQ(count, 0u);
}

TEST_F(LibusbOverlapped, CancelLeavesTheRequestsOfOtherThreads) {
    std::uint32_t otherWait = 0;
    std::uint32_t otherCount = 0;
    std::thread other([&] {
        Overlapped own{};
        own.event = os().createEvent(false, false);
        std::uint8_t data[8];
        os().readFile(in, data, sizeof data, nullptr, &own);
        otherWait = os().waitForSingleObject(own.event, 3000);
        os().getOverlappedResult(in, &own, &otherCount, true);
        os().closeHandle(own.event);
    });
    for (int i = 0; i < 2000 && board->pendingReads() == 0; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(board->pendingReads(), 1u);
    EXPECT_TRUE(os().cancelIo(in));
    EXPECT_EQ(board->discardedRequests(), 0);
    board->queueReply({1, 2});
    other.join();
    EXPECT_EQ(otherWait, platform::kWaitObject0);
    EXPECT_EQ(otherCount, 2u);
}

TEST_F(LibusbOverlapped, ClosingAHandleEndsItsRequestAndReleasesTheInterface) {
    startRead();
    EXPECT_TRUE(os().closeHandle(in));
    in = platform::invalidHandle();
    EXPECT_EQ(board->discardedRequests(), 1);
    EXPECT_EQ(os().waitForSingleObject(record.event, 0), platform::kWaitObject0);
    EXPECT_FALSE(board->interfaceClaimed());
}

TEST_F(LibusbOverlapped, AReadWithoutATransferRecordBlocksUntilItEnds) {
    Stopwatch watch;
    board->queueReply({8, 9}, 100);
    EXPECT_TRUE(os().readFile(in, buffer, sizeof buffer, &count, nullptr));
    EXPECT_GE(watch.elapsedMs(), 100.0);
    EXPECT_EQ(count, 2u);
}

TEST_F(LibusbOverlapped, EventsKeepOrConsumeTheirSignalAndAClosedOneFailsTheWait) {
    Handle manual = os().createEvent(true, true);
    EXPECT_EQ(os().waitForSingleObject(manual, 0), platform::kWaitObject0);
    EXPECT_EQ(os().waitForSingleObject(manual, 0), platform::kWaitObject0);
    EXPECT_TRUE(os().resetEvent(manual));
    Stopwatch watch;
    EXPECT_EQ(os().waitForSingleObject(manual, 60), platform::kWaitTimeout);
    EXPECT_GE(watch.elapsedMs(), 59.0);
    EXPECT_TRUE(os().closeHandle(manual));
    EXPECT_EQ(os().waitForSingleObject(manual, 0), platform::kWaitFailed);
    EXPECT_EQ(lastError(), platform::kErrorInvalidHandle);
    EXPECT_FALSE(os().resetEvent(manual));
    EXPECT_FALSE(os().closeHandle(manual));
}

TEST_F(LibusbOverlapped, HandlesAreNeverHandedOutTwice) {
    Handle first = os().createEvent(false, false);
    os().closeHandle(first);
    Handle second = os().createEvent(false, false);
    EXPECT_NE(first, second);
    EXPECT_FALSE(os().closeHandle(first));
    EXPECT_TRUE(os().closeHandle(second));
}

TEST_F(LibusbOverlapped, APathOfNoPresentDeviceIsNotFound) {
    for (const char* name :
         {"\\\\?\\usb#vid_04d8&pid_0030#1-7#{5354fa28-6d14-4e35-a1f5-75bb54e6030f}",
          "\\\\?\\usb#vid_04d8&pid_0031#1-2#{5354fa28-6d14-4e35-a1f5-75bb54e6030f}",
          "\\\\?\\usb#vid_04d8&pid_0030#1-2", "COM1"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(os().createFile(name, platform::kGenericRead, 0, platform::kOpenExisting, 0),
                  platform::invalidHandle());
        EXPECT_EQ(lastError(), platform::kErrorFileNotFound);
    }
}

}  // namespace
}  // namespace tarvex::libusbtest
