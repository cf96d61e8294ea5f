#include "emulated/descriptors.h"

namespace tarvex::emulated {
namespace {

std::uint8_t lo(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t hi(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }

constexpr std::uint16_t kLanguageEnglishUs = 0x0409;

}  // namespace

Bytes defaultDeviceDescriptor(std::uint16_t vendorId, std::uint16_t productId) {
    return {
        18, kDeviceDescriptorType,
        0x00, 0x02,                     // bcdUSB 2.00
        0x00, 0x00, 0x00,               // class, subclass, protocol: given by the interface
        64,                             // bMaxPacketSize0
        lo(vendorId), hi(vendorId),
        lo(productId), hi(productId),
        0x00, 0x01,                     // bcdDevice 1.00
        1, 2, 3,                        // manufacturer, product, serial strings
        1,                              // one configuration
    };
}

Bytes defaultConfigurationDescriptor() {
    return {
        // configuration 1: 32 bytes in all, one interface, bus powered, 100 mA
        9, kConfigurationDescriptorType, 32, 0, 1, 1, 0, 0x80, 50,
        // interface 0: two endpoints, vendor-specific class
        9, 4, 0, 0, 2, 0xFF, 0x00, 0x00, 0,
        // endpoint 0x01 OUT and 0x81 IN: interrupt, 64 bytes, every 1 ms
        7, 5, 0x01, 0x03, 64, 0, 1,
        7, 5, 0x81, 0x03, 64, 0, 1,
    };
}

Bytes stringDescriptor(const std::u16string& text) {
    Bytes d{static_cast<std::uint8_t>(2 + 2 * text.size()), kStringDescriptorType};
    for (char16_t c : text) {
        d.push_back(lo(static_cast<std::uint16_t>(c)));
        d.push_back(hi(static_cast<std::uint16_t>(c)));
    }
    return d;
}

DeviceIdentity completeIdentity(DeviceIdentity identity, const std::string& madeUpSerial,
                                const std::u16string& manufacturer, const std::u16string& product) {
    if (identity.serial.empty()) identity.serial = madeUpSerial;
    if (identity.deviceDescriptor.empty())
        identity.deviceDescriptor = defaultDeviceDescriptor(identity.vendorId, identity.productId);
    if (identity.configurationDescriptors.empty())
        identity.configurationDescriptors.push_back(defaultConfigurationDescriptor());
    if (identity.strings.empty()) {
        std::u16string serial(identity.serial.begin(), identity.serial.end());
        identity.strings = {manufacturer, product, serial};
    }
    return identity;
}

std::optional<Bytes> findDescriptor(const DeviceIdentity& identity, std::uint8_t type,
                                    std::uint8_t index) {
    switch (type) {
    case kDeviceDescriptorType:
        if (index == 0) return identity.deviceDescriptor;
        break;
    case kConfigurationDescriptorType:
        if (index < identity.configurationDescriptors.size())
            return identity.configurationDescriptors[index];
        break;
    case kStringDescriptorType:
        if (index == 0)
            return Bytes{4, kStringDescriptorType, lo(kLanguageEnglishUs), hi(kLanguageEnglishUs)};
        if (index <= identity.strings.size()) return stringDescriptor(identity.strings[index - 1]);
        break;
    default:
        break;
    }
    return std::nullopt;
}

}  // namespace tarvex::emulated
