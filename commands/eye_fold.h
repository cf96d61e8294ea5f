// Eye folding: each sample of a capture gets as X its position within one period of the data
// signal, scaled to the eye's width; its Y is the sample itself.
//
// The arithmetic is IEEE double in a fixed order, and its rounding shows in the results (a
// sample can land just short of the full width instead of on 0), so host programs that compare
// eyes across builds get the same integers everywhere.
#pragma once

#include <cstdint>
#include <optional>

namespace tarvex::commands {

constexpr std::uint16_t EYE_MIN_START = 4096;  // one more than the largest 12-bit sample
constexpr std::uint16_t EYE_SCALE_LIMIT = 10;  // largest xScale taken as a multiplier

struct EyeRange {
    std::uint16_t minimum;  // smallest nonzero sample (0 when no sample is nonzero)
    std::uint16_t maximum;  // largest sample
    std::uint16_t width;    // span of the X axis
};

// The fraction of a data period that one sample period advances:
//   ratio = (1 / sampleRate) / (1 / dataRate), each reciprocal rounded to a double;
//   foldStep = ratio - (ratio truncated to a signed 32-bit integer).
// Empty for rates that are zero, negative or not finite, and for a ratio that does not fit a
// signed 32-bit integer: such rates give no eye, and every X is then 0.
std::optional<double> eyeFoldStep(double dataRate, double sampleRate);

// The vector unit the fold runs on.  Every unit gives the same integers (the same IEEE double
// operations in the same order, only several samples at once); Best picks the widest the CPU
// has, and so does a unit this CPU or build lacks.  The others exist for the tests and
// benchmarks that compare them.
enum class FoldUnit { kBest, kScalar, kSse2, kAvx2, kAvx512 };
bool foldUnitAvailable(FoldUnit unit);

// Folds `count` samples in place: finds the range (zeros count for the maximum only), works out
// the width from xScale (0: the range, 1..10: that multiple of it, above 10: xScale itself; in
// 32-bit arithmetic kept to 16 bits), replaces every 0 in eyeY by the minimum and writes
// eyeX[i] = trunc(width * frac(i * foldStep)).
// Samples with no nonzero value keep their zeros and use 0 as the minimum, so the width is 0
// for xScale 0..10.  Two linear passes, no allocation.
EyeRange foldEye(std::uint16_t* eyeY, std::uint16_t* eyeX, std::uint32_t count, double dataRate,
                 double sampleRate, std::uint16_t xScale, FoldUnit unit = FoldUnit::kBest);

}  // namespace tarvex::commands
