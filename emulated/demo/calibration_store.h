// The seven scope calibration values, kept in the board's non-volatile memory as the 28-byte
// block the host sends: per value a 16-bit integer part and a 16-bit fraction in 1/10000, both
// little-endian.  The firmware stores the block as it came; it does not interpret it.
//
// A read answers one origin byte, then the block: 0x01 while the factory values are in place,
// 0x02 once the host has stored its own.
//
// Factory values, in order: gain 1.0, zero code 2048.0, 0.6104 mV per code, calibration
// temperature 25.0, timebase scale 1.012, delay step 12.5, skew 0.0.
#pragma once

#include <array>
#include <cstdint>

#include "emulated/demo/protocol.h"

namespace tarvex::emulated::demo {

class CalibrationStore {
public:
    using Block = std::array<std::uint8_t, kCalibrationBlockBytes>;
    static constexpr std::uint8_t kFactory = 0x01;
    static constexpr std::uint8_t kUserStored = 0x02;

    CalibrationStore();

    void store(const std::uint8_t* block);
    Bytes reply() const;

    const Block& block() const { return block_; }
    std::uint8_t origin() const { return origin_; }

private:
    Block block_{};
    std::uint8_t origin_ = kFactory;
};

}  // namespace tarvex::emulated::demo
