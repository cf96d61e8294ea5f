// The board's two clock chips on the I2C bus, as register files with their identification
// registers read only and their soft reset bits acting:
//
//   Si5326 jitter attenuator at 0x68: registers 134/135 = 0x1A/0x22 (part number 0x1A2,
//     revision 2); register 136 bit 7 (RST_REG) restores every register and clears itself.
//   Si5338 clock generator at 0x70: register 0 = 0x01 (revision B), register 2 = 0x26 (part 38),
//     register 3 = 0x01; register 218 (loss-of-lock and loss-of-signal status) reads 0, all
//     clocks present.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>

#include "emulated/demo/i2c_bus.h"

namespace tarvex::emulated::demo {

class ClockChip : public I2cDevice {
public:
    void write(std::uint8_t reg, std::uint8_t value) override;
    std::uint8_t read(std::uint8_t reg) const override { return registers_[reg]; }
    void powerOn() { registers_ = defaults_; }

protected:
    ClockChip() = default;
    // Called for a write to a writable register, after it is stored.
    virtual void written(std::uint8_t /*reg*/) {}

    std::array<std::uint8_t, 256> defaults_{};
    std::bitset<256> readOnly_;
    std::array<std::uint8_t, 256> registers_{};
};

class Si5326 final : public ClockChip {
public:
    static constexpr std::uint8_t kAddress = 0x68;
    Si5326();

private:
    void written(std::uint8_t reg) override;
};

class Si5338 final : public ClockChip {
public:
    static constexpr std::uint8_t kAddress = 0x70;
    Si5338();
};

}  // namespace tarvex::emulated::demo
