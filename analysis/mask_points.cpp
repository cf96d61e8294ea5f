// The mask test: the hits, each point's region bits, and the margin, exactly.
//
// Hits: every X of the eye is one phase, so the regions' cross-sections at that phase, turned
// into ranges of sample codes (MaskFrame), decide every point with that X exactly.
//
// Distance: for a point outside the mask, its L-infinity distance to each region (and to the
// region's copies a UI either way).  A convex region grown by m (every point swept by a square
// of half-side m) is the set where no edge's line, and no side of the region's bounding box, is
// passed by more than m times (|nx| + |ny|), n the side's outward normal: the square reaches
// |nx| + |ny| along n.  So the distance is the largest of (n.p - c) / (|nx| + |ny|) over the
// edges and the box's sides, a few multiplications; inside, its negation is the point's depth.
// A region that is not convex takes the distance to its nearest edge.
//
// Most points need nothing of that: the margin is the least distance, and every point farther
// from the mask than the least distance found so far changes nothing.  A table over 64 cells of
// X (analysis/mask_filter.h) gives the codes that are certainly that far or farther; only the
// points outside them are looked at closely.  The distance found so far starts from a few points
// spread over the eye and shrinks as the pass goes, the table following it; a hit makes only the
// hits count (the margin is then the deepest hit's depth).  The points looked at closely include
// every point closer than any table's distance, so the least distance found is the least of all.
#include "analysis/mask.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "analysis/mask_filter.h"
#include "analysis/mask_frame.h"
#include "analysis/polygon.h"

namespace tarvex::analysis {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::uint32_t kSamplePoints = 64;     // the first distance, from points spread evenly
constexpr std::uint32_t kFirstChunk = 4096;     // points between two looks at the table
constexpr std::uint32_t kLargestChunk = 262144;
// A table is made again when the points left would otherwise cost this many close looks.
constexpr double kLooksWorthATable = 256;
// Codes further than this from the levels (a frame of a tiny amplitude) are taken as this far:
// they are farther from the mask than it reaches, and the distances stay finite.
constexpr double kFarthestCode = 1e12;

// a u + b v - c: how far (u, v) lies beyond an edge's line, in L-infinity terms.
struct Plane {
    double a, b, c;
};

struct Region {
    Polygon polygon;
    bool convex;
    std::vector<Plane> planes;  // of a convex region
    double left, right, bottom, top;

    double beyond(double u, double v) const {
        double d = -kInfinity;
        for (const Plane& p : planes) d = std::max(d, p.a * u + p.b * v - p.c);
        return d;
    }
    // A lower bound of the distance: how far (u, v) lies outside the bounding box.
    double outsideBox(double u, double v) const {
        return std::max(std::max(left - u, u - right), std::max(bottom - v, v - top));
    }
    // The distance of a point outside the region.
    double distance(double u, double v) const {
        return convex ? beyond(u, v) : edgeDistance(polygon, {u, v});
    }
    // How deep a point lies inside the region; negative or 0 for one outside (a convex region's
    // only while within its bounding box's columns).
    double depth(double u, double v) const {
        if (convex) return u >= left && u <= right ? -beyond(u, v) : 0.0;
        return contains(polygon, {u, v}) ? edgeDistance(polygon, {u, v}) : 0.0;
    }
};

double cross(TvaPoint o, TvaPoint a, TvaPoint b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool isConvex(Polygon polygon) {
    const std::size_t n = polygon.size();
    bool left = false, right = false;
    for (std::size_t i = 0; i < n; ++i) {
        const double turn = cross(polygon[i], polygon[(i + 1) % n], polygon[(i + 2) % n]);
        left = left || turn > 0;
        right = right || turn < 0;
    }
    return !(left && right);
}

Region regionOf(Polygon polygon) {
    const std::size_t n = polygon.size();
    double area = 0;
    Region region{polygon, isConvex(polygon), {}, polygon[0].x, polygon[0].x, polygon[0].y, polygon[0].y};
    for (std::size_t i = 0; i < n; ++i) {
        const TvaPoint a = polygon[i], b = polygon[(i + 1) % n];
        area += a.x * b.y - b.x * a.y;
        region.left = std::min(region.left, a.x);
        region.right = std::max(region.right, a.x);
        region.bottom = std::min(region.bottom, a.y);
        region.top = std::max(region.top, a.y);
    }
    if (!region.convex) return region;
    const double outward = area > 0 ? 1.0 : -1.0;  // counter-clockwise: (dy, -dx) points out
    for (std::size_t i = 0; i < n; ++i) {
        const TvaPoint a = polygon[i], b = polygon[(i + 1) % n];
        const double nx = outward * (b.y - a.y), ny = outward * (a.x - b.x);
        const double reach = std::fabs(nx) + std::fabs(ny);
        region.planes.push_back({nx / reach, ny / reach, (nx * a.x + ny * a.y) / reach});
    }
    region.planes.push_back({1, 0, region.right});
    region.planes.push_back({-1, 0, -region.left});
    region.planes.push_back({0, 1, region.top});
    region.planes.push_back({0, -1, -region.bottom});
    return region;
}

class MaskTest {
public:
    MaskTest(const EyePoints& points, const TvaEyeFrame& frame, const TvaMask& mask,
                   TvaMaskResult& result, std::uint8_t* flags)
        : points_(points), frame_(points, frame, mask), result_(result), flags_(flags),
          columnOf_(points.width, 0) {
        for (std::uint32_t r = 0; r < mask.regionCount; ++r)
            regions_.push_back(regionOf(polygonOf(mask.regions[r])));
    }

    PointsProblem run(VectorUnit unit) {
        result_ = {};
        const std::uint32_t count = points_.count;
        for (std::uint32_t j = 0; j < kSamplePoints; ++j) {
            const auto i = static_cast<std::uint32_t>(std::uint64_t{j} * count / kSamplePoints);
            if (points_.x[i] >= points_.width) return stray();
            guess(points_.x[i], points_.y[i]);
        }
        ClearTable table = clearTable(tableDistance());
        // Left uninitialised: a chunk writes only the entries it lists, and most chunks list
        // a few, so most of its pages are never touched.
        const std::unique_ptr<std::uint32_t[]> unclear(new std::uint32_t[std::min(count, kLargestChunk)]);
        std::uint32_t chunk = kFirstChunk;
        for (std::uint32_t begin = 0; begin < count;) {
            const std::uint32_t end = begin + std::min(chunk, count - begin);
            const std::uint32_t found =
                findUnclear(points_, table, begin, end, flags_, unclear.get(), unit);
            for (std::uint32_t k = 0; k < found; ++k)
                if (!look(unclear[k])) return stray();
            // A closer distance makes a table that lets more points by; it is made when the
            // points left would cost more close looks than making it.
            const double left = count - end;
            if (tableDistance() < tableDistance_ &&
                (failing_ || found * left / (end - begin) > kLooksWorthATable))
                table = clearTable(tableDistance());
            begin = end;
            chunk = std::min(chunk * 2, kLargestChunk);
        }
        result_.testedSamples = count;
        result_.passed = result_.failedSamples == 0;
        // + 0.0: a point right on an edge gives a margin of 0, not -0.
        result_.marginPercent =
            result_.passed ? 100.0 * std::max(nearest_, 0.0) + 0.0 : -100.0 * deepest_ + 0.0;
        return PointsProblem::kNone;
    }

private:
    PointsProblem stray() {
        result_ = {};
        if (flags_ != nullptr) std::fill(flags_, flags_ + points_.count, std::uint8_t{0});
        return PointsProblem::kXOutsideEye;
    }

    // The distance the table is made for: with a hit, only hits matter.
    double tableDistance() const { return failing_ ? 0.0 : nearest_; }

    // A point of the first few: what the table may start from (its hits are counted later).
    void guess(std::uint32_t x, std::uint32_t y) {
        if (regionsAt(x, y) != 0)
            failing_ = true;
        else
            nearest_ = std::min(nearest_, distance(x, y));
    }

    // A point the table could not clear; false for an X beyond the width.
    bool look(std::uint32_t i) {
        const std::uint32_t x = points_.x[i], y = points_.y[i];
        if (x >= points_.width) return false;
        const std::uint8_t bits = regionsAt(x, y);
        if (bits == 0) {
            if (!failing_) nearest_ = std::min(nearest_, distance(x, y));
            return true;
        }
        failing_ = true;
        if (flags_ != nullptr) flags_[i] = bits;
        ++result_.failedSamples;
        for (std::uint32_t r = 0; r < regions_.size(); ++r)
            if (bits & (1u << r)) ++result_.regionHits[r];
        deepest_ = std::max(deepest_, depth(x, y, bits));
        return true;
    }

    // The regions holding code y at X, from X's code ranges (found when X is first met).
    std::uint8_t regionsAt(std::uint32_t x, std::uint32_t y) {
        if (columnOf_[x] == 0) {
            frame_.rangesAt(x, here_);
            columns_.push_back({static_cast<std::uint32_t>(ranges_.size()),
                                static_cast<std::uint32_t>(here_.size())});
            ranges_.insert(ranges_.end(), here_.begin(), here_.end());
            columnOf_[x] = static_cast<std::uint32_t>(columns_.size());
        }
        const auto [first, n] = columns_[columnOf_[x] - 1];
        std::uint8_t bits = 0;
        for (std::uint32_t k = first; k < first + n; ++k)
            if (y >= static_cast<std::uint32_t>(ranges_[k].low) &&
                y <= static_cast<std::uint32_t>(ranges_[k].high))
                bits |= std::uint8_t(1u << ranges_[k].region);
        return bits;
    }

    double level(std::uint32_t y) const {
        return std::clamp(frame_.normalised(static_cast<std::int32_t>(y)), -kFarthestCode, kFarthestCode);
    }

    // The L-infinity distance from a point outside the mask to its nearest region, each region
    // taken with its copies a UI either way (the nearest lies within half a UI across).
    double distance(std::uint32_t x, std::uint32_t y) const {
        const double u = frame_.phase(x), v = level(y);
        double nearest = kInfinity;
        for (const Region& region : regions_) {
            for (int k = -2; k <= 2; ++k) {
                if (region.outsideBox(u + k, v) >= nearest) continue;
                nearest = std::min(nearest, region.distance(u + k, v));
            }
        }
        return nearest;
    }

    // How deep a hit lies in the regions it hit: its distance to their edges.
    double depth(std::uint32_t x, std::uint32_t y, std::uint8_t bits) const {
        const double u = frame_.phase(x), v = level(y);
        double deepest = 0.0;
        for (std::uint32_t r = 0; r < regions_.size(); ++r) {
            if (!(bits & (1u << r))) continue;
            for (const int k : kImages) deepest = std::max(deepest, regions_[r].depth(u + k, v));
        }
        return deepest;
    }

    // The table for points farther than `far` from every region: per cell, the codes outside
    // every region's reach over the cell's phases (its part within `far` of those phases,
    // grown by `far` up and down), a little wider for rounding, taken whole codes at a time.
    ClearTable clearTable(double far) {
        // The table is for the distance found, however large: in codes it may be narrow (a
        // frame of a small amplitude).  Never below 0: a point that rounding put a hair inside
        // an edge while its code is outside must not make the cells' phase windows empty.
        tableDistance_ = far;
        far = std::max(far, 0.0);
        const std::uint16_t width = points_.width;
        ClearTable table = cellsFor(width);
        const double zero = frame_.frame().zeroLevel, amplitude = frame_.amplitude();
        const auto code = [](double c) { return std::clamp(c, -1.0, 65536.0); };
        std::vector<std::pair<double, double>> taken;
        for (std::uint32_t c = 0; c < kFilterCells; ++c) {
            const std::uint32_t first = firstXOf(table, c, width);
            const std::uint32_t last = firstXOf(table, c + 1, width);
            if (first >= last) continue;
            double from = frame_.phase(first);
            const double to = frame_.phase(last - 1);
            if (to < from) from -= 1.0;  // the cell spans the crossing
            taken.clear();
            for (std::uint32_t r = 0; r < regions_.size(); ++r) {
                const Bounds& b = frame_.bounds(r);
                // Clamped before the cast: a large distance reaches every image.
                const int lowest = static_cast<int>(std::max(-3.0, std::ceil(b.left - to - far)));
                const int highest = static_cast<int>(std::min(3.0, std::floor(b.right - from + far)));
                for (int k = lowest; k <= highest; ++k) {
                    const auto range = rangeWithin(polygonOf(frame_.mask().regions[r]),
                                                   from + k - far, to + k + far);
                    if (!range) continue;
                    const double low = zero + (range->low - far) * amplitude;
                    const double high = zero + (range->high + far) * amplitude;
                    taken.emplace_back(code(std::floor(low - 1e-6 - 1e-9 * std::fabs(low))),
                                       code(std::ceil(high + 1e-6 + 1e-9 * std::fabs(high))));
                }
            }
            std::sort(taken.begin(), taken.end());
            // The free runs between the taken ones; the two longest are kept.
            std::pair<double, double> best[2] = {{1, 0}, {1, 0}};  // empty
            double next = 0;
            const auto offer = [&](double low, double high) {
                const auto length = [](const std::pair<double, double>& run) { return run.second - run.first; };
                if (low > high) return;
                if (high - low > length(best[0])) {
                    best[1] = best[0];
                    best[0] = {low, high};
                } else if (high - low > length(best[1])) {
                    best[1] = {low, high};
                }
            };
            for (const auto& [low, high] : taken) {
                offer(next, std::min(low - 1, 65535.0));
                next = std::max(next, high + 1);
            }
            offer(next, 65535.0);
            const auto store = [](const std::pair<double, double>& range, std::uint16_t& low, std::uint16_t& high) {
                if (range.first > range.second) return;
                low = static_cast<std::uint16_t>(range.first);
                high = static_cast<std::uint16_t>(range.second);
            };
            store(best[0], table.low0[c], table.high0[c]);
            store(best[1], table.low1[c], table.high1[c]);
        }
        return table;
    }

    const EyePoints& points_;
    const MaskFrame frame_;
    TvaMaskResult& result_;
    std::uint8_t* flags_;
    std::vector<Region> regions_;
    std::vector<std::uint32_t> columnOf_;  // per X: 1 + its entry in columns_, 0 when not met yet
    std::vector<std::pair<std::uint32_t, std::uint32_t>> columns_;  // first range, count
    std::vector<CodeRange> ranges_;
    std::vector<CodeRange> here_;
    bool failing_ = false;
    double nearest_ = kInfinity;  // the least distance of a point looked at, when none hit
    double deepest_ = 0.0;        // the deepest hit
    double tableDistance_ = 0.0;
};

}  // namespace

PointsProblem testMask(const EyePoints& points, const TvaEyeFrame& frame, const TvaMask& mask,
                       TvaMaskResult& result, std::uint8_t* regionFlags, VectorUnit unit) {
    MaskTest test(points, frame, mask, result, regionFlags);
    return test.run(unit);
}

}  // namespace tarvex::analysis
