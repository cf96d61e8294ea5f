// Internal interface of the pipe layer: device discovery and the driver's constants.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace tarvex::usb {

// The driver's device-interface class {5354FA28-6D14-4E35-A1F5-75BB54E6030F}.
inline constexpr platform::Guid DEVICE_INTERFACE_GUID = {
    0x5354FA28, 0x6D14, 0x4E35, {0xA1, 0xF5, 0x75, 0xBB, 0x54, 0xE6, 0x03, 0x0F}};

// Member indexes 0..126 are scanned when counting devices.
inline constexpr std::uint32_t DEVICE_SCAN_COUNT = 127;

// Driver control codes (device type 0x22, method buffered).
inline constexpr std::uint32_t CTL_GET_DESCRIPTOR = 0x00226004;     // function 0x801, read access
inline constexpr std::uint32_t CTL_SET_CONFIGURATION = 0x0022A00C;  // function 0x803, write access
inline constexpr std::uint32_t CTL_READ_INTERRUPT = 0x00226018;     // function 0x806, read access

// Results of GetInterfacePath.
enum PathResult : std::uint32_t {
    PATH_TOO_LONG = 0,      // found (and matching) but the path does not fit; nothing copied
    PATH_OK = 1,            // found (and matching); path copied if a buffer was given
    PATH_SYSTEM_FAIL = 2,   // snapshot, detail memory or interface detail not to be had
    PATH_NO_INTERFACE = 3,  // no interface at this member index
    PATH_OTHER_DEVICE = 4,  // the interface belongs to another vendor/product
};

// Finds the interface at `memberIndex`; with `vidPid` given it must belong to that
// vendor/product.  Stores the path's length (without terminator) through `pathLength` as soon as
// the interface is known to qualify (0 otherwise), and copies the path into `path` when
// `pathSize` leaves room for its terminator.
PathResult GetInterfacePath(std::uint32_t memberIndex, const char* vidPid, char* path,
                            std::uint32_t pathSize, std::uint32_t* pathLength);

// 1 if the instance identifier of the device owning the interface at `path` contains `vidPid`
// (the identifier is lowered first, `vidPid` is not), else 0.  `path` is modified while the call
// runs and holds the same text again when it returns.
int MatchVidPid(char* path, const char* vidPid);

}  // namespace tarvex::usb
