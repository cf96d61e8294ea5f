// Device discovery: member indexes, the vendor/product test through the registry, path buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>

#include "emulated/world.h"
#include "support/spy_backend.h"
#include "tarvex.h"
#include "usb/usb.h"

namespace tarvex::testing {
namespace {

using emulated::DeviceIdentity;
using emulated::InterfaceId;
using emulated::World;
using namespace tarvex::usb;

constexpr const char* kBoard = "vid_04d8&pid_0030";

// A serial that makes a board's interface path exactly `pathLength` characters long.
std::string serialForPathLength(std::size_t pathLength) {
    World scratch;
    DeviceIdentity identity;
    identity.serial = std::string(10, 's');
    const InterfaceId id = scratch.idOf(scratch.plugBoard(nullptr, identity));
    const std::size_t overhead = scratch.interfacePath(id).size() - 10;
    return std::string(pathLength - overhead, 's');
}

class Discovery : public ::testing::Test {
protected:
    World world;
    SpyBackend spy{world};
    platform::ScopedBackend use{spy};

    InterfaceId plugBoard(std::string serial = {}) {
        DeviceIdentity identity;
        identity.serial = std::move(serial);
        return world.idOf(world.plugBoard(nullptr, identity));
    }
    InterfaceId plugOther() { return world.plugDevice(0x1234, 0x5678); }
};

TEST_F(Discovery, WithNoInterfaceNothingIsCountedOrFound) {
    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 0u);
    EXPECT_EQ(MPUSBGetDeviceCount(nullptr), 0u);
    std::uint32_t length = 77;
    char path[260] = "untouched";
    EXPECT_EQ(GetInterfacePath(0, kBoard, path, sizeof path, &length), PATH_NO_INTERFACE);
    EXPECT_EQ(length, 0u);
    EXPECT_STREQ(path, "untouched");
}

TEST_F(Discovery, ABoardIsAddressedByItsPositionAmongAllDevicesOfTheDriver) {
    plugOther();
    const InterfaceId board = plugBoard();

    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 1u);
    EXPECT_EQ(MPUSBGetDeviceCount(nullptr), 2u);

    char path[260] = {};
    std::uint32_t length = 99;
    EXPECT_EQ(GetInterfacePath(0, kBoard, path, sizeof path, &length), PATH_OTHER_DEVICE);
    EXPECT_EQ(length, 0u) << "a failed vendor/product test stores the length 0";
    EXPECT_EQ(path[0], '\0') << "nothing is copied for another device";

    EXPECT_EQ(GetInterfacePath(1, kBoard, path, sizeof path, &length), PATH_OK);
    EXPECT_EQ(std::string(path), world.interfacePath(board));
    EXPECT_EQ(length, world.interfacePath(board).size());
    EXPECT_EQ(std::string(path, 4), "\\\\?\\");

    // Without a vendor/product string any interface qualifies.
    EXPECT_EQ(GetInterfacePath(0, nullptr, path, sizeof path, &length), PATH_OK);
    EXPECT_EQ(GetInterfacePath(2, nullptr, path, sizeof path, &length), PATH_NO_INTERFACE);
}

TEST_F(Discovery, TheCountScansIndexes0To126AndNeverStopsAtAGap) {
    for (int i = 0; i < 126; ++i) plugOther();
    plugBoard();  // member index 126: counted
    plugBoard();  // member index 127: never counted
    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 1u);
    EXPECT_EQ(MPUSBGetDeviceCount(nullptr), 127u);
    EXPECT_EQ(GetInterfacePath(127, kBoard, nullptr, 0, nullptr), PATH_OK)
        << "the board at 127 is there, it is only outside the scan";

    // A gap (an index whose snapshot fails) does not end the scan.
    World gapWorld;
    platform::ScopedBackend useGap{gapWorld};
    gapWorld.plugBoard();
    gapWorld.plugBoard();
    gapWorld.failSnapshots(1);  // index 0's snapshot fails
    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 1u);
}

TEST_F(Discovery, EveryCallTakesAFreshSnapshot) {
    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 0u);
    const InterfaceId board = plugBoard();
    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 1u);
    world.unplug(board);
    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 0u);
    EXPECT_EQ(spy.count("getClassDevs"), 3u) << "one snapshot per count, none kept between";
    EXPECT_EQ(spy.count("destroyDeviceInfoList"), spy.count("getClassDevs"));
    EXPECT_EQ(world.openHandleCount(), 0u);
}

TEST_F(Discovery, TheVendorProductStringMustBeGivenInLowerCase) {
    plugBoard();
    EXPECT_EQ(MPUSBGetDeviceCount("VID_04D8&PID_0030"), 0u);
    EXPECT_EQ(GetInterfacePath(0, "VID_04D8&PID_0030", nullptr, 0, nullptr), PATH_OTHER_DEVICE);
    EXPECT_EQ(GetInterfacePath(0, "vid_04d8", nullptr, 0, nullptr), PATH_OK)
        << "a plain substring search";
}

TEST_F(Discovery, APathBufferMustHoldThePathAndItsTerminator) {
    const InterfaceId board = plugBoard();
    const std::string expected = world.interfacePath(board);
    const auto n = static_cast<std::uint32_t>(expected.size());

    std::string buffer(n + 8, 'x');
    std::uint32_t length = 0;
    EXPECT_EQ(GetInterfacePath(0, kBoard, buffer.data(), n, &length), PATH_TOO_LONG);
    EXPECT_EQ(length, n) << "the length is told even when the path does not fit";
    EXPECT_EQ(buffer, std::string(n + 8, 'x')) << "nothing is copied";

    EXPECT_EQ(GetInterfacePath(0, kBoard, buffer.data(), n + 1, &length), PATH_OK);
    EXPECT_EQ(length, n);
    EXPECT_EQ(std::string(buffer.c_str()), expected);
    EXPECT_EQ(buffer.substr(n + 1), std::string(7, 'x')) << "path and terminator only";

    // Without a buffer there is no size test.
    length = 0;
    EXPECT_EQ(GetInterfacePath(0, kBoard, nullptr, 0, &length), PATH_OK);
    EXPECT_EQ(length, n);
}

TEST_F(Discovery, TheRecordSizesComeFromThePlatform) {
    plugBoard();
    ASSERT_EQ(GetInterfacePath(0, kBoard, nullptr, 0, nullptr), PATH_OK);
    const auto enums = spy.of("enumDeviceInterfaces");
    ASSERT_EQ(enums.size(), 1u);
    EXPECT_EQ(enums[0].cbSize, world.deviceInterfaceDataSize());
    const auto details = spy.of("getDeviceInterfaceDetail");
    ASSERT_EQ(details.size(), 2u);
    EXPECT_EQ(details[0].out, nullptr) << "first the size is asked for";
    EXPECT_EQ(details[0].length, 0u);
    EXPECT_EQ(details[1].cbSize, world.deviceInterfaceDetailSize());
    EXPECT_EQ(spy.of("getClassDevs")[0].flags, 0x12u);
}

TEST_F(Discovery, TheDeviceIsRecognisedByItsRegistryKey) {
    const InterfaceId board = plugBoard();
    ASSERT_EQ(GetInterfacePath(0, kBoard, nullptr, 0, nullptr), PATH_OK);

    const auto opens = spy.of("regOpenKey");
    ASSERT_EQ(opens.size(), 1u);
    std::string path = world.interfacePath(board);
    path[0] = path[1] = path[3] = '#';
    EXPECT_EQ(opens[0].name,
              "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\DEVICECLASSES\\"
              "{5354fa28-6d14-4e35-a1f5-75bb54e6030f}\\" + path);
    EXPECT_EQ(opens[0].access, platform::kKeyQueryValue);
    const auto queries = spy.of("regQueryValue");
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].name, "DeviceInstance");
    EXPECT_EQ(queries[0].length, 255u);
    EXPECT_EQ(spy.count("regCloseKey"), 1u);
}

TEST_F(Discovery, MatchVidPidGivesThePathBackByteForByte) {
    const InterfaceId board = plugBoard();
    const InterfaceId other = plugOther();
    for (const auto& [id, vidPid, match] :
         {std::tuple{board, kBoard, 1}, std::tuple{other, kBoard, 0},
          std::tuple{board, "vid_1234", 0}}) {
        std::string path = world.interfacePath(id);
        const std::string before = path;
        EXPECT_EQ(MatchVidPid(path.data(), vidPid), match) << before << " " << vidPid;
        EXPECT_EQ(path, before);
    }
    // Texts that do not start with the usual prefix, or are shorter, come back whole too.
    for (std::string odd : {std::string("ab"), std::string(""), std::string("xy?z#usb")}) {
        const std::string before = odd;
        odd.push_back('\0');
        EXPECT_EQ(MatchVidPid(odd.data(), kBoard), 0);
        EXPECT_EQ(std::string(odd.c_str()), before);
    }
}

struct RegistryCase {
    const char* what;
    std::string value;  // the DeviceInstance bytes, exactly as stored
    PathResult result;
};
// GoogleTest would otherwise print the struct's bytes, its padding among them.
void PrintTo(const RegistryCase& c, std::ostream* os) { *os << c.what; }

class DiscoveryRegistry : public Discovery, public ::testing::WithParamInterface<RegistryCase> {};

TEST_P(DiscoveryRegistry, TheDeviceInstanceValueDecides) {
    const InterfaceId board = plugBoard();
    const std::string& value = GetParam().value;
    world.setRegistryValue(world.registryKeyOf(board), "DeviceInstance",
                           Bytes(value.begin(), value.end()));
    EXPECT_EQ(GetInterfacePath(0, kBoard, nullptr, 0, nullptr), GetParam().result)
        << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Values, DiscoveryRegistry,
    ::testing::Values(
        RegistryCase{"upper-case instance id, lowered before the search",
                     std::string("USB\\VID_04D8&PID_0030\\ABC") + '\0', PATH_OK},
        RegistryCase{"255 bytes without a terminator, the id at the very end",
                     std::string(255 - 17, 'Q') + "VID_04D8&PID_0030", PATH_OK},
        RegistryCase{"255 bytes without a terminator, the id cut at the end",
                     std::string(255 - 16, 'Q') + "VID_04D8&PID_003", PATH_OTHER_DEVICE},
        RegistryCase{"256 bytes: the read fails, however well it would match",
                     "VID_04D8&PID_0030" + std::string(256 - 17, 'Q'), PATH_OTHER_DEVICE},
        RegistryCase{"another device's id", std::string("USB\\VID_1234&PID_5678") + '\0',
                     PATH_OTHER_DEVICE}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(Discovery, AMissingKeyOrValueIsNoMatch) {
    const InterfaceId first = plugBoard();
    const InterfaceId second = plugBoard();
    world.removeRegistryValue(world.registryKeyOf(first), "DeviceInstance");
    world.removeRegistryKey(world.registryKeyOf(second));
    EXPECT_EQ(GetInterfacePath(0, kBoard, nullptr, 0, nullptr), PATH_OTHER_DEVICE);
    EXPECT_EQ(GetInterfacePath(1, kBoard, nullptr, 0, nullptr), PATH_OTHER_DEVICE);
    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 0u);
    EXPECT_EQ(GetInterfacePath(1, nullptr, nullptr, 0, nullptr), PATH_OK);
}

TEST_F(Discovery, ASnapshotThatCannotBeTakenIsASystemFailure) {
    plugBoard();
    world.failSnapshots(1);
    std::uint32_t length = 5;
    EXPECT_EQ(GetInterfacePath(0, kBoard, nullptr, 0, &length), PATH_SYSTEM_FAIL);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(spy.count("destroyDeviceInfoList"), 0u) << "no snapshot, nothing to release";
    EXPECT_EQ(GetInterfacePath(0, kBoard, nullptr, 0, &length), PATH_OK);
}

TEST_F(Discovery, AFailedDetailRequestFailsOnlyItsIndexAndTheSnapshotIsStillReleased) {
    for (int i = 0; i < 3; ++i) plugBoard();
    world.failDetailAt(1);
    char path[260] = "untouched";
    std::uint32_t length = 5;
    EXPECT_EQ(GetInterfacePath(1, kBoard, path, sizeof path, &length), PATH_SYSTEM_FAIL);
    EXPECT_EQ(length, 0u);
    EXPECT_STREQ(path, "untouched");
    EXPECT_EQ(GetInterfacePath(2, kBoard, nullptr, 0, nullptr), PATH_OK);
    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 2u) << "the count skips index 1 only";
    EXPECT_EQ(MPUSBGetDeviceCount(nullptr), 2u);
    EXPECT_EQ(spy.count("getClassDevs"), 4u);
    EXPECT_EQ(spy.count("destroyDeviceInfoList"), 4u);
    EXPECT_EQ(world.openHandleCount(), 0u);
    world.failDetailAt(std::nullopt);
    EXPECT_EQ(MPUSBGetDeviceCount(kBoard), 3u);
}

TEST_F(Discovery, AKeyNameOver511CharactersIsNoMatch) {
    // 86 characters come before the path in the key name, which leaves 425 for the path.
    const InterfaceId fits = plugBoard(serialForPathLength(425));
    const InterfaceId tooLong = plugBoard(serialForPathLength(426));
    // Instance ids that fit the value buffer, so only the key name decides.
    const std::string instance = std::string("USB\\VID_04D8&PID_0030\\LONG") + '\0';
    for (InterfaceId id : {fits, tooLong})
        world.setRegistryValue(world.registryKeyOf(id), "DeviceInstance",
                               Bytes(instance.begin(), instance.end()));
    std::uint32_t length = 0;
    ASSERT_EQ(GetInterfacePath(0, nullptr, nullptr, 0, &length), PATH_OK);
    ASSERT_EQ(length, 425u);
    EXPECT_EQ(GetInterfacePath(0, kBoard, nullptr, 0, nullptr), PATH_OK);
    ASSERT_EQ(spy.of("regOpenKey").back().name.size(), 511u);

    // One character more: no key name is formed, so no key (and no cut-short name that could
    // belong to another device) is looked up.
    spy.clear();
    EXPECT_EQ(GetInterfacePath(1, kBoard, nullptr, 0, &length), PATH_OTHER_DEVICE);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(spy.count("regOpenKey"), 0u);
    EXPECT_EQ(GetInterfacePath(1, nullptr, nullptr, 0, &length), PATH_OK);
    EXPECT_EQ(length, 426u);
}

}  // namespace
}  // namespace tarvex::testing
