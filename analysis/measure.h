// NRZ eye measurements, by the sampling-scope definitions (docs/analysis.md states each one, its
// window and its minimum sample count, and derives its expected value for the demo signal).
//
// The points are counted once into a grid over one unit interval (512 columns) and the sample
// codes (1024 rows of 4 codes), as a sampling scope keeps its colour-grade database, and every
// measurement is taken from that grid: one pass over the points, then work that does not grow
// with their number.
#pragma once

#include <cstdint>

#include "analysis/eye_points.h"
#include "tarvex_analysis.h"

namespace tarvex::analysis {

// The definitions' windows, bands and minimums.
namespace eye {
constexpr std::uint32_t kColumns = 512;        // per unit interval
constexpr std::uint32_t kRowCodes = 4;         // codes per row
constexpr std::uint32_t kRows = 4096 / kRowCodes;
constexpr double kWindowStart = 0.40;          // the eye window, UI after the crossing
constexpr double kWindowEnd = 0.60;
constexpr double kMidBandLow = 0.30;           // the transitions that find the crossing first
constexpr double kMidBandHigh = 0.70;
constexpr double kCrossingSlice = 0.02;        // UI either side of the crossing time
constexpr double kCrossingBand = 0.025;        // of the amplitude, either side of the crossing level
constexpr double kEdgeBand = 0.015;            // of the amplitude, either side of a threshold
constexpr double kSlopeOffset = 0.10;          // of the amplitude, either side of the crossing
constexpr double kNoiseSigmas = 3.0;           // a threshold must clear the levels by this
constexpr double kRobustSigmas = 5.0;          // time histograms are kept to their mean +- this
constexpr double kMinQ = 2.0;                  // below: the levels cannot be told apart
constexpr std::uint32_t kMinLevelSamples = 30;     // each of the one and zero levels
constexpr std::uint32_t kMinCrossingSamples = 30;  // the crossing level and the crossing times
constexpr std::uint32_t kMinEdgeSamples = 10;      // each threshold of an edge
constexpr std::uint32_t kPhasePoints = 65536;      // points whose X give the columns' phases
}  // namespace eye

// Measures the points (folded at dataRate bits per second) into `out`.  With a problem in the
// points themselves (kXOutsideEye, kYAboveCode) `out` is zeroed.  The shape is checked by the
// caller (checkShape) and dataRate is positive and finite.
PointsProblem measureEye(const EyePoints& points, double dataRate, TvaEyeMeasurements& out);

}  // namespace tarvex::analysis
