#include "analysis/mask_frame.h"

#include <algorithm>
#include <cmath>

namespace tarvex::analysis {

MaskFrame::MaskFrame(const EyePoints& points, const TvaEyeFrame& frame, const TvaMask& mask)
    : points_(points), frame_(frame), mask_(mask), amplitude_(frame.oneLevel - frame.zeroLevel) {
    for (std::uint32_t r = 0; r < mask.regionCount; ++r) {
        const Polygon polygon = polygonOf(mask.regions[r]);
        Bounds b{polygon[0].x, polygon[0].x};
        for (const TvaPoint& p : polygon) {
            b.left = std::min(b.left, p.x);
            b.right = std::max(b.right, p.x);
        }
        bounds_.push_back(b);
    }
}

void MaskFrame::rangesAt(std::uint32_t x, std::vector<CodeRange>& out) const {
    out.clear();
    const double u = phase(x);
    std::vector<Interval> section;
    for (std::uint32_t r = 0; r < mask_.regionCount; ++r) {
        for (const int k : kImages) {
            if (u + k < bounds_[r].left || u + k > bounds_[r].right) continue;
            crossSection(polygonOf(mask_.regions[r]), u + k, section);
            for (const Interval& s : section) {
                const double low = std::ceil(frame_.zeroLevel + s.low * amplitude_);
                const double high = std::floor(frame_.zeroLevel + s.high * amplitude_);
                if (low > high || high < 0 || low > 0xFFFF) continue;
                out.push_back({static_cast<std::int32_t>(std::max(low, 0.0)),
                               static_cast<std::int32_t>(std::min(high, 65535.0)), r});
            }
        }
    }
}

}  // namespace tarvex::analysis
