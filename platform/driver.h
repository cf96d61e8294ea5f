// What the board vendor's USB driver is known by: its device-interface class, the control codes
// it serves, the board's vendor and product, and the name of the board's data pipe.  The pipe
// layer uses these to talk to the driver, and every backend (Win32 aside, which only passes the
// calls on) uses them to stand in for it, so they are written here once.
//
// The vendor/product text and the pipe name are part of the public header (host programs pass
// them to MPUSBOpen); they are defined there and only named here.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"
#include "tarvex.h"

namespace tarvex::driver {

// The driver's device-interface class {5354FA28-6D14-4E35-A1F5-75BB54E6030F}.
inline constexpr platform::Guid DEVICE_INTERFACE_GUID = {
    0x5354FA28, 0x6D14, 0x4E35, {0xA1, 0xF5, 0x75, 0xBB, 0x54, 0xE6, 0x03, 0x0F}};

// The class as interface paths and registry key names write it: lower-case hexadecimal.
inline constexpr std::string_view kInterfaceClassText = "{5354fa28-6d14-4e35-a1f5-75bb54e6030f}";

// Control codes (device type 0x22, method buffered).
inline constexpr std::uint32_t CTL_GET_DESCRIPTOR = 0x00226004;     // function 0x801, read access
inline constexpr std::uint32_t CTL_SET_CONFIGURATION = 0x0022A00C;  // function 0x803, write access
inline constexpr std::uint32_t CTL_READ_INTERRUPT = 0x00226018;     // function 0x806, read access

// The board: its USB vendor and product, as numbers and as the lower-case text the vendor/product
// test looks for in a device instance identifier.
inline constexpr std::uint16_t kBoardVendorId = 0x04D8;
inline constexpr std::uint16_t kBoardProductId = 0x0030;
inline constexpr std::string_view kBoardVidPid = TARVEX_BOARD_VID_PID;

// The board's data pipe, appended to the interface path ("<path>\MCHP_EP1").
inline constexpr std::string_view kDataPipeName = TARVEX_BOARD_PIPE;

// Where the registry keeps each interface's key, under HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kDeviceClassesKey =
    "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\DEVICECLASSES\\";

}  // namespace tarvex::driver
