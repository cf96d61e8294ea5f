// The eye points every analysis works on, and where each lies within the unit interval.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace tarvex::analysis {

constexpr std::uint16_t kLargestCode = 4095;  // 12-bit samples

struct EyePoints {
    const std::uint16_t* x = nullptr;  // 0 <= x < width
    const std::uint16_t* y = nullptr;  // sample codes
    std::uint32_t count = 0;
    std::uint16_t width = 0;  // one unit interval
};

// Why a set of points cannot be analysed.
enum class PointsProblem { kNone, kNullPointer, kNoPoints, kZeroWidth, kXOutsideEye, kYAboveCode };

// The cheap checks (pointers, count, width); the per-point ones run inside each analysis's own
// pass over the points, so a check costs no pass of its own.
PointsProblem checkShape(const EyePoints& points);

// A point's phase: X is truncated from width x (exact position), so the middle of its step,
// (X + 0.5) / width, is the better estimate.  0 < phase < 1.
inline double phaseOf(std::uint32_t x, std::uint16_t width) {
    return (static_cast<double>(x) + 0.5) / width;
}

// v taken around the unit interval into [0, 1).
inline double wrapUnit(double v) {
    v -= std::floor(v);
    return v >= 1.0 ? 0.0 : v;
}

// For each X of the eye (0 .. width - 1), the column of `columns` per unit interval that holds
// its phase, columns starting at `origin`.
std::vector<std::uint16_t> columnOfX(std::uint16_t width, std::uint32_t columns, double origin);

}  // namespace tarvex::analysis
