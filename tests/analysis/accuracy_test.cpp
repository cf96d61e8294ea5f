// The measurements against the demo board's signal model, whose levels, noise, jitter and rise
// time are known exactly: every measurement within its stated tolerance (docs/analysis.md) for
// signals of different rates, noise, jitter, rise times, swings and patterns, with the default
// capture of 2000 packets.  And what cannot be measured is said so, with the reason.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis/demo_eye.h"
#include "emulated/demo_world.h"
#include "platform/platform.h"
#include "tarvex.h"
#include "tarvex_analysis.h"

namespace tarvex::analysis::testing {
namespace {

// The tolerances docs/analysis.md states.
constexpr double kLevelTolerance = 0.01;   // of the amplitude: levels, amplitude, crossing
constexpr double kCrossingPoints = 1.0;    // crossing percentage, in percentage points
constexpr double kNoiseTolerance = 0.05;   // noise, eye height, Q
constexpr double kTimeTolerance = 0.10;    // jitter RMS, eye width, rise and fall times
constexpr double kDcdTolerance = 0.01;     // of the UI
constexpr double kPeakToPeakLow = 4.0;     // peak-to-peak jitter, in RMS jitters
constexpr double kPeakToPeakHigh = 8.0;

struct Signal {
    const char* name;
    const char* options;  // the demo grammar
};

void PrintTo(const Signal& s, std::ostream* os) { *os << s.name; }

class MeasurementsMatchTheSignalModel : public ::testing::TestWithParam<Signal> {};

TEST_P(MeasurementsMatchTheSignalModel, WithinTheStatedTolerances) {
    const DemoCapture capture = captureDemo(GetParam().options);
    const FoldedEye eye = fold(capture);
    TvaEyeMeasurements m{};
    ASSERT_EQ(tvaMeasurePoints(eye.x.data(), eye.y.data(), static_cast<std::uint32_t>(eye.x.size()),
                               eye.width, capture.signal.dataRate, &m),
              kTvaOk);
    const ModelValues model = modelValues(capture.signal);
    const double ui = 1 / capture.signal.dataRate;

    for (std::uint32_t i = 0; i < TVA_MEASUREMENT_COUNT; ++i) {
        EXPECT_EQ(m.items[i].measurable, 1u) << tvaMeasurementName(i) << ": "
                                             << tvaStatusText(m.items[i].reason);
        EXPECT_GT(m.items[i].samples, 0u) << tvaMeasurementName(i);
    }
    const auto value = [&](std::uint32_t i) { return m.items[i].value; };
    const double levels = kLevelTolerance * model.amplitude;
    EXPECT_NEAR(value(kTvaOneLevel), model.one, levels);
    EXPECT_NEAR(value(kTvaZeroLevel), model.zero, levels);
    EXPECT_NEAR(value(kTvaEyeAmplitude), model.amplitude, levels);
    EXPECT_NEAR(value(kTvaCrossingLevel), model.crossing, levels);
    EXPECT_NEAR(value(kTvaCrossingPercent), 50.0, kCrossingPoints);
    EXPECT_NEAR(value(kTvaOneNoise), model.noise, kNoiseTolerance * model.noise);
    EXPECT_NEAR(value(kTvaZeroNoise), model.noise, kNoiseTolerance * model.noise);
    EXPECT_NEAR(value(kTvaEyeHeight), model.eyeHeight, kNoiseTolerance * model.eyeHeight);
    EXPECT_NEAR(value(kTvaQFactor), model.q, kNoiseTolerance * model.q);
    EXPECT_NEAR(value(kTvaJitterRms), model.jitterRms, kTimeTolerance * model.jitterRms);
    EXPECT_NEAR(value(kTvaEyeWidth), model.eyeWidth, kTimeTolerance * model.eyeWidth);
    EXPECT_GE(value(kTvaJitterPp), kPeakToPeakLow * model.jitterRms);
    EXPECT_LE(value(kTvaJitterPp), kPeakToPeakHigh * model.jitterRms);
    for (std::uint32_t i : {kTvaRiseTime, kTvaFallTime})
        EXPECT_NEAR(value(i), model.rise1090, kTimeTolerance * model.rise1090) << tvaMeasurementName(i);
    for (std::uint32_t i : {kTvaRiseTime2080, kTvaFallTime2080})
        EXPECT_NEAR(value(i), model.rise2080, kTimeTolerance * model.rise2080) << tvaMeasurementName(i);
    EXPECT_LE(value(kTvaDutyCycleDistortion), kDcdTolerance * ui);

    // The frame masks sit in: the levels measured, the crossing at the start of the UI (the
    // pattern starts on a bit boundary at sample 0, phase 0).
    EXPECT_EQ(m.frameValid, 1u);
    EXPECT_EQ(m.frame.oneLevel, value(kTvaOneLevel));
    EXPECT_EQ(m.frame.zeroLevel, value(kTvaZeroLevel));
    const double phase = m.frame.crossingPhase;
    EXPECT_LT(std::min(phase, 1 - phase), 0.01);
    EXPECT_EQ(m.unitInterval, ui);
    EXPECT_EQ(m.pointCount, eye.x.size());
}

INSTANTIATE_TEST_SUITE_P(
    DemoSignals, MeasurementsMatchTheSignalModel,
    ::testing::Values(Signal{"Default", ""},
                      Signal{"FasterRateAndEdges", "data-rate=2.5G,rise=100p,noise=30,jitter=6p"},
                      Signal{"NoisyWithMoreJitter", "noise=40,jitter=15p,rise=150p"},
                      Signal{"SmallSwing", "levels=1000:2200,noise=10,jitter=6p"},
                      Signal{"Prbs15", "pattern=prbs15,data-rate=3.1G,rise=100p,jitter=5p"}),
    [](const ::testing::TestParamInfo<Signal>& info) { return std::string(info.param.name); });

// What cannot be measured is said so, with the reason, and its value is 0 (never NaN).
TvaEyeMeasurements measuredDemo(const std::string& options) {
    const FoldedEye eye = fold(captureDemo(options));
    const auto parsed = emulated::parseDemoConfig(options);
    TvaEyeMeasurements m{};
    EXPECT_EQ(tvaMeasurePoints(eye.x.data(), eye.y.data(), static_cast<std::uint32_t>(eye.x.size()),
                               eye.width, parsed.config.firmware.signal.dataRate, &m),
              kTvaOk);
    for (const TvaMeasurement& item : m.items) {
        EXPECT_TRUE(std::isfinite(item.value));
        if (!item.measurable) {
            EXPECT_EQ(item.value, 0.0);
        }
        EXPECT_EQ(item.measurable == 1, item.reason == kTvaOk);
    }
    return m;
}

TEST(NotMeasurable, NoiseThatFillsTheEyeLeavesLevelsButNoEdgesOrJitter) {
    const TvaEyeMeasurements m = measuredDemo("noise=400");
    EXPECT_EQ(m.items[kTvaOneLevel].measurable, 1u);
    EXPECT_NEAR(m.items[kTvaOneNoise].value, 400, 0.05 * 400);
    for (std::uint32_t i : {kTvaJitterRms, kTvaJitterPp, kTvaEyeWidth, kTvaRiseTime, kTvaFallTime,
                            kTvaRiseTime2080, kTvaFallTime2080, kTvaDutyCycleDistortion}) {
        EXPECT_EQ(m.items[i].measurable, 0u) << tvaMeasurementName(i);
        EXPECT_EQ(m.items[i].reason, kTvaInsideNoise) << tvaMeasurementName(i);
    }
}

TEST(NotMeasurable, AClosedEyeHasANegativeHeightAndNoCrossing) {
    const TvaEyeMeasurements m = measuredDemo("data-rate=6G");
    EXPECT_EQ(m.items[kTvaEyeHeight].measurable, 1u);
    EXPECT_LT(m.items[kTvaEyeHeight].value, 0.0);
    EXPECT_EQ(m.items[kTvaCrossingLevel].reason, kTvaInsideNoise);
    EXPECT_EQ(m.items[kTvaJitterRms].reason, kTvaInsideNoise);
}

// Points made by hand: the analysis reads nothing but them.
struct Points {
    std::vector<std::uint16_t> x, y;
    TvaEyeMeasurements measure(std::uint16_t width = 1000) const {
        TvaEyeMeasurements m{};
        EXPECT_EQ(tvaMeasurePoints(x.data(), y.data(), static_cast<std::uint32_t>(x.size()), width,
                                   1e9, &m),
                  kTvaOk);
        return m;
    }
};

TEST(NotMeasurable, OneFlatLevelHasNoTwoLevelsToTellApart) {
    Points p;
    for (std::uint16_t i = 0; i < 1000; ++i) {
        p.x.push_back(i);
        p.y.push_back(2000);
    }
    const TvaEyeMeasurements m = p.measure();
    EXPECT_EQ(m.frameValid, 0u);
    for (const TvaMeasurement& item : m.items) EXPECT_EQ(item.reason, kTvaLevelsNotApart);
}

TEST(NotMeasurable, TwoLevelsThatNeverCrossHaveNoTransitions) {
    Points p;
    for (std::uint16_t i = 0; i < 1000; ++i) {
        p.x.push_back(i);
        p.y.push_back(i % 2 ? 3000 : 1000);
    }
    const TvaEyeMeasurements m = p.measure();
    EXPECT_EQ(m.frameValid, 0u);
    for (const TvaMeasurement& item : m.items) EXPECT_EQ(item.reason, kTvaNoTransitions);
}

TEST(NotMeasurable, AShortCaptureHasTooFewSamplesForTheLevels) {
    const DemoCapture capture = captureDemo("", 4);  // 128 samples: a dozen in the eye window
    TvaEyeMeasurements m{};
    ASSERT_EQ(tvaMeasureSamples(capture.samples.data(), static_cast<std::uint32_t>(capture.samples.size()),
                                capture.signal.dataRate, capture.signal.sampleRate, &m),
              kTvaOk);
    EXPECT_EQ(m.items[kTvaOneLevel].reason, kTvaTooFewSamples);
    EXPECT_EQ(m.frameValid, 0u);
}

TEST(NotMeasurable, NoNoiseLeavesQWithNothingToDivideBy) {
    Points p;  // bits of exact levels 1000 and 3000, a transition passing 2000 at phase 0
    for (int bit = 1; bit <= 40; ++bit) {
        const bool high = bit % 3 == 0, wasHigh = (bit - 1) % 3 == 0;
        for (std::uint16_t x = 0; x < 1000; ++x) {
            p.x.push_back(x);
            p.y.push_back(x == 0 && high != wasHigh ? 2000 : high ? 3000 : 1000);
        }
    }
    const TvaEyeMeasurements m = p.measure();
    EXPECT_EQ(m.items[kTvaOneNoise].value, 0.0);
    EXPECT_EQ(m.items[kTvaQFactor].reason, kTvaNoNoise);
    EXPECT_NEAR(m.items[kTvaEyeAmplitude].value, 2000, 2);
}

// The raw samples give the same eye as the points u_GetEyeXY folds from the same capture: the
// folding is the library's own, to the last bit.
TEST(Folding, EqualsTheLibrarysEyeFoldingForTheSameCapture) {
    for (const char* options : {"", "data-rate=2.5G,sample-rate=97M", "data-rate=10.3125G,sample-rate=100M"}) {
        const DemoCapture capture = captureDemo(options, 300);
        std::vector<std::uint16_t> x(capture.samples.size()), y(x.size());
        std::uint16_t width = 0;
        ASSERT_EQ(tvaFoldSamples(capture.samples.data(), static_cast<std::uint32_t>(x.size()),
                                 capture.signal.dataRate, capture.signal.sampleRate, 7, x.data(),
                                 y.data(), &width),
                  kTvaOk);

        const auto parsed = emulated::parseDemoConfig(std::string("clock=virtual,") + options);
        emulated::DemoWorld demo(parsed.config);
        platform::ScopedBackend use(demo.backend());
        std::vector<std::uint16_t> eyeX(x.size()), eyeY(x.size());
        ScopeStats stats{};
        ASSERT_EQ(OpenUSBPort(0), 1);
        u_GetEyeXY(0, 300, capture.signal.dataRate, capture.signal.sampleRate, eyeX.data(), 7,
                   eyeY.data(), &stats);
        CloseUSBPort(0);
        EXPECT_EQ(x, eyeX) << options;
        EXPECT_EQ(y, eyeY) << options;
    }
}

}  // namespace
}  // namespace tarvex::analysis::testing
