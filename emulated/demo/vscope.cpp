#include "emulated/demo/vscope.h"

#include <algorithm>
#include <cmath>

#include "emulated/demo/random.h"

namespace tarvex::emulated::demo {

namespace {

// The VSC's view of the link, in bit periods and fractions of its threshold range.
constexpr double kEdgeTimeConstant = 0.12;
constexpr double kJitterRms = 0.03;
constexpr double kLowThreshold = 0.18;
constexpr double kSwing = 0.64;
constexpr double kNoiseRms = 0.025;

double edge(double offset) { return 0.5 * (1.0 + std::tanh(offset / kEdgeTimeConstant)); }

}  // namespace

void VScope::generate(Micros now) {
    ++builds_;
    startedAt_ = now;
    built_ = true;
    eye_.fill(0);

    Random random(seed_ ^ (0x9E3779B97F4A7C15ull * builds_));
    for (std::size_t hit = 0; hit < kHitsPerBuild; ++hit) {
        const double phase = random.uniform();
        const int previous = static_cast<int>(random.next() & 1u);
        const int current = static_cast<int>(random.next() & 1u);
        const int following = static_cast<int>(random.next() & 1u);
        const double jitter = kJitterRms * random.gaussian();
        const double level = previous + (current - previous) * edge(phase + jitter) +
                             (following - current) * edge(phase - 1.0 + jitter);
        const double threshold = kLowThreshold + kSwing * level + kNoiseRms * random.gaussian();

        const auto column = std::min<std::size_t>(static_cast<std::size_t>(phase * kColumns),
                                                  kColumns - 1);
        const double fromTop = std::clamp((1.0 - threshold) * kRows, 0.0, kRows - 1.0);
        auto& cell = eye_[static_cast<std::size_t>(fromTop) * kColumns + column];
        if (cell < 255) ++cell;
    }
}

Bytes VScope::page(std::size_t offset, std::size_t length) const {
    Bytes bytes(length, 0);
    for (std::size_t i = 0; i < length && offset + i < eye_.size(); ++i) bytes[i] = eye_[offset + i];
    return bytes;
}

}  // namespace tarvex::emulated::demo
