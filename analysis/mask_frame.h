// A mask laid over an eye: where each X of the eye lies in the mask's frame, and which regions
// hold each code at that X: what decides the mask test's hits.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/eye_points.h"
#include "analysis/polygon.h"
#include "tarvex_analysis.h"

namespace tarvex::analysis {

// A position u in [0, 1) meets a polygon's points at u + k for these k (polygons lie in [-1, 2]).
constexpr int kImages[] = {-1, 0, 1, 2};

struct Bounds {
    double left, right;
};

struct CodeRange {
    std::int32_t low, high;  // inclusive
    std::uint32_t region;
};

inline Polygon polygonOf(const TvaMaskRegion& region) {
    return {region.vertices, region.vertexCount};
}

class MaskFrame {
public:
    MaskFrame(const EyePoints& points, const TvaEyeFrame& frame, const TvaMask& mask);

    // X's position in the frame, x = phase - crossingPhase taken into [0, 1).
    double phase(std::uint32_t x) const {
        return wrapUnit(phaseOf(x, points_.width) - frame_.crossingPhase);
    }
    double normalised(std::int32_t code) const { return (code - frame_.zeroLevel) / amplitude_; }
    double amplitude() const { return amplitude_; }
    const Bounds& bounds(std::uint32_t region) const { return bounds_[region]; }
    const TvaMask& mask() const { return mask_; }
    const TvaEyeFrame& frame() const { return frame_; }

    // The ranges of codes each region holds at X, exactly: the regions' cross-sections at X's
    // phase (and its images), a code y being inside when low <= (y - zero) / amplitude <= high.
    void rangesAt(std::uint32_t x, std::vector<CodeRange>& out) const;

private:
    const EyePoints& points_;
    const TvaEyeFrame& frame_;
    const TvaMask& mask_;
    const double amplitude_;
    std::vector<Bounds> bounds_;
};

}  // namespace tarvex::analysis
