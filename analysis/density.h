// The eye as a density: how many points fall in each cell of a grid over one unit interval and
// a range of sample codes.  The tool's picture and the live view draw it; the measurements count
// on a grid of their own (measure.cpp) with the same mapping of X to columns.
#pragma once

#include <cstdint>

#include "analysis/eye_points.h"
#include "tarvex_analysis.h"

namespace tarvex::analysis {

constexpr std::uint32_t kMaxLayoutCells = 4096;  // columns, and rows, at most

bool layoutUsable(const TvaHistogramLayout& layout);

// Counts the points into counts[row * columns + column] (rows * columns elements, zeroed first).
// kXOutsideEye when a point's X is not below the width; the counts are then zeroed.
PointsProblem countDensity(const EyePoints& points, const TvaHistogramLayout& layout,
                           std::uint32_t* counts);

// Columns per unit interval that draw the eye cleanly, and the origin that puts each phase an
// equivalent-time sampler visits in the middle of its column, column 0 starting at the crossing.
struct SuggestedColumns {
    std::uint32_t columns = 1;
    double origin = 0.0;
};
SuggestedColumns suggestColumns(const EyePoints& points, double foldStep, double crossingPhase);

}  // namespace tarvex::analysis
