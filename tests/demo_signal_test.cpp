// The signal source behind the capture: an NRZ eye when folded the way the host folds it, with
// its levels, rise time, noise and jitter, and reproducible from its seed.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "demo_firmware_test.h"

namespace tarvex::emulated::demo::testing {
namespace {

// The host's fold: the phase of sample i within the bit, frac(i * frac(ratio)).
std::vector<double> foldedPhases(std::size_t count, double dataRate, double sampleRate) {
    const double ratio = (1.0 / sampleRate) / (1.0 / dataRate);
    const double step = ratio - static_cast<double>(static_cast<std::int32_t>(ratio));
    std::vector<double> phases(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double p = static_cast<double>(i) * step;
        phases[i] = p - static_cast<double>(static_cast<std::int32_t>(p));
    }
    return phases;
}

std::vector<std::uint16_t> capture(DemoFirmware& firmware, std::size_t packets) {
    Host host(firmware);
    host.startCapture();
    auto words = host.words(packets);
    for (auto& w : words) w &= 0x0FFF;
    return words;
}

TEST(DemoSignal, FoldedSamplesDrawAnOpenEye) {
    DemoFirmware firmware;
    const auto samples = capture(firmware, 200);
    const auto& signal = firmware.options().signal;
    const auto phases = foldedPhases(samples.size(), signal.dataRate, signal.sampleRate);

    std::size_t centre = 0, centreLow = 0, centreHigh = 0, edgeMiddle = 0, edge = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const int v = samples[i];
        if (phases[i] > 0.35 && phases[i] < 0.65) {
            ++centre;
            // In the middle of a bit every sample sits on one of the two levels (noise 18 codes).
            const bool low = std::abs(v - 800) < 120;
            const bool high = std::abs(v - 3300) < 120;
            EXPECT_TRUE(low || high) << "sample " << i << " = " << v << " at phase " << phases[i];
            centreLow += low;
            centreHigh += high;
        }
        if (phases[i] < 0.04 || phases[i] > 0.96) {
            ++edge;
            edgeMiddle += (v > 1400 && v < 2700);
        }
    }
    // The phases cover the whole bit, both levels are seen about equally (PRBS7: 64 ones, 63
    // zeros), and the crossings fill the middle of the eye near the bit edges.
    EXPECT_GT(centre, samples.size() / 4);
    EXPECT_GT(centreLow, centre / 3);
    EXPECT_GT(centreHigh, centre / 3);
    EXPECT_GT(edge, 100u);
    EXPECT_GT(edgeMiddle, edge / 5);
}

TEST(DemoSignal, DefaultRatesSpreadTheFoldOverTheBit) {
    const SignalOptions signal;
    const auto phases = foldedPhases(99, signal.dataRate, signal.sampleRate);
    std::vector<int> bins(10, 0);
    for (double p : phases) ++bins[static_cast<std::size_t>(p * 10)];
    for (int b : bins) EXPECT_GE(b, 8);
}

TEST(DemoSignal, NoiselessSamplesAtBitCentresSitExactlyOnTheLevels) {
    DemoOptions options;
    options.signal.noiseRms = 0;
    options.signal.jitterRms = 0;
    options.signal.lowLevel = 1000;
    options.signal.highLevel = 2000;
    options.signal.dataRate = 2.5;  // a sample every 2.5 bit periods: on an edge, then mid-bit
    options.signal.sampleRate = 1.0;
    options.signal.riseTime = 0.1 / 2.5;  // 0.1 bit periods
    DemoFirmware firmware(options);
    const auto samples = capture(firmware, 10);
    SignalSource reference(options.signal);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double time = 2.5 * static_cast<double>(i);
        if (SignalSource::distanceToEdge(time) < 0.3) continue;
        const int expected = reference.bit(static_cast<std::int64_t>(std::floor(time))) ? 2000 : 1000;
        EXPECT_EQ(samples[i], expected) << "sample " << i;
    }
}

TEST(DemoSignal, EdgesRiseOverTheRiseTime) {
    SignalOptions options;
    options.pattern = DataPattern::kClock;  // 1 0 1 0: a falling edge at 1, a rising one at 2
    options.riseTime = 0.5 / options.dataRate;  // half a bit period, 10 % to 90 %
    const SignalSource source(options);
    EXPECT_NEAR(source.waveform(2.0), 0.5, 1e-9);
    EXPECT_NEAR(source.waveform(2.25), 0.9, 0.005);
    EXPECT_NEAR(source.waveform(1.75), 0.1, 0.005);
    EXPECT_NEAR(source.waveform(1.0), 0.5, 1e-9);
    EXPECT_NEAR(source.waveform(1.25), 0.1, 0.005);
}

TEST(DemoSignal, PatternsHaveTheirLengthAndBalance) {
    struct Case {
        DataPattern pattern;
        std::int64_t length;
        std::int64_t ones;
    };
    for (const Case c : {Case{DataPattern::kPrbs7, 127, 64}, Case{DataPattern::kPrbs15, 32767, 16384},
                         Case{DataPattern::kClock, 2, 1}}) {
        SignalOptions options;
        options.pattern = c.pattern;
        const SignalSource source(options);
        std::int64_t ones = 0;
        for (std::int64_t k = 0; k < c.length; ++k) {
            ones += source.bit(k);
            EXPECT_EQ(source.bit(k), source.bit(k + c.length));
            EXPECT_EQ(source.bit(k), source.bit(k - c.length));
        }
        EXPECT_EQ(ones, c.ones);
        // Not periodic with any shorter period that divides the length.
        bool shorter = false;
        for (std::int64_t p = 1; p < c.length && !shorter; ++p) {
            if (c.length % p) continue;
            bool repeats = true;
            for (std::int64_t k = 0; k < c.length && repeats; ++k)
                repeats = source.bit(k) == source.bit(k + p);
            shorter = repeats;
        }
        EXPECT_FALSE(shorter);
    }
}

TEST(DemoSignal, TheSameSeedGivesTheSameSamplesAndAnotherSeedOthers) {
    DemoOptions options;
    DemoFirmware a(options);
    DemoFirmware b(options);
    options.signal.seed = 12345;
    DemoFirmware c(options);
    const auto first = capture(a, 20);
    EXPECT_EQ(first, capture(b, 20));
    EXPECT_NE(first, capture(c, 20));
}

TEST(DemoSignal, EachCaptureStartsAtTheTriggerWithFreshNoise) {
    DemoFirmware firmware;
    const auto first = capture(firmware, 10);
    const auto second = capture(firmware, 10);
    EXPECT_NE(first, second);
    // Same pattern, same phases: the two captures differ only by noise and jitter.
    double worst = 0;
    const auto phases = foldedPhases(first.size(), firmware.options().signal.dataRate,
                                     firmware.options().signal.sampleRate);
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (phases[i] < 0.2 || phases[i] > 0.8) continue;
        worst = std::max(worst, std::abs(double(first[i]) - double(second[i])));
    }
    EXPECT_LT(worst, 200.0);
}

TEST(DemoSignal, NoiseHasItsConfiguredSpread) {
    DemoOptions options;
    options.signal.noiseRms = 40;
    options.signal.jitterRms = 0;
    options.signal.dataRate = 1.0;
    options.signal.sampleRate = 0.4;  // 2.5 bit periods per sample: every other sample mid-bit
    DemoFirmware firmware(options);
    const auto samples = capture(firmware, 200);
    const SignalSource reference(options.signal);
    double sum = 0, squares = 0;
    std::size_t count = 0;
    for (std::size_t i = 1; i < samples.size(); i += 2) {
        const auto bit = reference.bit(static_cast<std::int64_t>(std::floor(2.5 * double(i))));
        const double error = double(samples[i]) - (bit ? 3300.0 : 800.0);
        sum += error;
        squares += error * error;
        ++count;
    }
    EXPECT_NEAR(sum / double(count), 0.0, 4.0);
    EXPECT_NEAR(std::sqrt(squares / double(count)), 40.0, 4.0);
}

TEST(DemoSignal, SamplesStayInTheTwelveBitRangeWhateverTheLevels) {
    DemoOptions options;
    options.signal.lowLevel = -500;
    options.signal.highLevel = 6000;
    DemoFirmware firmware(options);
    const auto samples = capture(firmware, 20);
    bool sawFloor = false, sawCeiling = false;
    for (auto s : samples) {
        EXPECT_GE(s, 1);
        EXPECT_LE(s, 4095);
        sawFloor |= s == 1;
        sawCeiling |= s == 4095;
    }
    EXPECT_TRUE(sawFloor);
    EXPECT_TRUE(sawCeiling);
}

}  // namespace
}  // namespace tarvex::emulated::demo::testing
