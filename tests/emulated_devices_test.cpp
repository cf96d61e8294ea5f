// The emulated driver's device interfaces: snapshots, interface paths, registry records, opening
// pipes, and devices that come and go.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "emulated_world_fixture.h"
#include "platform/driver.h"

namespace tarvex::emulated::testing {
namespace {

const std::string kKeyPrefix =
    "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\DEVICECLASSES\\"
    "{5354fa28-6d14-4e35-a1f5-75bb54e6030f}\\";

// The interface paths of a fresh snapshot, in member-index order, read as a library does.
std::vector<std::string> listPaths(World& world, std::uint32_t flags = kDigcfPresent |
                                                                         kDigcfDeviceInterface) {
    std::vector<std::string> paths;
    DevInfo set = world.getClassDevs(driver::DEVICE_INTERFACE_GUID, flags);
    EXPECT_NE(set, invalidHandle());
    for (std::uint32_t i = 0;; ++i) {
        DeviceInterfaceData data{};
        data.cbSize = world.deviceInterfaceDataSize();
        if (!world.enumDeviceInterfaces(set, driver::DEVICE_INTERFACE_GUID, i, &data)) {
            EXPECT_EQ(world.getLastError(), kErrorNoMoreItems);
            break;
        }
        std::uint32_t needed = 0;
        EXPECT_FALSE(world.getDeviceInterfaceDetail(set, &data, nullptr, 0, &needed));
        EXPECT_EQ(world.getLastError(), kErrorInsufficientBuffer);
        std::vector<char> detail(needed);
        std::uint32_t cbSize = world.deviceInterfaceDetailSize();
        std::memcpy(detail.data(), &cbSize, 4);
        EXPECT_TRUE(world.getDeviceInterfaceDetail(set, &data, detail.data(), needed, nullptr));
        paths.emplace_back(detail.data() + kDetailPathOffset);
        EXPECT_EQ(needed, 4 + paths.back().size() + 1);
    }
    EXPECT_TRUE(world.destroyDeviceInfoList(set));
    return paths;
}

std::string deviceInstanceOf(World& world, InterfaceId id) {
    RegKey key = nullptr;
    if (world.regOpenKey(world.registryKeyOf(id).c_str(), 0, kKeyQueryValue, &key) != 0) return "";
    std::uint8_t value[255];
    std::uint32_t size = sizeof value, type = 0;
    long status = world.regQueryValue(key, "DeviceInstance", &type, value, &size);
    world.regCloseKey(key);
    if (status != 0 || type != 1 || size == 0) return "";
    return std::string(reinterpret_cast<char*>(value), size - 1);
}

TEST(EmulatedDevices, InterfacesAreListedInPlugOrderWithWindowsStylePathsAndRecords) {
    World world;
    InterfaceId other = world.plugDevice(0x1234, 0xABCD, "Xy12");
    DeviceIdentity identity;
    identity.serial = "Sn0042";
    Board& board = world.plugBoard(std::make_unique<ScriptedFirmware>(), identity);
    InterfaceId boardId = world.idOf(board);

    const std::string otherPath =
        "\\\\?\\usb#vid_1234&pid_abcd#xy12#{5354fa28-6d14-4e35-a1f5-75bb54e6030f}";
    const std::string boardPath =
        "\\\\?\\usb#vid_04d8&pid_0030#sn0042#{5354fa28-6d14-4e35-a1f5-75bb54e6030f}";
    EXPECT_EQ(world.interfacePath(other), otherPath);
    EXPECT_EQ(world.interfacePath(boardId), boardPath);
    EXPECT_EQ(listPaths(world), (std::vector<std::string>{otherPath, boardPath}));
    EXPECT_EQ(world.interfaceCount(), 2u);

    EXPECT_EQ(world.registryKeyOf(boardId),
              kKeyPrefix + "##?#usb#vid_04d8&pid_0030#sn0042#{5354fa28-6d14-4e35-a1f5-75bb54e6030f}");
    EXPECT_EQ(deviceInstanceOf(world, boardId), "USB\\VID_04D8&PID_0030\\SN0042");
    EXPECT_EQ(deviceInstanceOf(world, other), "USB\\VID_1234&PID_ABCD\\XY12");
    EXPECT_EQ(world.openHandleCount(), 0u);
}

TEST(EmulatedDevices, MadeUpSerialsKeepPathsApart) {
    World world;
    InterfaceId a = world.idOf(world.plugBoard(std::make_unique<ScriptedFirmware>()));
    InterfaceId b = world.idOf(world.plugBoard(std::make_unique<ScriptedFirmware>()));
    EXPECT_NE(world.interfacePath(a), world.interfacePath(b));
    EXPECT_EQ(world.interfacePath(a).rfind("\\\\?\\usb#vid_04d8&pid_0030#", 0), 0u);
}

TEST(EmulatedDevices, SnapshotsCheckTheirRecordSizesAsSetupApiDoes) {
    World world;
    world.plugBoard(std::make_unique<ScriptedFirmware>());
    DevInfo set = world.getClassDevs(driver::DEVICE_INTERFACE_GUID, kDigcfPresent | kDigcfDeviceInterface);
    DeviceInterfaceData data{};
    data.cbSize = world.deviceInterfaceDataSize() - 4;  // a 32-bit size on 64-bit Windows
    EXPECT_FALSE(world.enumDeviceInterfaces(set, driver::DEVICE_INTERFACE_GUID, 0, &data));
    EXPECT_EQ(world.getLastError(), 1784u);  // ERROR_INVALID_USER_BUFFER
    data.cbSize = world.deviceInterfaceDataSize();
    ASSERT_TRUE(world.enumDeviceInterfaces(set, driver::DEVICE_INTERFACE_GUID, 0, &data));
    EXPECT_TRUE(data.interfaceClassGuid == driver::DEVICE_INTERFACE_GUID);

    std::vector<char> detail(300);
    std::uint32_t wrongSize = sizeof(void*) == 8 ? 5 : 8;  // the other word size's record size
    std::memcpy(detail.data(), &wrongSize, 4);
    std::uint32_t needed = 0;
    EXPECT_FALSE(world.getDeviceInterfaceDetail(set, &data, detail.data(), 300, &needed));
    EXPECT_EQ(world.getLastError(), 1784u);

    std::uint32_t cbSize = world.deviceInterfaceDetailSize();
    std::memcpy(detail.data(), &cbSize, 4);
    EXPECT_FALSE(world.getDeviceInterfaceDetail(set, &data, detail.data(), needed - 1, nullptr));
    EXPECT_EQ(world.getLastError(), kErrorInsufficientBuffer);
    EXPECT_TRUE(world.getDeviceInterfaceDetail(set, &data, detail.data(), needed, nullptr));
    EXPECT_EQ(std::string(detail.data() + 4), world.interfacePath(1));

    EXPECT_FALSE(world.enumDeviceInterfaces(set, driver::DEVICE_INTERFACE_GUID, 1, &data));
    EXPECT_EQ(world.getLastError(), kErrorNoMoreItems);
    ASSERT_TRUE(world.destroyDeviceInfoList(set));
    EXPECT_FALSE(world.enumDeviceInterfaces(set, driver::DEVICE_INTERFACE_GUID, 0, &data));
    EXPECT_EQ(world.getLastError(), kErrorInvalidHandle);
    EXPECT_FALSE(world.destroyDeviceInfoList(set));
}

TEST(EmulatedDevices, ASnapshotKeepsTheInterfacesOfItsMoment) {
    World world;
    InterfaceId a = world.plugDevice(0x1111, 0x2222);
    world.plugBoard(std::make_unique<ScriptedFirmware>());
    DevInfo set = world.getClassDevs(driver::DEVICE_INTERFACE_GUID, kDigcfPresent | kDigcfDeviceInterface);
    world.unplug(a);
    DeviceInterfaceData data{};
    data.cbSize = world.deviceInterfaceDataSize();
    EXPECT_TRUE(world.enumDeviceInterfaces(set, driver::DEVICE_INTERFACE_GUID, 1, &data));
    world.destroyDeviceInfoList(set);
    EXPECT_EQ(listPaths(world).size(), 1u);
    // Asked without DIGCF_PRESENT, the driver still lists the device that left, after the others.
    EXPECT_EQ(listPaths(world, kDigcfDeviceInterface),
              (std::vector<std::string>{world.interfacePath(2), world.interfacePath(a)}));
}

TEST(EmulatedDevices, OnlyTheDriversInterfaceClassIsListed) {
    World world;
    world.plugBoard(std::make_unique<ScriptedFirmware>());
    Guid otherClass = driver::DEVICE_INTERFACE_GUID;
    otherClass.data4[7] ^= 1;
    for (auto [guid, flags] : {std::pair{otherClass, kDigcfPresent | kDigcfDeviceInterface},
                               std::pair{driver::DEVICE_INTERFACE_GUID, kDigcfPresent}}) {
        DevInfo set = world.getClassDevs(guid, flags);
        DeviceInterfaceData data{};
        data.cbSize = world.deviceInterfaceDataSize();
        EXPECT_FALSE(world.enumDeviceInterfaces(set, driver::DEVICE_INTERFACE_GUID, 0, &data));
        EXPECT_EQ(world.getLastError(), kErrorNoMoreItems);
        world.destroyDeviceInfoList(set);
    }
}

TEST(EmulatedDevices, SnapshotsCanBeMadeToFail) {
    World world;
    world.plugBoard(std::make_unique<ScriptedFirmware>());
    world.failSnapshots(1);
    EXPECT_EQ(world.getClassDevs(driver::DEVICE_INTERFACE_GUID, kDigcfPresent | kDigcfDeviceInterface),
              invalidHandle());
    EXPECT_NE(world.getLastError(), 0u);
    EXPECT_EQ(listPaths(world).size(), 1u);
}

TEST(EmulatedDevices, RegistryValuesAreReadWithRegQueryValueSizeRules) {
    World world;
    const std::string key = "SYSTEM\\Test\\Key";
    world.setRegistryValue(key, "Exact", Bytes(255, 'a'));               // no terminator
    world.setRegistryValue(key, "Long", Bytes(256, 'b'));
    world.setRegistryValue(key, "Text", Bytes{'h', 'i', 0});

    RegKey k = nullptr;
    ASSERT_EQ(world.regOpenKey("system\\TEST\\key", 0, kKeyQueryValue, &k), 0);
    std::uint8_t buffer[255];
    std::uint32_t size = 255, type = 0;
    EXPECT_EQ(world.regQueryValue(k, "exact", &type, buffer, &size), 0);
    EXPECT_EQ(size, 255u);
    EXPECT_EQ(type, 1u);
    EXPECT_EQ(buffer[254], 'a');

    size = 255;
    EXPECT_EQ(world.regQueryValue(k, "Long", &type, buffer, &size), kErrorMoreData);
    EXPECT_EQ(size, 256u);

    size = 2;
    EXPECT_EQ(world.regQueryValue(k, "Text", &type, buffer, &size), kErrorMoreData);
    EXPECT_EQ(size, 3u);
    size = 0;
    EXPECT_EQ(world.regQueryValue(k, "Text", nullptr, nullptr, &size), 0);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(world.regQueryValue(k, "Text", nullptr, buffer, &size), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), "hi");

    size = 255;
    EXPECT_EQ(world.regQueryValue(k, "Missing", &type, buffer, &size), kErrorFileNotFound);
    EXPECT_EQ(world.regCloseKey(k), 0);
    EXPECT_EQ(world.regQueryValue(k, "Text", &type, buffer, &size), kErrorInvalidHandle);
    EXPECT_EQ(world.regCloseKey(k), kErrorInvalidHandle);

    RegKey none = nullptr;
    EXPECT_EQ(world.regOpenKey("SYSTEM\\Test\\Other", 0, kKeyQueryValue, &none), kErrorFileNotFound);
    EXPECT_EQ(world.openHandleCount(), 0u);
}

TEST(EmulatedDevices, AnUnpluggedDevicesRegistryKeyGoesAndComesBackWithIt) {
    World world;
    InterfaceId id = world.idOf(world.plugBoard(std::make_unique<ScriptedFirmware>()));
    RegKey open = nullptr;
    ASSERT_EQ(world.regOpenKey(world.registryKeyOf(id).c_str(), 0, kKeyQueryValue, &open), 0);
    world.unplug(id);
    std::uint8_t buffer[255];
    std::uint32_t size = 255;
    EXPECT_EQ(world.regQueryValue(open, "DeviceInstance", nullptr, buffer, &size), 1018);
    world.regCloseKey(open);
    EXPECT_EQ(deviceInstanceOf(world, id), "");
    world.replug(id);
    EXPECT_EQ(deviceInstanceOf(world, id), "USB\\VID_04D8&PID_0030\\TVX00001");
}

TEST(EmulatedDevices, ThePipeOpensByItsNameInEitherCaseAndNothingElseDoes) {
    World world;
    InterfaceId id = world.idOf(world.plugBoard(std::make_unique<ScriptedFirmware>()));
    std::string path = world.interfacePath(id);
    std::string upperPipe = path + "\\MCHP_EP1";
    for (char& c : upperPipe) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Case {
        std::string name;
        bool opens;
    };
    for (const Case& c : {Case{path + "\\MCHP_EP1", true}, Case{upperPipe, true},
                          Case{path + "\\mchp_ep1", true}, Case{path, true},
                          Case{path + "\\MCHP_EP2", false}, Case{path + "\\", false},
                          Case{"\\\\?\\usb#vid_04d8&pid_0030#nothing", false}}) {
        world.setLastError(0);
        Handle h = world.createFile(c.name.c_str(), kGenericRead, 0, kOpenExisting,
                                    kFileFlagOverlapped | kFileAttributeNormal);
        EXPECT_EQ(h != invalidHandle(), c.opens) << c.name;
        if (h != invalidHandle()) {
            EXPECT_NE(h, nullptr);
            world.closeHandle(h);
        } else {
            EXPECT_EQ(world.getLastError(), kErrorFileNotFound) << c.name;
        }
    }
    EXPECT_EQ(world.openHandleCount(), 0u);
}

TEST(EmulatedDevices, ExclusiveOpeningRefusesASecondOpenOfTheSamePipeDirection) {
    World world;
    InterfaceId id = world.idOf(world.plugBoard(std::make_unique<ScriptedFirmware>()));
    std::string pipe = world.interfacePath(id) + "\\MCHP_EP1";
    auto open = [&](std::uint32_t access) {
        return world.createFile(pipe.c_str(), access, 0, kOpenExisting, kFileFlagOverlapped);
    };
    Handle r1 = open(kGenericRead);
    Handle r2 = open(kGenericRead);
    EXPECT_NE(r2, invalidHandle());  // shared by default
    world.closeHandle(r2);

    world.setExclusiveOpen(true);
    EXPECT_EQ(open(kGenericRead), invalidHandle());
    EXPECT_EQ(world.getLastError(), kErrorSharingViolation);
    Handle w = open(kGenericWrite);
    EXPECT_NE(w, invalidHandle());
    world.closeHandle(r1);
    Handle r3 = open(kGenericRead);
    EXPECT_NE(r3, invalidHandle());
}

TEST(EmulatedDevices, AnUnpluggedBoardsHandlesFailUntilClosedAndStayDeadAfterReplug) {
    World world;
    Board& board = world.plugBoard(std::make_unique<ScriptedFirmware>());
    InterfaceId id = world.idOf(board);
    std::string pipe = world.interfacePath(id) + "\\MCHP_EP1";
    Handle in = world.createFile(pipe.c_str(), kGenericRead, 0, kOpenExisting, kFileFlagOverlapped);
    Handle out = world.createFile(pipe.c_str(), kGenericWrite, 0, kOpenExisting, kFileFlagOverlapped);
    Handle event = world.createEvent(false, false);
    Overlapped ov = record(event);
    std::uint8_t buffer[3];
    ASSERT_FALSE(world.readFile(in, buffer, 3, nullptr, &ov));

    world.unplug(board);
    EXPECT_EQ(world.interfaceCount(), 0u);
    EXPECT_EQ(world.pendingRequestCount(), 0u);
    EXPECT_EQ(world.waitForSingleObject(event, 0), kWaitObject0);
    std::uint32_t count = 0;
    EXPECT_FALSE(world.getOverlappedResult(in, &ov, &count, false));
    EXPECT_EQ(world.getLastError(), kErrorDeviceNotConnected);

    world.setVanishedError(kErrorGenFailure);
    Bytes p = getPacket();
    EXPECT_FALSE(world.writeFile(out, p.data(), 64, &count, &ov));
    EXPECT_EQ(world.getLastError(), kErrorGenFailure);
    EXPECT_FALSE(world.readFile(in, buffer, 3, &count, &ov));
    EXPECT_EQ(world.getLastError(), kErrorGenFailure);
    EXPECT_EQ(world.createFile(pipe.c_str(), kGenericRead, 0, kOpenExisting, kFileFlagOverlapped),
              invalidHandle());
    EXPECT_EQ(world.getLastError(), kErrorFileNotFound);

    InterfaceId other = world.plugDevice(0x1111, 0x2222);
    world.replug(id);
    EXPECT_EQ(listPaths(world), (std::vector<std::string>{world.interfacePath(other),
                                                          world.interfacePath(id)}));
    EXPECT_FALSE(world.writeFile(out, p.data(), 64, &count, &ov));
    EXPECT_EQ(world.getLastError(), kErrorGenFailure);
    Handle fresh = world.createFile(pipe.c_str(), kGenericWrite, 0, kOpenExisting,
                                    kFileFlagOverlapped);
    EXPECT_TRUE(world.writeFile(fresh, p.data(), 64, &count, &ov));
    EXPECT_EQ(board.received().size(), 1u);

    EXPECT_TRUE(world.closeHandle(in));
    EXPECT_TRUE(world.closeHandle(out));
    EXPECT_TRUE(world.closeHandle(fresh));
    EXPECT_TRUE(world.closeHandle(event));
    EXPECT_EQ(world.openHandleCount(), 0u);
}

TEST(EmulatedDevices, AnotherVendorsDeviceTakesWritesAndNeverAnswers) {
    World world;
    InterfaceId id = world.plugDevice(0x1234, 0x5678);
    std::string pipe = world.interfacePath(id) + "\\MCHP_EP1";
    Handle in = world.createFile(pipe.c_str(), kGenericRead, 0, kOpenExisting, kFileFlagOverlapped);
    Handle out = world.createFile(pipe.c_str(), kGenericWrite, 0, kOpenExisting, kFileFlagOverlapped);
    Bytes p = getPacket();
    std::uint32_t count = 0;
    Overlapped ov = record(world.createEvent(false, false));
    EXPECT_TRUE(world.writeFile(out, p.data(), 64, &count, &ov));
    EXPECT_EQ(count, 64u);
    std::uint8_t buffer[3];
    EXPECT_FALSE(world.readFile(in, buffer, 3, &count, &ov));
    EXPECT_EQ(world.getLastError(), kErrorIoPending);
    EXPECT_EQ(world.waitForSingleObject(ov.event, 250), kWaitTimeout);
    EXPECT_EQ(world.board(id), nullptr);
}

TEST(EmulatedDevices, ABoardPluggedWithoutFirmwareRunsTheDemoFirmware) {
    World world;
    Board& board = world.plugBoard();
    std::string pipe = world.interfacePath(world.idOf(board)) + "\\MCHP_EP1";
    Handle in = world.createFile(pipe.c_str(), kGenericRead, 0, kOpenExisting, kFileFlagOverlapped);
    Handle out = world.createFile(pipe.c_str(), kGenericWrite, 0, kOpenExisting, kFileFlagOverlapped);
    Bytes ping = getPacket(0xFA, 0);
    std::uint32_t count = 0;
    ASSERT_TRUE(world.writeFile(out, ping.data(), 64, &count, nullptr));
    std::uint8_t reply[64];
    ASSERT_TRUE(world.readFile(in, reply, 64, &count, nullptr));
    EXPECT_EQ(count, 20u);  // the board answers a ping with 20 bytes
}

}  // namespace
}  // namespace tarvex::emulated::testing
