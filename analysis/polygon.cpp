#include "analysis/polygon.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>

namespace tarvex::analysis {
namespace {

double cross(TvaPoint o, TvaPoint a, TvaPoint b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

int side(TvaPoint o, TvaPoint a, TvaPoint b) {
    const double c = cross(o, a, b);
    return (c > 0) - (c < 0);
}

// p lies within the bounding box of segment ab (used once p is known to be on its line).
bool withinBox(TvaPoint a, TvaPoint b, TvaPoint p) {
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}

// Whether the closed segments ab and cd have any point in common.
bool segmentsMeet(TvaPoint a, TvaPoint b, TvaPoint c, TvaPoint d) {
    const int d1 = side(c, d, a), d2 = side(c, d, b), d3 = side(a, b, c), d4 = side(a, b, d);
    if (d1 * d2 < 0 && d3 * d4 < 0) return true;
    return (d1 == 0 && withinBox(c, d, a)) || (d2 == 0 && withinBox(c, d, b)) ||
           (d3 == 0 && withinBox(a, b, c)) || (d4 == 0 && withinBox(a, b, d));
}

bool same(TvaPoint a, TvaPoint b) { return a.x == b.x && a.y == b.y; }

// The L-infinity distance from p to segment ab.  f(t) = max(|g.x + t d.x|, |g.y + t d.y|) is
// convex and piecewise linear in t, so its least value on [0, 1] is at an end or a break: where
// a term is 0, or where the two terms are equal.
double segmentDistance(TvaPoint a, TvaPoint b, TvaPoint p) {
    const double gx = a.x - p.x, gy = a.y - p.y;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const auto f = [&](double t) { return std::max(std::fabs(gx + t * dx), std::fabs(gy + t * dy)); };
    double best = std::min(f(0.0), f(1.0));
    const auto consider = [&](double numerator, double denominator) {
        if (denominator == 0) return;
        const double t = numerator / denominator;
        if (t > 0 && t < 1) best = std::min(best, f(t));
    };
    consider(-gx, dx);
    consider(-gy, dy);
    consider(gy - gx, dx - dy);
    consider(-(gx + gy), dx + dy);
    return best;
}

}  // namespace

std::string simplePolygonProblem(Polygon polygon) {
    const std::size_t n = polygon.size();
    if (n < 3) return "it has " + std::to_string(n) + " points and needs at least 3";
    const auto at = [&](std::size_t i) { return polygon[i % n]; };
    const auto edge = [](std::size_t i) { return std::to_string(i + 1); };
    for (std::size_t i = 0; i < n; ++i)
        if (same(at(i), at(i + 1)))
            return "points " + edge(i) + " and " + edge((i + 1) % n) + " are the same point";
    for (std::size_t i = 0; i < n; ++i) {
        // Neighbouring edges share a vertex; they may not run back over each other.
        const TvaPoint a = at(i), v = at(i + 1), c = at(i + 2);
        if (cross(v, a, c) == 0 && (a.x - v.x) * (c.x - v.x) + (a.y - v.y) * (c.y - v.y) > 0)
            return "edges " + edge(i) + " and " + edge((i + 1) % n) + " run over each other";
        for (std::size_t j = i + 2; j < n; ++j) {
            if (i == 0 && j == n - 1) continue;  // neighbours across the closing vertex
            if (segmentsMeet(at(i), at(i + 1), at(j), at(j + 1)))
                return "edges " + edge(i) + " and " + edge(j) + " cross or touch";
        }
    }
    double area = 0;
    for (std::size_t i = 0; i < n; ++i) area += at(i).x * at(i + 1).y - at(i + 1).x * at(i).y;
    if (area == 0) return "it encloses no area";
    return {};
}

void crossSection(Polygon polygon, double u, std::vector<Interval>& out) {
    out.clear();
    const std::size_t n = polygon.size();
    // A line meets each edge once at most; a mask's polygons have at most 32.
    std::array<double, TVA_MASK_MAX_VERTICES> crossings;
    std::size_t crossed = 0;
    for (std::size_t i = 0; i < n && i < crossings.size(); ++i) {
        const TvaPoint a = polygon[i], b = polygon[(i + 1) % n];
        // A vertex on the line is in the polygon, whether or not an edge crosses there.
        if (a.x == u) out.push_back({a.y, a.y});
        if (a.x == b.x) {
            if (a.x == u) out.push_back({std::min(a.y, b.y), std::max(a.y, b.y)});
            continue;
        }
        // Half-open, so a vertex where two edges meet counts once.
        if ((a.x <= u && u < b.x) || (b.x <= u && u < a.x))
            crossings[crossed++] = a.y + (u - a.x) * (b.y - a.y) / (b.x - a.x);
    }
    std::sort(crossings.begin(), crossings.begin() + crossed);
    for (std::size_t i = 0; i + 1 < crossed; i += 2)
        out.push_back({crossings[i], crossings[i + 1]});
    std::sort(out.begin(), out.end(), [](const Interval& l, const Interval& r) { return l.low < r.low; });
    std::size_t merged = 0;
    for (const Interval& next : out) {
        if (merged > 0 && next.low <= out[merged - 1].high)
            out[merged - 1].high = std::max(out[merged - 1].high, next.high);
        else
            out[merged++] = next;
    }
    out.resize(merged);
}

std::optional<Interval> rangeWithin(Polygon polygon, double left, double right) {
    double low = std::numeric_limits<double>::infinity(), high = -low;
    const std::size_t n = polygon.size();
    for (std::size_t i = 0; i < n; ++i) {
        const TvaPoint a = polygon[i], b = polygon[(i + 1) % n];
        if (std::max(a.x, b.x) < left || std::min(a.x, b.x) > right) continue;
        if (a.x == b.x) {
            low = std::min({low, a.y, b.y});
            high = std::max({high, a.y, b.y});
            continue;
        }
        const auto yAt = [&](double x) { return a.y + (x - a.x) * (b.y - a.y) / (b.x - a.x); };
        for (double x : {std::clamp(a.x, left, right), std::clamp(b.x, left, right)}) {
            const double y = std::clamp(yAt(x), std::min(a.y, b.y), std::max(a.y, b.y));
            low = std::min(low, y);
            high = std::max(high, y);
        }
    }
    if (low > high) return std::nullopt;
    return Interval{low, high};
}

double edgeDistance(Polygon polygon, TvaPoint p) {
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < polygon.size(); ++i)
        best = std::min(best, segmentDistance(polygon[i], polygon[(i + 1) % polygon.size()], p));
    return best;
}

bool contains(Polygon polygon, TvaPoint p) {
    if (edgeDistance(polygon, p) == 0) return true;
    bool inside = false;
    const std::size_t n = polygon.size();
    for (std::size_t i = 0; i < n; ++i) {
        const TvaPoint a = polygon[i], b = polygon[(i + 1) % n];
        if ((a.y > p.y) != (b.y > p.y) && p.x < a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y))
            inside = !inside;
    }
    return inside;
}

}  // namespace tarvex::analysis
