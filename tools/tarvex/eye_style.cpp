#include "eye_style.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include <fmt/format.h>

#include "values.h"

namespace tarvex::cli {

namespace {

// A round step for about `target` ticks over `span`: 1, 2 or 5 times a power of ten.
double tickStep(double span, int target) {
    const double raw = span / target;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / magnitude;
    return (f < 1.5 ? 1 : f < 3 ? 2 : f < 7 ? 5 : 10) * magnitude;
}

std::string durationText(double seconds) {
    if (seconds < 1e-9) return fmt::format("{:g} ps", seconds * 1e12);
    if (seconds < 1e-6) return fmt::format("{:g} ns", seconds * 1e9);
    if (seconds < 1e-3) return fmt::format("{:g} µs", seconds * 1e6);
    return fmt::format("{:g} ms", seconds * 1e3);
}

}  // namespace

Rgb paletteAt(double v) {
    static constexpr std::array<std::pair<double, Rgb>, 7> stops = {{
        {0.00, {0.08, 0.10, 0.45}},
        {0.18, {0.00, 0.35, 1.00}},
        {0.38, {0.00, 0.85, 0.95}},
        {0.55, {0.20, 0.90, 0.25}},
        {0.72, {1.00, 0.88, 0.00}},
        {0.88, {1.00, 0.25, 0.08}},
        {1.00, {1.00, 1.00, 1.00}},
    }};
    v = std::clamp(v, 0.0, 1.0);
    for (std::size_t i = 1; i < stops.size(); ++i) {
        if (v <= stops[i].first) {
            const auto& [v0, c0] = stops[i - 1];
            const auto& [v1, c1] = stops[i];
            const double f = (v - v0) / (v1 - v0);
            return {c0.r + f * (c1.r - c0.r), c0.g + f * (c1.g - c0.g), c0.b + f * (c1.b - c0.b)};
        }
    }
    return stops.back().second;
}

double shade(std::uint32_t hits, std::uint32_t maxHits) {
    if (maxHits <= 1) return 1.0;
    return std::log1p(static_cast<double>(hits)) / std::log1p(static_cast<double>(maxHits));
}

const EyeTheme& eyeTheme() {
    static const EyeTheme theme{
        {0.063, 0.078, 0.094}, {0.0, 0.0, 0.0},    {0.85, 0.87, 0.89},
        {0.60, 0.65, 0.68},    {0.20, 0.24, 0.27}, {0.38, 0.42, 0.46},
        {0.55, 0.60, 0.70},    {0.80, 0.84, 0.92}, {1.00, 0.15, 0.75},
    };
    return theme;
}

CodeRange codeRange(double minimum, double maximum) {
    double low = minimum;
    double high = maximum;
    if (high <= low) {
        low -= 50;
        high += 50;
    }
    const double pad = 0.06 * (high - low);
    return {low - pad, high + pad};
}

std::vector<double> codeTicks(const CodeRange& range) {
    const double step = tickStep(range.high - range.low, 6);
    std::vector<double> ticks;
    for (double code = std::ceil(range.low / step) * step; code <= range.high; code += step)
        ticks.push_back(code + 0.0);  // + 0.0: a tick at -0 (ceil of a small negative) is shown as 0
    return ticks;
}

std::string eyeTitle(double dataRate, double sampleRate) {
    return fmt::format("Eye diagram: {} data, {} sampling", formatRate(dataRate, "b/s"),
                       formatRate(sampleRate, "S/s"));
}

std::string timeAxisTitle(double dataRate) {
    return fmt::format("time in unit intervals (1 UI = {})", durationText(1.0 / dataRate));
}

std::string codeAxisTitle() { return "sample code (12 bits)"; }

}  // namespace tarvex::cli
