// The signal on the demo board's input: a pseudo-random NRZ data stream with finite rise time,
// random jitter and noise, as an equivalent-time sampler sees it.  Sample n of a capture is
// taken n sample periods after the trigger, which sits on a bit boundary at the start of the
// pattern; folded modulo the bit period the samples draw an open eye.
#pragma once

#include <cstdint>
#include <vector>

#include "emulated/demo/random.h"

namespace tarvex::emulated::demo {

enum class DataPattern {
    kPrbs7,   // x^7 + x^6 + 1, 127 bits
    kPrbs15,  // x^15 + x^14 + 1, 32767 bits
    kClock,   // 1010...
};

struct SignalOptions {
    double dataRate = 1.25e9;  // bits per second
    // Equivalent-time sample rate.  The sample step is 12.6262... bit periods; its fraction
    // 0.6262 (62/99) walks the samples over 99 distinct phases of the bit, evenly spread, so a
    // short capture already covers the whole eye.
    double sampleRate = 99e6;
    DataPattern pattern = DataPattern::kPrbs7;
    double lowLevel = 800.0;    // 12-bit code of a 0 bit
    double highLevel = 3300.0;  // 12-bit code of a 1 bit
    double riseTime = 240e-12;  // 10 % to 90 %, seconds
    double noiseRms = 18.0;     // Gaussian noise, codes
    double jitterRms = 8e-12;   // random jitter, seconds
    std::uint64_t seed = 0x7A5CE7;
};

class SignalSource {
public:
    explicit SignalSource(const SignalOptions& options);

    // Re-arms the sampler on the trigger: the next sample is sample 0, at the pattern's start.
    void trigger();
    // The next sample, a 12-bit code from 1 to 4095.
    std::uint16_t next();
    // Samples taken since the last trigger.
    std::uint64_t position() const { return position_; }

    // The noiseless, jitter-free signal at `time` bit periods after the trigger, from 0 (low
    // level) to 1 (high level).  Bit k of the pattern occupies [k, k + 1).
    double waveform(double time) const;
    // Bit k of the pattern, repeating (k may be negative).
    int bit(std::int64_t k) const;
    // 0 for a time on a bit boundary, rising to 0.5 in the middle of a bit.
    static double distanceToEdge(double time);

    const SignalOptions& options() const { return options_; }

private:
    double edge(double offset) const;

    SignalOptions options_;
    std::vector<std::uint8_t> pattern_;
    std::int64_t stepBits_;    // whole bit periods per sample period
    double stepFraction_;      // and the fraction, 0 <= f < 1
    double edgeScale_;         // tanh time constant of an edge, in bit periods (0: ideal step)
    double jitterBits_;        // jitter rms in bit periods
    Random random_;
    std::uint64_t position_ = 0;
};

}  // namespace tarvex::emulated::demo
