#include "emulated/demo/i2c_bus.h"

#include <algorithm>

namespace tarvex::emulated::demo {

I2cDevice* I2cBus::device(std::uint8_t address) const {
    const auto found = devices_.find(address);
    return found == devices_.end() ? nullptr : found->second;
}

bool I2cBus::write(std::uint8_t address, std::uint8_t reg, const std::uint8_t* data,
                   std::size_t count) {
    I2cDevice* target = device(address);
    if (target == nullptr) {
        ++naks_;
        return false;
    }
    for (std::size_t i = 0; i < count; ++i)
        target->write(static_cast<std::uint8_t>(reg + i), data[i]);
    return true;
}

bool I2cBus::read(std::uint8_t address, std::uint8_t reg, std::uint8_t* out,
                  std::size_t count) const {
    const I2cDevice* source = device(address);
    if (source == nullptr) {
        ++naks_;
        std::fill(out, out + count, std::uint8_t{0xFF});
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) out[i] = source->read(static_cast<std::uint8_t>(reg + i));
    return true;
}

}  // namespace tarvex::emulated::demo
