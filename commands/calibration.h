// The board's seven scope calibration values and their wire format: a 16-bit integer part and a
// 16-bit fraction in ten-thousandths, each little-endian, four bytes per value.
#pragma once

#include <cstdint>

namespace tarvex::commands {

constexpr double CALIB_SCALE = 10000.0;
constexpr std::uint32_t kCalibEntryBytes = 4;

struct CalibEntry {
    std::uint16_t intPart;
    std::uint16_t fracPart;
};

// In double arithmetic on the exact value of v: intPart = trunc(v) modulo 65536; fracPart =
// trunc((v - intPart) x 10000) modulo 65536.  0 <= v < 65536 gives the integer part and the
// first four decimals, cut, never rounded; other values give the 16-bit remainders (-0.5 is
// 0 and 60536).  Every float has an encoding: NaN and the infinities encode as 0 and 0, and
// values whose truncations do not fit a 32-bit integer take the same remainders computed
// exactly (all floats of 2^40 and more, and the infinities as their limit, are 0 and 0).
CalibEntry encodeCalib(float v);

// fracPart / 10000 rounded to a float, plus intPart in float arithmetic.  Any 16-bit fraction
// is accepted (0xFFFF reads as 6.5535).
float decodeCalib(CalibEntry entry);

}  // namespace tarvex::commands
