// The emulated world's own services: clock, events and waits, last-error code, message boxes.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "emulated_world_fixture.h"

namespace tarvex::emulated::testing {
namespace {

TEST(EmulatedTime, AWaitOnAnUnsignalledEventTimesOutAfterExactlyItsTimeOut) {
    World world;
    world.sleep(7);
    Handle event = world.createEvent(false, false);
    world.setLastError(1234);
    EXPECT_EQ(world.waitForSingleObject(event, 250), kWaitTimeout);
    EXPECT_EQ(world.now(), 257 * kMs);
    EXPECT_EQ(world.getLastError(), 1234u);  // a time-out is no error
    EXPECT_EQ(world.waitForSingleObject(event, 0), kWaitTimeout);
    EXPECT_EQ(world.now(), 257 * kMs);
}

TEST(EmulatedTime, AnAutoResetEventGivesItsSignalToOneWait) {
    World world;
    Handle event = world.createEvent(false, true);
    EXPECT_EQ(world.waitForSingleObject(event, 0), kWaitObject0);
    EXPECT_EQ(world.waitForSingleObject(event, 0), kWaitTimeout);
    EXPECT_EQ(world.now(), 0u);
}

TEST(EmulatedTime, AManualResetEventStaysSignalledUntilReset) {
    World world;
    Handle event = world.createEvent(true, true);
    EXPECT_EQ(world.waitForSingleObject(event, 0), kWaitObject0);
    EXPECT_EQ(world.waitForSingleObject(event, 0), kWaitObject0);
    world.setLastError(77);
    EXPECT_TRUE(world.resetEvent(event));
    EXPECT_EQ(world.getLastError(), 77u);
    EXPECT_EQ(world.waitForSingleObject(event, 10), kWaitTimeout);
    EXPECT_TRUE(world.closeHandle(event));
    EXPECT_EQ(world.getLastError(), 77u);
    EXPECT_EQ(world.openHandleCount(), 0u);
}

TEST(EmulatedTime, CreatingAnEventClearsTheLastErrorAndCanBeMadeToFail) {
    World world;
    world.setLastError(5);
    Handle first = world.createEvent(false, false);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(world.getLastError(), 0u);

    world.failEventCreation(2);
    EXPECT_EQ(world.createEvent(false, false), nullptr);
    EXPECT_EQ(world.getLastError(), kErrorNotEnoughMemory);
    EXPECT_EQ(world.createEvent(true, false), nullptr);
    Handle later = world.createEvent(false, false);
    EXPECT_NE(later, nullptr);
    EXPECT_NE(later, first);
    EXPECT_EQ(world.openHandleCount(), 2u);
}

TEST(EmulatedTime, SleepsRunScheduledActionsInTimeOrderAndStopAtTheirEnd) {
    World world;
    std::vector<std::string> ran;
    world.schedule(30 * kMs, [&] { ran.push_back("30a@" + std::to_string(world.now())); });
    world.schedule(10 * kMs, [&] { ran.push_back("10@" + std::to_string(world.now())); });
    world.schedule(30 * kMs, [&] { ran.push_back("30b@" + std::to_string(world.now())); });
    world.schedule(80 * kMs, [&] { ran.push_back("80"); });
    world.sleep(50);
    EXPECT_EQ(ran, (std::vector<std::string>{"10@10000", "30a@30000", "30b@30000"}));
    EXPECT_EQ(world.now(), 50 * kMs);
    world.advance(30);
    EXPECT_EQ(ran.size(), 4u);
    EXPECT_EQ(world.nowMs(), 80.0);
}

TEST(EmulatedTime, AnEndlessWaitThatNothingCanEndFailsInsteadOfHanging) {
    World world;
    Handle event = world.createEvent(false, false);
    EXPECT_EQ(world.waitForSingleObject(event, kInfinite), kWaitFailed);
    EXPECT_EQ(world.getLastError(), 1131u);  // ERROR_POSSIBLE_DEADLOCK
}

TEST(EmulatedTime, AWaitRunsTheHappeningsDueBeforeItsDeadline) {
    World world;
    Handle event = world.createEvent(false, false);
    bool ran = false;
    world.schedule(100 * kMs, [&] { ran = true; });
    world.schedule(300 * kMs, [&] { FAIL() << "ran past the deadline"; });
    EXPECT_EQ(world.waitForSingleObject(event, 250), kWaitTimeout);
    EXPECT_TRUE(ran);
    EXPECT_EQ(world.now(), 250 * kMs);
}

TEST(EmulatedTime, AWaitOnSomethingThatIsNotAnOpenEventFails) {
    World world;
    Handle closed = world.createEvent(false, true);
    world.closeHandle(closed);
    world.plugBoard(std::make_unique<ScriptedFirmware>());
    Handle file = world.createFile((world.interfacePath(1) + "\\MCHP_EP1").c_str(), kGenericRead,
                                   0, kOpenExisting, kFileFlagOverlapped);
    ASSERT_NE(file, invalidHandle());
    for (Handle h : {Handle{nullptr}, invalidHandle(), closed, file}) {
        world.setLastError(0);
        EXPECT_EQ(world.waitForSingleObject(h, 100), kWaitFailed);
        EXPECT_EQ(world.getLastError(), kErrorInvalidHandle);
    }
    EXPECT_EQ(world.now(), 0u);
}

TEST(EmulatedTime, TheLastErrorCodeBelongsToTheThread) {
    World world;
    world.setLastError(42);
    std::uint32_t seenByOther = 1;
    std::thread other([&] {
        seenByOther = world.getLastError();
        world.setLastError(99);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(world.getLastError(), 42u);
}

TEST(EmulatedTime, RealTimeSleepsTakeAboutAsLongAsTheySay) {
    World world(ClockMode::kRealTime);
    auto start = std::chrono::steady_clock::now();
    world.sleep(30);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(30));
    EXPECT_GE(world.now(), 30 * kMs);
}

TEST(EmulatedTime, AMessageBoxIsRecordedAndAnsweredOk) {
    World world;
    EXPECT_EQ(world.messageBox("text", "caption", kMbOk | kMbIconInformation), 1);  // IDOK
    ASSERT_EQ(world.messageBoxes().size(), 1u);
    EXPECT_EQ(world.messageBoxes()[0].text, "text");
    EXPECT_EQ(world.messageBoxes()[0].caption, "caption");
    EXPECT_EQ(world.messageBoxes()[0].style, kMbOk | kMbIconInformation);
    EXPECT_EQ(world.now(), 0u);
}

}  // namespace
}  // namespace tarvex::emulated::testing
