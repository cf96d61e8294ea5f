#include "analysis/density.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tarvex::analysis {
namespace {

constexpr std::uint32_t kMaxSuggestedColumns = 200;

}  // namespace

bool layoutUsable(const TvaHistogramLayout& layout) {
    return layout.columns >= 1 && layout.columns <= kMaxLayoutCells && layout.rows >= 1 &&
           layout.rows <= kMaxLayoutCells && std::isfinite(layout.originPhase) &&
           layout.originPhase >= 0.0 && layout.originPhase < 1.0 && std::isfinite(layout.yLow) &&
           std::isfinite(layout.yHigh) && layout.yHigh > layout.yLow;
}

PointsProblem countDensity(const EyePoints& points, const TvaHistogramLayout& layout,
                           std::uint32_t* counts) {
    const std::uint32_t cells = layout.columns * layout.rows;
    std::fill(counts, counts + cells, 0u);
    const std::vector<std::uint16_t> columnOf =
        columnOfX(points.width, layout.columns, layout.originPhase);
    const double rowsPerCode = layout.rows / (layout.yHigh - layout.yLow);
    const auto rowStartOf = [&](std::uint32_t code) {
        const double row = std::floor((layout.yHigh - code) * rowsPerCode);
        const double clamped = std::clamp(row, 0.0, static_cast<double>(layout.rows - 1));
        return static_cast<std::uint32_t>(clamped) * layout.columns;
    };
    // The row of every 12-bit code, worked out once; codes above come from no board and are
    // worked out as they come.
    std::vector<std::uint32_t> rowStart(std::size_t{kLargestCode} + 1);
    for (std::uint32_t code = 0; code <= kLargestCode; ++code) rowStart[code] = rowStartOf(code);
    bool outside = false;
    for (std::uint32_t i = 0; i < points.count; ++i) {
        const std::uint16_t x = points.x[i];
        outside |= x >= points.width;
        const std::uint16_t y = points.y[i];
        const std::uint32_t row = y <= kLargestCode ? rowStart[y] : rowStartOf(y);
        ++counts[row + columnOf[std::min<std::uint32_t>(x, points.width - 1u)]];
    }
    if (!outside) return PointsProblem::kNone;
    std::fill(counts, counts + cells, 0u);
    return PointsProblem::kXOutsideEye;
}

SuggestedColumns suggestColumns(const EyePoints& points, double foldStep, double crossingPhase) {
    SuggestedColumns suggested;
    // An equivalent-time sampler whose step is a fraction p/q of the bit visits q evenly spread
    // phases, over and over: one column per phase draws the eye without gaps or doubled columns.
    const double samples = std::max(1.0, static_cast<double>(points.count));
    std::uint32_t columns = 0;
    for (std::uint32_t q = 1; q <= kMaxSuggestedColumns && columns == 0; ++q) {
        const double p = std::round(foldStep * q);
        // The phases drift off the q-point pattern by this much over the whole capture.
        if (std::fabs(foldStep - p / q) * samples < 0.1 / q) columns = q;
    }
    // Other steps spread the samples over the whole bit: a column per distinct X, at most 200.
    if (columns == 0) {
        std::vector<bool> seen(points.width, false);
        std::uint32_t distinct = 0;
        for (std::uint32_t i = 0; i < points.count; ++i) {
            const std::uint32_t x = std::min<std::uint32_t>(points.x[i], points.width - 1u);
            if (!seen[x]) {
                seen[x] = true;
                ++distinct;
            }
        }
        columns = std::clamp<std::uint32_t>(distinct, 1, kMaxSuggestedColumns);
    }
    suggested.columns = columns;
    // The phases sit on multiples of 1/q: starting half a column after one puts each in the
    // middle of its column, which a phase's half-step of rounding never leaves.
    suggested.origin = wrapUnit((std::floor(wrapUnit(crossingPhase) * columns) + 0.5) / columns);
    return suggested;
}

}  // namespace tarvex::analysis
