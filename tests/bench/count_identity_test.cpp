// The device count, which walks one snapshot of the interface list, counts exactly what asking
// GetInterfacePath index by index (a snapshot each) counts: with other vendors' devices among
// the boards, beyond 127 interfaces, with registry values that say otherwise, with snapshots
// that cannot be taken, and with devices plugged and unplugged between two counts.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/spy_backend.h"
#include "emulated/world.h"
#include "platform/platform.h"
#include "tarvex.h"
#include "usb/usb.h"

namespace tarvex::testing {
namespace {

using emulated::InterfaceId;
using emulated::World;

constexpr const char* kBoard = "vid_04d8&pid_0030";
constexpr const char* kOther = "vid_1234&pid_5678";

// The count as first stated: member indexes 0 to 126, each asked for on its own snapshot.
std::uint32_t countIndexByIndex(const char* vidPid) {
    std::uint32_t count = 0;
    for (std::uint32_t index = 0; index < usb::DEVICE_SCAN_COUNT; ++index)
        if (usb::GetInterfacePath(index, vidPid, nullptr, 0, nullptr) == usb::PATH_OK) ++count;
    return count;
}

// The strings a host might count by: the board's, none (every interface), the board's in
// capitals (never matches), another vendor's, and the empty string (every readable value).
const char* const kVidPids[] = {kBoard, nullptr, "VID_04D8&PID_0030", kOther, ""};

std::string named(const char* vidPid) { return vidPid ? '"' + std::string(vidPid) + '"' : "null"; }

class CountIdentity : public ::testing::Test {
protected:
    World world;
    platform::ScopedBackend use{world};

    InterfaceId plugBoard() { return world.idOf(world.plugBoard()); }
    InterfaceId plugOther() { return world.plugDevice(0x1234, 0x5678); }

    // The count for every string, against index by index and against what the test expects
    // for the board's string and for none.
    void expectCounts(std::uint32_t boards, std::uint32_t interfaces, const std::string& world) {
        EXPECT_EQ(MPUSBGetDeviceCount(kBoard), boards) << world;
        EXPECT_EQ(MPUSBGetDeviceCount(nullptr), interfaces) << world;
        for (const char* vidPid : kVidPids)
            EXPECT_EQ(MPUSBGetDeviceCount(vidPid), countIndexByIndex(vidPid))
                << world << ", counting " << named(vidPid);
        EXPECT_EQ(this->world.openHandleCount(), 0u) << "a count keeps nothing open";
    }
};

TEST_F(CountIdentity, BoardsAmongOtherVendorsDevicesAreCountedAlike) {
    expectCounts(0, 0, "no interface");
    plugOther();
    expectCounts(0, 1, "another vendor's device alone");
    plugBoard();
    expectCounts(1, 2, "another vendor's device at 0, a board at 1");
    // Up to 127 interfaces, every third (2, 5, ... 125) of another vendor besides index 0.
    for (std::uint32_t i = 2; i < usb::DEVICE_SCAN_COUNT; ++i) i % 3 == 2 ? plugOther() : plugBoard();
    expectCounts(84, 127, "127 interfaces, 43 of them another vendor's");
}

TEST_F(CountIdentity, InterfacesBeyondIndex126AreNeverCountedEitherWay) {
    for (int i = 0; i < 125; ++i) plugOther();
    plugBoard();  // 125
    plugBoard();  // 126: the last index counted
    plugBoard();  // 127
    plugBoard();  // 128
    plugOther();  // 129
    expectCounts(2, 127, "130 interfaces, boards at 125 to 128");
}

TEST_F(CountIdentity, TheRegistryValueDecidesWhoseDeviceItIsAlike) {
    const InterfaceId saysOther = plugBoard();
    const InterfaceId noValue = plugBoard();
    const InterfaceId noKey = plugBoard();
    const InterfaceId saysBoard = plugOther();
    const InterfaceId truthful = plugBoard();
    (void)truthful;
    auto text = [](const std::string& s) { return Bytes(s.begin(), s.end() + 1); };
    world.setRegistryValue(world.registryKeyOf(saysOther), "DeviceInstance",
                           text("USB\\VID_1234&PID_5678\\X"));
    world.removeRegistryValue(world.registryKeyOf(noValue), "DeviceInstance");
    world.removeRegistryKey(world.registryKeyOf(noKey));
    world.setRegistryValue(world.registryKeyOf(saysBoard), "DeviceInstance",
                           text("USB\\VID_04D8&PID_0030\\Y"));
    // The board that says it is another vendor's, the device that says it is a board, and the
    // truthful board: only the last two count as boards.
    expectCounts(2, 5, "registry values that contradict the paths");
}

TEST_F(CountIdentity, ASnapshotThatCannotBeTakenLosesOnlyItsOwnIndexAlike) {
    // Boards at 0, 1, 3, 4 and 6; other vendors' devices at 2 and 5.
    for (int kind : {0, 0, 1, 0, 0, 1, 0}) kind ? plugOther() : plugBoard();
    const std::uint32_t boardsFrom[] = {5, 4, 3, 3, 2, 1, 1, 0};  // boards at index >= k
    for (std::uint32_t failing : {1u, 2u, 3u, 5u, 7u, 126u, 127u, 200u}) {
        world.failSnapshots(failing);
        const std::uint32_t counted = MPUSBGetDeviceCount(kBoard);
        world.failSnapshots(failing);
        const std::uint32_t indexByIndex = countIndexByIndex(kBoard);
        world.failSnapshots(0);
        EXPECT_EQ(counted, indexByIndex) << failing << " snapshots failing";
        EXPECT_EQ(counted, boardsFrom[std::min(failing, 7u)]) << failing << " snapshots failing";
        EXPECT_EQ(world.openHandleCount(), 0u);
    }
}

TEST_F(CountIdentity, DevicesPluggedOrUnpluggedBetweenTwoCountsShowInTheNext) {
    const InterfaceId first = plugBoard();
    const InterfaceId other = plugOther();
    const InterfaceId second = plugBoard();
    expectCounts(2, 3, "two boards around another vendor's device");
    world.unplug(first);
    expectCounts(1, 2, "the first board unplugged");
    world.unplug(other);
    expectCounts(1, 1, "the other device unplugged too");
    world.replug(first);
    expectCounts(2, 2, "the first board back, now after the second");
    world.replug(other);
    world.unplug(second);
    expectCounts(1, 2, "the second board gone, the other device back");
    plugBoard();
    expectCounts(2, 3, "a new board");
}

TEST_F(CountIdentity, RandomMixesOfDevicesAreCountedAlike) {
    std::mt19937 random(0xC0417);
    for (int trial = 0; trial < 12; ++trial) {
        World mix;
        platform::ScopedBackend useMix(mix);
        std::uniform_int_distribution<int> size(0, 140), kind(0, 3), action(0, 9);
        std::vector<InterfaceId> ids;
        const int n = size(random);
        for (int i = 0; i < n; ++i)
            ids.push_back(kind(random) == 0 ? mix.plugDevice(0x1234, 0x5678)
                                            : mix.idOf(mix.plugBoard()));
        // Some leave, some of those come back at the end of the list.
        for (InterfaceId id : ids)
            if (action(random) == 0) mix.unplug(id);
        for (InterfaceId id : ids)
            if (action(random) < 3) mix.replug(id);
        for (const char* vidPid : kVidPids)
            EXPECT_EQ(MPUSBGetDeviceCount(vidPid), countIndexByIndex(vidPid))
                << "trial " << trial << ", " << mix.interfaceCount() << " interfaces, counting "
                << named(vidPid);
        EXPECT_EQ(mix.openHandleCount(), 0u);
    }
}

TEST(CountSnapshots, ACountTakesOneSnapshotAndReleasesIt) {
    World world;
    SpyBackend spy{world};
    platform::ScopedBackend use{spy};
    for (int i = 0; i < 10; ++i) i % 4 == 3 ? (void)world.plugDevice(0x1234, 0x5678) : (void)world.plugBoard();

    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 8u);
    EXPECT_EQ(spy.count("getClassDevs"), 1u);
    EXPECT_EQ(spy.count("destroyDeviceInfoList"), 1u);
    EXPECT_EQ(spy.count("enumDeviceInterfaces"), std::size_t{usb::DEVICE_SCAN_COUNT})
        << "every index is asked for, present or not";
    EXPECT_EQ(spy.count("regOpenKey"), 10u) << "one vendor/product test per interface";

    // A failed snapshot is asked for again at the next index: three attempts, one snapshot.
    spy.clear();
    world.failSnapshots(2);
    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 6u) << "the boards at indexes 0 and 1 are lost";
    EXPECT_EQ(spy.count("getClassDevs"), 3u);
    EXPECT_EQ(spy.count("destroyDeviceInfoList"), 1u);
    EXPECT_EQ(world.openHandleCount(), 0u);
}

}  // namespace
}  // namespace tarvex::testing
