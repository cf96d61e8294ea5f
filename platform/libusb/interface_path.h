// The names under which a USB device appears to the library on Linux: its interface path, the
// registry key the library forms from that path, and the device instance text stored there.
//
//   interface path   \\?\usb#vid_04d8&pid_0030#1-2.3#{5354fa28-6d14-4e35-a1f5-75bb54e6030f}
//   device instance  USB\VID_04D8&PID_0030\1-2.3
//
// "1-2.3" is where the device sits: bus 1, port 3 of the hub on port 2 of the root hub, as
// sysfs names it.  The location keeps the path stable while the device stays plugged in the
// same port, and tells two boards of the same vendor and product apart.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::platform::libusb {

// Where a device sits on the USB tree.
struct Location {
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports;  // from the root hub down; empty for a root hub

    std::string text() const;  // "1-2.3"; a root hub is "1-0"
    auto operator<=>(const Location&) const = default;
};

struct InterfaceId {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    Location location;

    bool operator==(const InterfaceId&) const = default;
};

std::string interfacePath(const InterfaceId& id);
// Reads a path that interfacePath wrote (letters in any case); nothing else.
std::optional<InterfaceId> parseInterfacePath(std::string_view path);

std::string deviceInstance(const InterfaceId& id);

// Reads the name of the key that holds an interface's "DeviceInstance": the device classes key
// of the driver's class, a backslash, and the interface path with its characters 0, 1 and 3
// written as '#'.
std::optional<InterfaceId> parseRegistryKey(std::string_view subKey);

bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace tarvex::platform::libusb
