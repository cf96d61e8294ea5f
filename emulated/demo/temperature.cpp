#include "emulated/demo/temperature.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarvex::emulated::demo {

double VscTemperature::celsius(Micros now) const {
    const double seconds = static_cast<double>(now) / 1e6;
    const double warmed = options_.timeConstantS > 0.0
                              ? 1.0 - std::exp(-seconds / options_.timeConstantS)
                              : 1.0;
    // Two slow, incommensurate swings (airflow, load), growing in as the die warms.
    const double wander = options_.wanderC * warmed *
                          (0.7 * std::sin(2.0 * std::numbers::pi * seconds / 173.0) +
                           0.3 * std::sin(2.0 * std::numbers::pi * seconds / 41.0 + 1.0));
    return options_.powerOnC + (options_.settledC - options_.powerOnC) * warmed + wander;
}

std::array<std::uint8_t, kTemperatureReplyBytes> VscTemperature::reading(Micros now) const {
    double fixed = std::round(celsius(now) * 256.0);
    if (!std::isfinite(fixed)) fixed = 0.0;
    // The sensor's range is 0 to 255.996 degrees.
    const auto value = static_cast<std::uint16_t>(std::clamp(fixed, 0.0, 65535.0));
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
}

}  // namespace tarvex::emulated::demo
