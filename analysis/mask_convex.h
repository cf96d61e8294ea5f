// The mask test for masks whose regions are all convex: the NRZ hexagon and its bars, and most
// masks drawn by hand.  Its hits are decided as the general test decides them (MaskFrame), and
// its margin is the points' exact L-infinity distance to the mask, found without looking closely
// at more than a few of the points (docs/analysis.md, "Masks").
#pragma once

#include <cstdint>

#include "analysis/eye_points.h"
#include "analysis/vector_unit.h"
#include "tarvex_analysis.h"

namespace tarvex::analysis {

// Whether every region of a well-formed mask is convex.
bool allRegionsConvex(const TvaMask& mask);

// Tests the points against a well-formed mask of convex regions in a usable frame.
// kXOutsideEye (result and flags zeroed) when a point's X is not below the width.
PointsProblem testConvexMask(const EyePoints& points, const TvaEyeFrame& frame,
                             const TvaMask& mask, TvaMaskResult& result,
                             std::uint8_t* regionFlags, VectorUnit unit);

}  // namespace tarvex::analysis
