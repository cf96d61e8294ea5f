// Standard USB descriptors of emulated devices, and the answer to a descriptor request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "emulated/board.h"

namespace tarvex::emulated {

// USB 2.0 standard descriptor types.
constexpr std::uint8_t kDeviceDescriptorType = 1;
constexpr std::uint8_t kConfigurationDescriptorType = 2;
constexpr std::uint8_t kStringDescriptorType = 3;

// A full-speed device with one configuration of one vendor-specific interface whose data pipe is
// endpoint 1, 64-byte interrupt transfers both ways (0x01 out, 0x81 in), polled every 1 ms.
Bytes defaultDeviceDescriptor(std::uint16_t vendorId, std::uint16_t productId);
Bytes defaultConfigurationDescriptor();
Bytes stringDescriptor(const std::u16string& text);

// Fills what the identity leaves empty: the serial, the descriptors, and strings 1 to 3
// (manufacturer, product, serial).
DeviceIdentity completeIdentity(DeviceIdentity identity, const std::string& madeUpSerial,
                                const std::u16string& manufacturer, const std::u16string& product);

// The descriptor a device returns for a request of `type` and `index`, or nothing (the device
// stalls the request).  String descriptors are given in any language asked for.
std::optional<Bytes> findDescriptor(const DeviceIdentity& identity, std::uint8_t type,
                                    std::uint8_t index);

}  // namespace tarvex::emulated
