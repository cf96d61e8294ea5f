#include "emulated/demo/eeprom.h"

#include <algorithm>
#include <cstring>

namespace tarvex::emulated::demo {

Eeprom::Eeprom() {
    bytes_.fill(0xFF);
    std::memcpy(&bytes_[0], "TVX1", 4);
    bytes_[4] = 0x02;
    std::memcpy(&bytes_[8], "DS004217", 8);
    const std::uint8_t mac[6] = {0x02, 0x54, 0x56, 0x58, 0x00, 0x01};
    std::copy(mac, mac + 6, &bytes_[16]);
}

}  // namespace tarvex::emulated::demo
