#include "emulated/demo/signal_source.h"

#include <algorithm>
#include <cmath>

namespace tarvex::emulated::demo {

namespace {

// A maximal-length sequence of a Fibonacci LFSR with taps at `order` and `order - 1`, started
// from all ones.
std::vector<std::uint8_t> prbs(unsigned order) {
    const std::uint32_t mask = (1u << order) - 1u;
    std::uint32_t state = mask;
    std::vector<std::uint8_t> bits(mask);
    for (auto& bit : bits) {
        const std::uint32_t feedback = ((state >> (order - 1)) ^ (state >> (order - 2))) & 1u;
        state = ((state << 1) | feedback) & mask;
        bit = static_cast<std::uint8_t>(feedback);
    }
    return bits;
}

std::vector<std::uint8_t> patternBits(DataPattern pattern) {
    switch (pattern) {
        case DataPattern::kPrbs7: return prbs(7);
        case DataPattern::kPrbs15: return prbs(15);
        case DataPattern::kClock: return {1, 0};
    }
    return {1, 0};
}

// tanh(x) crosses +-0.8 at x = +-atanh(0.8): a 10-90 % rise spans 2 atanh(0.8) time constants.
constexpr double kRiseTimeConstants = 2.1972245773362196;

}  // namespace

SignalSource::SignalSource(const SignalOptions& options)
    : options_(options), pattern_(patternBits(options.pattern)), random_(options.seed) {
    // The sample step in bit periods, computed the way a host folds the samples, so the folded
    // phase of sample n is the phase it was taken at.  Rates that make no step (zero, negative,
    // not finite) sample the trigger point over and over.
    double ratio = (1.0 / options.sampleRate) / (1.0 / options.dataRate);
    if (!std::isfinite(ratio) || ratio < 0.0 || ratio > 1e15) ratio = 0.0;
    stepBits_ = static_cast<std::int64_t>(ratio);
    stepFraction_ = ratio - static_cast<double>(stepBits_);

    const double riseBits = options.riseTime * options.dataRate;
    edgeScale_ = (std::isfinite(riseBits) && riseBits > 0.0) ? riseBits / kRiseTimeConstants : 0.0;
    const double jitterBits = options.jitterRms * options.dataRate;
    jitterBits_ = (std::isfinite(jitterBits) && jitterBits > 0.0) ? jitterBits : 0.0;
}

void SignalSource::trigger() { position_ = 0; }

int SignalSource::bit(std::int64_t k) const {
    const auto length = static_cast<std::int64_t>(pattern_.size());
    std::int64_t index = k % length;
    if (index < 0) index += length;
    return pattern_[static_cast<std::size_t>(index)];
}

double SignalSource::edge(double offset) const {
    if (edgeScale_ == 0.0) return offset >= 0.0 ? 1.0 : 0.0;
    return 0.5 * (1.0 + std::tanh(offset / edgeScale_));
}

double SignalSource::distanceToEdge(double time) {
    const double phase = time - std::floor(time);
    return std::min(phase, 1.0 - phase);
}

double SignalSource::waveform(double time) const {
    const double whole = std::floor(time);
    const auto k = static_cast<std::int64_t>(whole);
    const double phase = time - whole;
    // Start from the bit well before and add the steps at the nearby boundaries; edges further
    // away than three bits have settled.
    double level = bit(k - 3);
    for (std::int64_t m = k - 2; m <= k + 3; ++m) {
        const int step = bit(m) - bit(m - 1);
        if (step != 0) level += step * edge(phase - static_cast<double>(m - k));
    }
    return level;
}

std::uint16_t SignalSource::next() {
    const auto n = position_++;
    // The sampling instant in bit periods, split into whole bits and a phase so that long
    // captures keep their phase precision.
    const double fractional = static_cast<double>(n) * stepFraction_;
    const double carry = std::floor(fractional);
    const double phase = fractional - carry + jitterBits_ * random_.gaussian();
    // Only the position within the repeating pattern matters (and keeps the products small).
    const auto length = static_cast<std::int64_t>(pattern_.size());
    const std::int64_t wholeBits = (static_cast<std::int64_t>(n % static_cast<std::uint64_t>(length)) * (stepBits_ % length) +
                                    static_cast<std::int64_t>(carry) % length) %
                                   length;

    const double level = options_.lowLevel +
                         (options_.highLevel - options_.lowLevel) *
                             waveform(static_cast<double>(wholeBits) + phase);
    double code = std::round(level + options_.noiseRms * random_.gaussian());
    if (!std::isfinite(code)) code = 1.0;
    // Code 0 is what the FIFO reads when it is empty; a real sample never goes below 1.
    return static_cast<std::uint16_t>(std::clamp(code, 1.0, 4095.0));
}

}  // namespace tarvex::emulated::demo
