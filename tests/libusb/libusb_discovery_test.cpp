// Discovery through the libusb backend: which devices are interfaces of the driver's class, in
// which order, under which paths, and what the registry says of them.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "libusb/libusb_fixture.h"
#include "platform/libusb/libusb_backend.h"

namespace tarvex::libusbtest {
namespace {

using LibusbDiscovery = LibusbTest;

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The key name the library forms from an interface path.
std::string registryKeyOf(std::string path) {
    path[0] = path[1] = path[3] = '#';
    return "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\DEVICECLASSES\\"
           "{5354fa28-6d14-4e35-a1f5-75bb54e6030f}\\" +
           path;
}

TEST_F(LibusbDiscovery, TheNativeBackendOfThisBuildIsTheLibusbOne) {
    EXPECT_NE(dynamic_cast<platform::libusb::LibusbBackend*>(&platform::nativeBackend()), nullptr);
    EXPECT_EQ(&os(), &platform::nativeBackend());
}

DeviceSpec deviceOf(std::uint16_t vendorId, std::uint16_t productId, std::string location) {
    DeviceSpec spec;
    spec.vendorId = vendorId;
    spec.productId = productId;
    spec.location = std::move(location);
    return spec;
}

// The devices the board vendor's driver would serve: the vendor's, with the data pipes.
TEST_F(LibusbDiscovery, ListsTheBoardVendorsDevicesWithTheDataPipesByBusAndPortPath) {
    DeviceSpec keyboard = deviceOf(0x046D, 0xC31C, "1-5");
    keyboard.dataPipes = false;
    testbed().plug(std::move(keyboard));
    DeviceSpec hub = deviceOf(0x05E3, 0x0608, "1-4");
    hub.hub = true;
    testbed().plug(std::move(hub));
    // A USB-serial adapter of another vendor on the same kind of pipes, ahead of the board.
    plugOther("1-1");
    testbed().plug(deviceOf(0x04D8, 0x000C, "1-4.2"));  // another gadget of the vendor
    DeviceSpec noPipes = deviceOf(0x04D8, 0x000B, "1-3");
    noPipes.dataPipes = false;
    testbed().plug(std::move(noPipes));
    plugBoard(nullptr, "1-2");

    EXPECT_EQ(interfacePaths(),
              (std::vector<std::string>{"\\\\?\\usb#vid_04d8&pid_0030#1-2" + kClassSuffix,
                                        "\\\\?\\usb#vid_04d8&pid_000c#1-4.2" + kClassSuffix}));
    EXPECT_EQ(MPUSBGetDeviceCount(nullptr), 2u);
    EXPECT_EQ(MPUSBGetDeviceCount(kBoardVidPid.c_str()), 1u);
    EXPECT_EQ(MPUSBGetDeviceCount("vid_1234&pid_abcd"), 0u);
    EXPECT_EQ(u_GetDeviceCount(), 1);
}

TEST_F(LibusbDiscovery, AnotherVendorsDeviceAheadOfTheBoardLeavesItAtIndexZero) {
    plugOther("1-1");
    plugBoard(nullptr, "1-3");

    EXPECT_EQ(MPUSBGetDeviceCount(nullptr), 1u);
    TARVEX_HANDLE atBoard = openPipe(0, PIPE_WRITE);
    ASSERT_NE(atBoard, TARVEX_INVALID_HANDLE);
    EXPECT_EQ(MPUSBClose(atBoard), 1);
    EXPECT_EQ(OpenUSBPort(0), 1);
    EXPECT_EQ(CloseUSBPort(0), 1);
}

TEST_F(LibusbDiscovery, EachInterfacesRegistryKeyNamesItsVendorAndProduct) {
    testbed().plug(deviceOf(0x04D8, 0x000C, "1-1"));
    plugBoard(nullptr, "1-2");

    const std::vector<std::string> paths = interfacePaths();
    ASSERT_EQ(paths.size(), 2u);
    const char* expected[] = {"vid_04d8&pid_000c", "vid_04d8&pid_0030"};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i]);
        platform::RegKey key = nullptr;
        ASSERT_EQ(
            os().regOpenKey(registryKeyOf(paths[i]).c_str(), 0, platform::kKeyQueryValue, &key), 0);
        std::uint8_t value[255] = {};
        std::uint32_t size = sizeof value;
        std::uint32_t type = 0;
        ASSERT_EQ(os().regQueryValue(key, "DeviceInstance", &type, value, &size), 0);
        std::string text(reinterpret_cast<const char*>(value));
        EXPECT_EQ(type, 1u);  // REG_SZ
        EXPECT_EQ(size, text.size() + 1);
        EXPECT_NE(lowered(text).find(expected[i]), std::string::npos) << text;
        EXPECT_EQ(os().regCloseKey(key), 0);
    }
}

TEST_F(LibusbDiscovery, TheRegistryAnswersAsWindowsDoes) {
    plugBoard();
    const std::string key = registryKeyOf(interfacePaths().at(0));
    platform::RegKey handle = nullptr;
    ASSERT_EQ(os().regOpenKey(key.c_str(), 0, platform::kKeyQueryValue, &handle), 0);

    std::uint32_t size = 0;
    EXPECT_EQ(os().regQueryValue(handle, "DeviceInstance", nullptr, nullptr, &size), 0);
    const std::uint32_t needed = size;
    EXPECT_EQ(std::string("USB\\VID_04D8&PID_0030\\1-2").size() + 1, needed);

    std::uint8_t small[8];
    size = sizeof small;
    EXPECT_EQ(os().regQueryValue(handle, "DeviceInstance", nullptr, small, &size),
              static_cast<long>(platform::kErrorMoreData));
    EXPECT_EQ(size, needed);
    EXPECT_EQ(os().regQueryValue(handle, "deviceinstance", nullptr, nullptr, &size), 0);
    EXPECT_EQ(os().regQueryValue(handle, "HardwareID", nullptr, nullptr, &size),
              static_cast<long>(platform::kErrorFileNotFound));

    EXPECT_EQ(os().regCloseKey(handle), 0);
    EXPECT_EQ(os().regCloseKey(handle), static_cast<long>(platform::kErrorInvalidHandle));
    EXPECT_EQ(os().regQueryValue(handle, "DeviceInstance", nullptr, nullptr, &size),
              static_cast<long>(platform::kErrorInvalidHandle));

    platform::RegKey none = nullptr;
    EXPECT_EQ(os().regOpenKey("SYSTEM\\CURRENTCONTROLSET\\CONTROL\\DEVICECLASSES\\"
                              "{5354fa28-6d14-4e35-a1f5-75bb54e6030f}\\##?#usb#nothing",
                              0, platform::kKeyQueryValue, &none),
              static_cast<long>(platform::kErrorFileNotFound));
}

TEST_F(LibusbDiscovery, TheSnapshotRecordsAreCheckedAsWindowsChecksThem) {
    plugBoard();
    platform::DevInfo set = os().getClassDevs(kInterfaceClass, 0x12);
    ASSERT_NE(set, platform::invalidHandle());

    platform::DeviceInterfaceData data{};
    data.cbSize = 28 + 1;  // neither the 32-bit nor the 64-bit size
    EXPECT_FALSE(os().enumDeviceInterfaces(set, kInterfaceClass, 0, &data));
    EXPECT_EQ(lastError(), 1784u);  // ERROR_INVALID_USER_BUFFER
    data.cbSize = os().deviceInterfaceDataSize();
    EXPECT_FALSE(os().enumDeviceInterfaces(set, kInterfaceClass, 1, &data));
    EXPECT_EQ(lastError(), platform::kErrorNoMoreItems);
    ASSERT_TRUE(os().enumDeviceInterfaces(set, kInterfaceClass, 0, &data));
    EXPECT_EQ(data.interfaceClassGuid, kInterfaceClass);

    const std::string path = "\\\\?\\usb#vid_04d8&pid_0030#1-2" + kClassSuffix;
    std::uint32_t required = 0;
    EXPECT_FALSE(os().getDeviceInterfaceDetail(set, &data, nullptr, 0, &required));
    EXPECT_EQ(lastError(), platform::kErrorInsufficientBuffer);
    EXPECT_EQ(required, platform::kDetailPathOffset + path.size() + 1);

    std::vector<std::uint8_t> detail(required);
    std::uint32_t wrongSize = 6;
    std::memcpy(detail.data(), &wrongSize, sizeof wrongSize);
    EXPECT_FALSE(os().getDeviceInterfaceDetail(set, &data, detail.data(), required, nullptr));
    EXPECT_EQ(lastError(), 1784u);
    std::uint32_t recordSize = os().deviceInterfaceDetailSize();
    std::memcpy(detail.data(), &recordSize, sizeof recordSize);
    EXPECT_FALSE(os().getDeviceInterfaceDetail(set, &data, detail.data(), required - 1, nullptr));
    EXPECT_EQ(lastError(), platform::kErrorInsufficientBuffer);
    ASSERT_TRUE(os().getDeviceInterfaceDetail(set, &data, detail.data(), required, nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(detail.data()) + 4), path);

    EXPECT_TRUE(os().destroyDeviceInfoList(set));
    EXPECT_FALSE(os().destroyDeviceInfoList(set));
    EXPECT_EQ(lastError(), platform::kErrorInvalidHandle);
    EXPECT_FALSE(os().enumDeviceInterfaces(set, kInterfaceClass, 0, &data));
    EXPECT_EQ(lastError(), platform::kErrorInvalidHandle);
}

TEST_F(LibusbDiscovery, AnotherInterfaceClassHasNoInterfaces) {
    plugBoard();
    platform::Guid otherClass = kInterfaceClass;
    otherClass.data1 ^= 1;
    platform::DevInfo set = os().getClassDevs(otherClass, 0x12);
    platform::DeviceInterfaceData data{};
    data.cbSize = os().deviceInterfaceDataSize();
    EXPECT_FALSE(os().enumDeviceInterfaces(set, otherClass, 0, &data));
    EXPECT_EQ(lastError(), platform::kErrorNoMoreItems);
    os().destroyDeviceInfoList(set);
}

TEST_F(LibusbDiscovery, APlugOrAnUnplugBetweenTwoCallsIsSeenByTheNext) {
    EmulatedUsbDevice& first = plugBoard(nullptr, "1-2");
    EXPECT_EQ(MPUSBGetDeviceCount(kBoardVidPid.c_str()), 1u);

    plugBoard(nullptr, "1-3");
    EXPECT_EQ(MPUSBGetDeviceCount(kBoardVidPid.c_str()), 2u);

    testbed().unplug(first);
    EXPECT_EQ(interfacePaths(),
              std::vector<std::string>{"\\\\?\\usb#vid_04d8&pid_0030#1-3" + kClassSuffix});
    EXPECT_EQ(MPUSBGetDeviceCount(kBoardVidPid.c_str()), 1u);
}

TEST_F(LibusbDiscovery, WithNothingPluggedThereIsNoInterface) {
    EXPECT_EQ(MPUSBGetDeviceCount(nullptr), 0u);
    EXPECT_TRUE(interfacePaths().empty());
    EXPECT_EQ(openPipe(0, PIPE_READ), TARVEX_INVALID_HANDLE);
}

// A machine with USB has its controllers' root hubs at least; seeing nothing at all means no USB
// access (a container without /dev/bus/usb), which is not the same as no board.
TEST_F(LibusbDiscovery, SeeingNoUsbDeviceAtAllIsNoUsbAccessAndAnyDeviceIsAccess) {
    const platform::UsbAccess none = platform::nativeUsbAccess();
    EXPECT_EQ(none.state, platform::UsbAccess::State::kUnavailable);
    EXPECT_EQ(none.reason, "no USB device is visible, not even a USB controller");

    DeviceSpec hub = deviceOf(0x05E3, 0x0608, "1-1");
    hub.hub = true;
    testbed().plug(std::move(hub));
    const platform::UsbAccess some = platform::nativeUsbAccess();
    EXPECT_EQ(some.state, platform::UsbAccess::State::kAvailable);
    EXPECT_EQ(some.reason, "");
    EXPECT_EQ(MPUSBGetDeviceCount(nullptr), 0u);
}

}  // namespace
}  // namespace tarvex::libusbtest
