// A 24LC02 serial EEPROM: 256 bytes, one address byte.  The board's microcontroller splits a
// long write into the chip's 8-byte pages itself, so a block write lands byte for byte; the
// address wraps from 255 to 0 as the chip's own counter does.
//
// It leaves the factory holding the board's identity; the rest reads 0xFF (erased):
//   0..3 "TVX1" magic, 4 hardware revision, 8..15 serial number "DS004217" in ASCII,
//   16..21 the factory MAC address.
#pragma once

#include <array>
#include <cstdint>

#include "emulated/demo/i2c_bus.h"

namespace tarvex::emulated::demo {

class Eeprom final : public I2cDevice {
public:
    static constexpr std::uint8_t kAddress = 0x50;
    static constexpr std::size_t kSize = 256;

    Eeprom();
    void write(std::uint8_t reg, std::uint8_t value) override { bytes_[reg] = value; }
    std::uint8_t read(std::uint8_t reg) const override { return bytes_[reg]; }

    const std::array<std::uint8_t, kSize>& bytes() const { return bytes_; }

private:
    std::array<std::uint8_t, kSize> bytes_;
};

}  // namespace tarvex::emulated::demo
