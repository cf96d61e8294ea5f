// Mask tests: which points of an eye fall inside the regions of a mask, and how far the mask
// could grow before any did (docs/analysis.md has the definitions).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/eye_points.h"
#include "analysis/vector_unit.h"
#include "tarvex_analysis.h"

namespace tarvex::analysis {

// The bounds of a mask's coordinates.
constexpr double kMaskLeft = -1.0;
constexpr double kMaskRight = 2.0;
constexpr double kMaskFar = 1e6;  // |y| at most

// Empty when the mask is well formed; otherwise a sentence saying what is wrong and where.
std::string maskProblem(const TvaMask& mask);

// The usual NRZ mask (see tvaMaskHexagon); false (mask zeroed) for parameters out of range.
bool hexagonMask(double x1, double x2, double y1, double y2, TvaMask& mask);

// Reads a mask file's text; on failure the mask is zeroed and `message` says what is wrong.
bool maskFromJson(std::string_view text, TvaMask& mask, std::string& message);

bool frameUsable(const TvaEyeFrame& frame);

// Tests the points against a well-formed mask in a usable frame.  kXOutsideEye (result and
// flags zeroed) when a point's X is not below the width.  The first look at every point runs
// on `unit` (analysis/mask_filter.h).
PointsProblem testMask(const EyePoints& points, const TvaEyeFrame& frame, const TvaMask& mask,
                       TvaMaskResult& result, std::uint8_t* regionFlags,
                       VectorUnit unit = VectorUnit::kBest);

}  // namespace tarvex::analysis
