// Plane geometry for mask regions: simple polygons in the eye's frame (x in UI, y in normalised
// amplitude).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tarvex_analysis.h"

namespace tarvex::analysis {

using Polygon = std::span<const TvaPoint>;

// Empty when the polygon is simple (no edge meets another except its neighbours at their shared
// vertex, and it encloses some area); otherwise what is wrong, as a phrase ("edges 1 and 3
// cross").  Edges are numbered from 1, edge k running from vertex k to vertex k + 1.
std::string simplePolygonProblem(Polygon polygon);

struct Interval {
    double low;
    double high;  // inclusive
};

// The polygon's cross-section at x = u: the y intervals of its points (edges included), in
// increasing order, touching intervals merged.  At most TVA_MASK_MAX_VERTICES edges are read.
void crossSection(Polygon polygon, double u, std::vector<Interval>& out);

// The y range of the part of the polygon with left <= x <= right; empty when there is none.
std::optional<Interval> rangeWithin(Polygon polygon, double left, double right);

// The L-infinity distance (the larger of the x and y distances) from p to the polygon's edges:
// how far the polygon must grow to reach p from outside, or shrink to leave it from inside.
double edgeDistance(Polygon polygon, TvaPoint p);

// Whether p is inside the polygon or on an edge.
bool contains(Polygon polygon, TvaPoint p);

}  // namespace tarvex::analysis
