// The mask test: the general one, for masks with a region that is not convex (masks of convex
// regions take analysis/mask_convex.cpp), and what both share.
//
// Hits: every X of the eye is one phase, so the regions' cross-sections at that phase, turned
// into ranges of sample codes, decide every point with that X exactly.  Most columns leave at
// most two ranges of codes free (between the bottom bar and the hexagon, between the hexagon and
// the top bar), so a point costs two comparisons and the regions are looked at only for hits.
//
// Margin: the distance from the mask to the nearest point, measured on a grid of cells 1/512 UI
// wide and 1/512 of the amplitude high: the chessboard distance k, in cells, between the cells
// holding points and the cells the regions touch.  Points k cells apart are at least k - 1 cells
// apart, so (k - 1) cells never overstates the margin and falls short by two cells at most.  The
// chessboard distance is min over cells of max(g, h), g the vertical distance to a touched cell
// of the same column and h the horizontal distance to an occupied cell of the same row: both
// are sweeps over the grid, whatever the number of points.  With hits the margin is exact: the
// deepest hit's distance to its region's edges.
#include "analysis/mask.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "analysis/mask_convex.h"
#include "analysis/mask_frame.h"
#include "analysis/polygon.h"

namespace tarvex::analysis {
namespace {

constexpr std::uint32_t kGridColumns = 512;  // per UI
constexpr std::uint32_t kGridRows = 1024;    // normalised amplitude from kGridLow
// A column of the grid in memory: padded, so that the cells of one level in neighbouring columns
// do not all fall in the same few cache sets.
constexpr std::size_t kStride = kGridRows + 32;
constexpr double kCell = 1.0 / 512;
constexpr double kGridLow = -0.5;
constexpr double kSlack = 1e-9;  // what rounding may move a point across a cell's edge
constexpr std::int16_t kFar = 0x7FFE;  // no occupied or touched cell: farther than any
// What decides the points of one X: the free code ranges (fast), or the regions' ranges.  An
// empty range runs from 0xFFFF down to 0, which no code is in.
// A column of more than two free ranges keeps both empty: its points are all tested against the
// regions' ranges.
struct Column {
    std::uint16_t free0Low = 0xFFFF, free0High = 0, free1Low = 0xFFFF, free1High = 0;
    std::uint32_t cell = 0;              // where its grid column starts in the margin grid
    std::uint32_t first = 0, count = 0;  // its ranges in the shared list
};

class MaskTest {
public:
    MaskTest(const EyePoints& points, const TvaEyeFrame& frame, const TvaMask& mask)
        : points_(points), mask_(mask), frame_(points, frame, mask) {
        buildColumns();
        buildRows();
    }

    PointsProblem run(TvaMaskResult& result, std::uint8_t* flags) {
        result = {};
        occupied_.assign(kGridColumns * kStride, kFar);
        deepest_ = -1.0;
        // The common case in a loop of its own, with everything it needs at hand: a point of a
        // column with at most two free ranges, in one of them, with a 12-bit code.
        const std::uint16_t* px = points_.x;
        const std::uint16_t* py = points_.y;
        const std::uint32_t count = points_.count;
        const std::uint32_t stray = points_.width;
        const Column* columns = columns_.data();
        const std::uint16_t* rows = rowOfCode_.data();
        std::int16_t* occupied = occupied_.data();
        // Most points hit nothing: their flags are cleared all at once, the few hits set theirs.
        if (flags != nullptr) std::fill(flags, flags + count, std::uint8_t{0});
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t x = std::min<std::uint32_t>(px[i], stray);
            const std::uint32_t y = py[i];
            const Column& column = columns[x];
            const bool free = ((y >= column.free0Low) & (y <= column.free0High)) |
                              ((y >= column.free1Low) & (y <= column.free1High));
            if (free && y <= kLargestCode) {
                // Most points land in a cell already marked: reading is cheaper than writing.
                std::int16_t& cell = occupied[column.cell + rows[y]];
                if (cell != 0) cell = 0;
                continue;
            }
            if (x == stray) {
                result = {};
                if (flags != nullptr) std::fill(flags, flags + i, std::uint8_t{0});
                return PointsProblem::kXOutsideEye;
            }
            other(i, x, y, result, flags);
        }
        result.testedSamples = count;
        result.passed = result.failedSamples == 0;
        // + 0.0: a hit right on an edge gives a margin of 0, not -0.
        result.marginPercent = result.passed ? 100.0 * clearance() : -100.0 * deepest_ + 0.0;
        return PointsProblem::kNone;
    }

private:
    // A point the common case does not decide: a column of many free ranges, a code beyond 12
    // bits, or a hit.
    void other(std::uint32_t i, std::uint32_t x, std::uint32_t y, TvaMaskResult& result,
               std::uint8_t* flags) {
        const Column& column = columns_[x];
        std::uint8_t bits = 0;
        for (std::uint32_t k = 0; k < column.count; ++k) {
            const CodeRange& range = ranges_[column.first + k];
            if (y >= static_cast<std::uint32_t>(range.low) && y <= static_cast<std::uint32_t>(range.high))
                bits |= std::uint8_t(1u << range.region);
        }
        if (flags != nullptr) flags[i] = bits;
        if (bits == 0) {
            occupied_[column.cell + rowOfCode(y)] = 0;
            return;
        }
        ++result.failedSamples;
        for (std::uint32_t r = 0; r < mask_.regionCount; ++r)
            if (bits & (1u << r)) ++result.regionHits[r];
        deepest_ = std::max(deepest_, depth(x, y, bits));
    }

    double phase(std::uint32_t x) const { return frame_.phase(x); }
    double normalised(std::int32_t code) const { return frame_.normalised(code); }

    // The code ranges of every region at every X, and the free ranges they leave.
    void buildColumns() {
        columns_.resize(std::size_t{points_.width} + 1);  // the last: X beyond the width
        std::vector<CodeRange> here;
        for (std::uint32_t x = 0; x < points_.width; ++x) {
            const double u = phase(x);
            frame_.rangesAt(x, here);
            Column& column = columns_[x];
            column.first = static_cast<std::uint32_t>(ranges_.size());
            column.count = static_cast<std::uint32_t>(here.size());
            column.cell = static_cast<std::uint32_t>(
                              std::min<double>(std::floor(u * kGridColumns), kGridColumns - 1)) *
                          static_cast<std::uint32_t>(kStride);
            ranges_.insert(ranges_.end(), here.begin(), here.end());
            setFreeRanges(column, here);
        }
    }

    static void setFreeRanges(Column& column, std::vector<CodeRange> taken) {
        std::sort(taken.begin(), taken.end(),
                  [](const CodeRange& a, const CodeRange& b) { return a.low < b.low; });
        std::vector<std::pair<std::int32_t, std::int32_t>> free;
        std::int32_t next = 0;  // the lowest code not yet known to be taken
        for (const CodeRange& t : taken) {
            if (t.low > next) free.emplace_back(next, t.low - 1);
            next = std::max(next, t.high + 1);
        }
        if (next <= 0xFFFF) free.emplace_back(next, 0xFFFF);
        if (free.size() > 2) return;
        const auto set = [](std::uint16_t& low, std::uint16_t& high, std::pair<std::int32_t, std::int32_t> range) {
            low = static_cast<std::uint16_t>(range.first);
            high = static_cast<std::uint16_t>(range.second);
        };
        if (!free.empty()) set(column.free0Low, column.free0High, free[0]);
        if (free.size() > 1) set(column.free1Low, column.free1High, free[1]);
    }

    // ---- the margin grid -------------------------------------------------------------------

    static std::uint32_t rowOf(double v) {
        const double row = std::floor((v - kGridLow) / kCell);
        return static_cast<std::uint32_t>(std::clamp(row, 0.0, double{kGridRows - 1}));
    }
    std::uint32_t rowOfCode(std::uint32_t code) const {
        return code <= kLargestCode ? rowOfCode_[code] : rowOf(normalised(static_cast<std::int32_t>(code)));
    }
    void buildRows() {
        rowOfCode_.resize(std::size_t{kLargestCode} + 1);
        for (std::int32_t code = 0; code <= kLargestCode; ++code)
            rowOfCode_[code] = static_cast<std::uint16_t>(rowOf(normalised(code)));
    }

    // (k - 1) cells, k the chessboard distance between occupied and touched cells.
    double clearance() {
        // h: per row, the distance around the UI to the nearest occupied column; two laps each
        // way carry it across the seam.  Whole columns at a time, so every row moves at once.
        std::vector<std::int16_t>& h = occupied_;
        for (int lap = 0; lap < 2; ++lap) {
            for (std::uint32_t c = 0; c < kGridColumns; ++c)
                stepColumn(&h[c * kStride], &h[(c + kGridColumns - 1) % kGridColumns * kStride]);
        }
        for (int lap = 0; lap < 2; ++lap) {
            for (std::uint32_t c = kGridColumns; c-- > 0;)
                stepColumn(&h[c * kStride], &h[(c + 1) % kGridColumns * kStride]);
        }
        // g: per column, the vertical distance to the nearest row the regions touch; then the
        // least of max(g, h).
        // In 16 bits, so that the loops run eight or more rows at once on any x86-64.
        std::int16_t k = kFar;
        std::vector<std::pair<std::int16_t, std::int16_t>> touched;
        std::vector<std::int16_t> g(kGridRows);
        for (std::uint32_t c = 0; c < kGridColumns; ++c) {
            const double left = c * kCell - kSlack, right = (c + 1) * kCell + kSlack;
            touched.clear();
            for (std::uint32_t r = 0; r < mask_.regionCount; ++r) {
                for (const int image : kImages) {
                    if (right + image < frame_.bounds(r).left || left + image > frame_.bounds(r).right) continue;
                    const auto range = rangeWithin(polygonOf(mask_.regions[r]), left + image, right + image);
                    if (range)
                        touched.emplace_back(static_cast<std::int16_t>(rowOf(range->low - kSlack)),
                                             static_cast<std::int16_t>(rowOf(range->high + kSlack)));
                }
            }
            if (touched.empty()) continue;
            std::fill(g.begin(), g.end(), kFar);
            for (const auto& [low, high] : touched) {
                for (std::int16_t row = 0; row < std::int16_t{kGridRows}; ++row) {
                    const auto below = static_cast<std::int16_t>(low - row);
                    const auto above = static_cast<std::int16_t>(row - high);
                    g[row] = std::min(g[row], std::max({below, above, std::int16_t{0}}));
                }
            }
            const std::int16_t* column = &h[c * kStride];
            for (std::uint32_t row = 0; row < kGridRows; ++row) k = std::min(k, std::max(g[row], column[row]));
        }
        return (k == 0 ? 0.0 : k - 1.0) * kCell;
    }

    static void stepColumn(std::int16_t* column, const std::int16_t* neighbour) {
        for (std::uint32_t r = 0; r < kGridRows; ++r)
            column[r] = std::min(column[r], std::min(static_cast<std::int16_t>(neighbour[r] + 1), kFar));
    }

    // The deepest a hit point lies inside the regions it hit: its distance to their edges.
    double depth(std::uint32_t x, std::uint32_t y, std::uint8_t bits) const {
        const double u = phase(x);
        const double v = normalised(static_cast<std::int32_t>(y));
        double deepest = 0.0;
        for (std::uint32_t r = 0; r < mask_.regionCount; ++r) {
            if (!(bits & (1u << r))) continue;
            const Polygon polygon = polygonOf(mask_.regions[r]);
            for (const int k : kImages) {
                const TvaPoint p{u + k, v};
                if (p.x < frame_.bounds(r).left || p.x > frame_.bounds(r).right || !contains(polygon, p)) continue;
                deepest = std::max(deepest, edgeDistance(polygon, p));
            }
        }
        return deepest;
    }

    const EyePoints& points_;
    const TvaMask& mask_;
    const MaskFrame frame_;
    std::vector<Column> columns_;
    std::vector<CodeRange> ranges_;
    std::vector<std::uint16_t> rowOfCode_;
    std::vector<std::int16_t> occupied_;  // kFar, or 0 where a point is: then h
    double deepest_ = -1.0;
};

// ---- well-formed masks ------------------------------------------------------------------------

std::string regionName(const TvaMask& mask, std::uint32_t r) {
    const TvaMaskRegion& region = mask.regions[r];
    const std::size_t length = strnlen(region.name, TVA_MASK_NAME_BYTES);
    std::string text = "region " + std::to_string(r + 1);
    if (length > 0 && length < TVA_MASK_NAME_BYTES)
        text += " (" + std::string(region.name, length) + ")";
    return text;
}

}  // namespace

std::string maskProblem(const TvaMask& mask) {
    if (mask.regionCount < 1 || mask.regionCount > TVA_MASK_MAX_REGIONS)
        return "a mask has 1 to " + std::to_string(TVA_MASK_MAX_REGIONS) + " regions, not " +
               std::to_string(mask.regionCount);
    for (std::uint32_t r = 0; r < mask.regionCount; ++r) {
        const TvaMaskRegion& region = mask.regions[r];
        if (strnlen(region.name, TVA_MASK_NAME_BYTES) == TVA_MASK_NAME_BYTES)
            return regionName(mask, r) + ": its name is not terminated within " +
                   std::to_string(TVA_MASK_NAME_BYTES) + " bytes";
        if (region.vertexCount < 3 || region.vertexCount > TVA_MASK_MAX_VERTICES)
            return regionName(mask, r) + ": a region has 3 to " +
                   std::to_string(TVA_MASK_MAX_VERTICES) + " points, not " +
                   std::to_string(region.vertexCount);
        for (std::uint32_t v = 0; v < region.vertexCount; ++v) {
            const TvaPoint p = region.vertices[v];
            if (!(p.x >= kMaskLeft && p.x <= kMaskRight && p.y >= -kMaskFar && p.y <= kMaskFar))
                return regionName(mask, r) + ": point " + std::to_string(v + 1) +
                       " is outside the mask's plane (x from -1 to 2 UI, y from -1e6 to 1e6)";
        }
        if (const std::string problem = simplePolygonProblem(polygonOf(region)); !problem.empty())
            return regionName(mask, r) + " is not a simple polygon: " + problem;
    }
    return {};
}

bool hexagonMask(double x1, double x2, double y1, double y2, TvaMask& mask) {
    mask = {};
    if (!(x1 >= 0 && x1 < x2 && x2 < 0.5 && y1 > 0 && y1 < 0.5 && y2 >= 0 && y2 <= 1e5))
        return false;
    const auto region = [&](const char* name, std::initializer_list<TvaPoint> points) {
        TvaMaskRegion& r = mask.regions[mask.regionCount++];
        std::strncpy(r.name, name, TVA_MASK_NAME_BYTES - 1);
        for (const TvaPoint& p : points) r.vertices[r.vertexCount++] = p;
    };
    region("hexagon", {{x1, 0.5}, {x2, y1}, {1 - x2, y1}, {1 - x1, 0.5}, {1 - x2, 1 - y1}, {x2, 1 - y1}});
    // The bars span two UIs, so every phase meets them.
    region("top", {{-0.5, 1 + y2}, {1.5, 1 + y2}, {1.5, kMaskFar}, {-0.5, kMaskFar}});
    region("bottom", {{-0.5, -kMaskFar}, {1.5, -kMaskFar}, {1.5, -y2}, {-0.5, -y2}});
    return true;
}

bool frameUsable(const TvaEyeFrame& frame) {
    return std::isfinite(frame.crossingPhase) && frame.crossingPhase >= 0 &&
           frame.crossingPhase < 1 && std::isfinite(frame.zeroLevel) &&
           std::isfinite(frame.oneLevel) && frame.oneLevel > frame.zeroLevel &&
           std::isfinite(frame.oneLevel - frame.zeroLevel);
}

PointsProblem testMask(const EyePoints& points, const TvaEyeFrame& frame, const TvaMask& mask,
                       TvaMaskResult& result, std::uint8_t* regionFlags, VectorUnit unit) {
    if (allRegionsConvex(mask)) return testConvexMask(points, frame, mask, result, regionFlags, unit);
    MaskTest test(points, frame, mask);
    return test.run(result, regionFlags);
}

}  // namespace tarvex::analysis
