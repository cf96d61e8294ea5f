// The board's Ethernet settings, kept in its non-volatile memory: they survive a reset.
#pragma once

#include <array>
#include <cstdint>

#include "emulated/demo/protocol.h"

namespace tarvex::emulated::demo {

struct NetworkSettings {
    using Address = std::array<std::uint8_t, kIpAddressBytes>;
    using Mac = std::array<std::uint8_t, kMacAddressBytes>;

    Address ipAddress{192, 168, 1, 50};
    Address ipMask{255, 255, 255, 0};
    Address gateway{192, 168, 1, 1};
    // Locally administered (bit 1 of the first byte), unicast: 02-54-56-58 is "TVX".
    Mac mac{0x02, 0x54, 0x56, 0x58, 0x00, 0x01};

    // The setting a CMD_ETH selector names (4 bytes, 6 for the MAC address); null for others.
    std::uint8_t* field(std::uint8_t selector, std::size_t& size);
};

}  // namespace tarvex::emulated::demo
