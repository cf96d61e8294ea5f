#include "analysis/eye_points.h"

#include <algorithm>

namespace tarvex::analysis {

PointsProblem checkShape(const EyePoints& points) {
    if (points.x == nullptr || points.y == nullptr) return PointsProblem::kNullPointer;
    if (points.count == 0) return PointsProblem::kNoPoints;
    if (points.width == 0) return PointsProblem::kZeroWidth;
    return PointsProblem::kNone;
}

std::vector<std::uint16_t> columnOfX(std::uint16_t width, std::uint32_t columns, double origin) {
    std::vector<std::uint16_t> column(width);
    for (std::uint32_t x = 0; x < width; ++x) {
        const double position = wrapUnit(phaseOf(x, width) - origin) * columns;
        column[x] = static_cast<std::uint16_t>(
            std::min<double>(std::floor(position), static_cast<double>(columns - 1)));
    }
    return column;
}

}  // namespace tarvex::analysis
