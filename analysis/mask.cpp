// Masks: whether one is well formed, the built-in NRZ hexagon, and whether a frame can hold one
// (the test itself is analysis/mask_points.cpp).
#include "analysis/mask.h"

#include <cmath>
#include <cstring>
#include <string>

#include "analysis/mask_frame.h"
#include "analysis/polygon.h"

namespace tarvex::analysis {
namespace {

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

}  // namespace tarvex::analysis
