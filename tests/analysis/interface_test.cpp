// The C interface: bad input of every kind gets its status and leaves the outputs as the header
// says (zeroed, or untouched where nothing was written), never a crash; the density histogram
// and the layout it suggests; the names, units and sentences a caller shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "analysis/demo_eye.h"
#include "tarvex_analysis.h"

namespace tarvex::analysis::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A small eye: two points per X over a width of 100, codes 1000 and 3000.
struct SmallEye {
    std::vector<std::uint16_t> x, y;
    SmallEye() {
        for (std::uint16_t i = 0; i < 200; ++i) {
            x.push_back(i % 100);
            y.push_back(i < 100 ? 1000 : 3000);
        }
    }
    std::uint32_t count() const { return static_cast<std::uint32_t>(x.size()); }
};

bool allZero(const void* data, std::size_t bytes) {
    const auto* p = static_cast<const unsigned char*>(data);
    return std::all_of(p, p + bytes, [](unsigned char b) { return b == 0; });
}

struct Call {
    const char* what;
    std::function<std::int32_t()> run;
    std::int32_t status;
};

void PrintTo(const Call& c, std::ostream* os) { *os << c.what; }

// ---- measurements ------------------------------------------------------------------------------

class BadMeasureInput : public ::testing::TestWithParam<Call> {};

TEST_P(BadMeasureInput, GetsItsStatusAndNoResults) {
    EXPECT_EQ(GetParam().run(), GetParam().status);
}

SmallEye gEye;
TvaEyeMeasurements gOut;

std::int32_t measure(const std::uint16_t* x, const std::uint16_t* y, std::uint32_t count,
                     std::uint16_t width, double rate) {
    std::memset(&gOut, 0xA5, sizeof gOut);
    const std::int32_t status = tvaMeasurePoints(x, y, count, width, rate, &gOut);
    EXPECT_TRUE(allZero(&gOut, sizeof gOut)) << "results zeroed";
    return status;
}

std::int32_t measureSamples(const std::uint16_t* samples, std::uint32_t count, double dataRate,
                            double sampleRate) {
    std::memset(&gOut, 0xA5, sizeof gOut);
    const std::int32_t status = tvaMeasureSamples(samples, count, dataRate, sampleRate, &gOut);
    EXPECT_TRUE(allZero(&gOut, sizeof gOut)) << "results zeroed";
    return status;
}

std::vector<std::uint16_t> withOne(std::vector<std::uint16_t> v, std::uint16_t value) {
    v[57] = value;
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, BadMeasureInput,
    ::testing::Values(
        Call{"no results", [] { return tvaMeasurePoints(gEye.x.data(), gEye.y.data(), 200, 100, 1e9, nullptr); },
             kTvaNullPointer},
        Call{"no X", [] { return measure(nullptr, gEye.y.data(), 200, 100, 1e9); }, kTvaNullPointer},
        Call{"no Y", [] { return measure(gEye.x.data(), nullptr, 200, 100, 1e9); }, kTvaNullPointer},
        Call{"no points", [] { return measure(gEye.x.data(), gEye.y.data(), 0, 100, 1e9); }, kTvaNoSamples},
        Call{"width 0", [] { return measure(gEye.x.data(), gEye.y.data(), 200, 0, 1e9); }, kTvaBadEyeWidth},
        Call{"rate 0", [] { return measure(gEye.x.data(), gEye.y.data(), 200, 100, 0); }, kTvaBadRates},
        Call{"rate NaN", [] { return measure(gEye.x.data(), gEye.y.data(), 200, 100, kNaN); }, kTvaBadRates},
        Call{"rate infinite", [] { return measure(gEye.x.data(), gEye.y.data(), 200, 100, kInf); }, kTvaBadRates},
        Call{"an X at the width",
             [] { static auto x = withOne(gEye.x, 100); return measure(x.data(), gEye.y.data(), 200, 100, 1e9); },
             kTvaPointOutsideEye},
        Call{"a code of 13 bits",
             [] { static auto y = withOne(gEye.y, 4096); return measure(gEye.x.data(), y.data(), 200, 100, 1e9); },
             kTvaSampleOutOfRange},
        Call{"samples: none", [] { return measureSamples(nullptr, 200, 1e9, 1e8); }, kTvaNullPointer},
        Call{"samples: count 0", [] { return measureSamples(gEye.y.data(), 0, 1e9, 1e8); }, kTvaNoSamples},
        Call{"samples: sample rate negative", [] { return measureSamples(gEye.y.data(), 200, 1e9, -1e8); },
             kTvaBadRates},
        Call{"samples: ratio beyond 2^31", [] { return measureSamples(gEye.y.data(), 200, 1e300, 1); },
             kTvaBadRates},
        Call{"samples: a code of 16 bits",
             [] { static auto y = withOne(gEye.y, 0xFFFF); return measureSamples(y.data(), 200, 1e9, 1e8); },
             kTvaSampleOutOfRange}),
    [](const ::testing::TestParamInfo<Call>& info) {
        std::string name = info.param.what;
        std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

TEST(Fold, RefusesRatesThatCannotFoldAndWritesNothing) {
    std::vector<std::uint16_t> x(200, 0xBEEF), y(200, 0xBEEF);
    std::uint16_t width = 0xBEEF;
    for (const auto& [dataRate, sampleRate] :
         std::vector<std::pair<double, double>>{{0, 1e8}, {1e9, kNaN}, {kInf, 1e8}, {1e300, 1}}) {
        EXPECT_EQ(tvaFoldSamples(gEye.y.data(), 200, dataRate, sampleRate, 0, x.data(), y.data(), &width),
                  kTvaBadRates);
    }
    EXPECT_EQ(tvaFoldSamples(gEye.y.data(), 0, 1e9, 1e8, 0, x.data(), y.data(), &width), kTvaNoSamples);
    EXPECT_EQ(tvaFoldSamples(gEye.y.data(), 200, 1e9, 1e8, 0, x.data(), y.data(), nullptr), kTvaNullPointer);
    EXPECT_EQ(x, std::vector<std::uint16_t>(200, 0xBEEF));
    EXPECT_EQ(y, std::vector<std::uint16_t>(200, 0xBEEF));
    EXPECT_EQ(width, 0xBEEF);
}

TEST(Measure, FromRawSamplesAgreesWithTheFoldedPoints) {
    const DemoCapture capture = captureDemo("");
    const FoldedEye eye = fold(capture);
    TvaEyeMeasurements fromPoints{}, fromSamples{};
    ASSERT_EQ(tvaMeasurePoints(eye.x.data(), eye.y.data(), static_cast<std::uint32_t>(eye.x.size()),
                               eye.width, capture.signal.dataRate, &fromPoints),
              kTvaOk);
    ASSERT_EQ(tvaMeasureSamples(capture.samples.data(), static_cast<std::uint32_t>(capture.samples.size()),
                                capture.signal.dataRate, capture.signal.sampleRate, &fromSamples),
              kTvaOk);
    // The finer X axis of the raw path moves points across columns, not the levels.
    for (std::uint32_t i : {kTvaOneLevel, kTvaZeroLevel, kTvaOneNoise, kTvaZeroNoise})
        EXPECT_NEAR(fromSamples.items[i].value, fromPoints.items[i].value, 1.0) << tvaMeasurementName(i);
    EXPECT_NEAR(fromSamples.items[kTvaRiseTime].value, fromPoints.items[kTvaRiseTime].value, 2e-12);
}

// ---- the density histogram ----------------------------------------------------------------------

TEST(Density, CountsEachPointOnceInTheCellOfItsPhaseAndCode) {
    // Width 100: X 10 has phase 0.105; codes 0..4000 in 4 rows of 1000 codes, row 0 on top.
    const std::vector<std::uint16_t> x{10, 10, 60, 99, 0};
    const std::vector<std::uint16_t> y{3500, 500, 2500, 5000, 0};
    TvaHistogramLayout layout{10, 4, 0.0, 0.0, 4000.0};
    std::vector<std::uint32_t> counts(40, 7);
    ASSERT_EQ(tvaEyeHistogram(x.data(), y.data(), 5, 100, &layout, counts.data(), 40), kTvaOk);
    std::vector<std::uint32_t> expected(40, 0);
    expected[0 * 10 + 1] = 1;  // 3500, phase 0.105
    expected[3 * 10 + 1] = 1;  // 500
    expected[1 * 10 + 6] = 1;  // 2500, phase 0.605
    expected[0 * 10 + 9] = 1;  // 5000: above the range, in the top row
    expected[3 * 10 + 0] = 1;  // 0: the bottom row
    EXPECT_EQ(counts, expected);

    // An origin half a UI on moves every point by half the columns.
    layout.originPhase = 0.5;
    ASSERT_EQ(tvaEyeHistogram(x.data(), y.data(), 5, 100, &layout, counts.data(), 40), kTvaOk);
    EXPECT_EQ(counts[0 * 10 + 6], 1u);
    EXPECT_EQ(counts[1 * 10 + 1], 1u);
}

TEST(Density, RefusesLayoutsItCannotFillAndZeroesOnAStrayPoint) {
    std::vector<std::uint32_t> counts(40, 7);
    const auto with = [&](TvaHistogramLayout layout, std::uint32_t capacity = 40) {
        return tvaEyeHistogram(gEye.x.data(), gEye.y.data(), 200, 100, &layout, counts.data(), capacity);
    };
    EXPECT_EQ(with({0, 4, 0, 0, 4000}), kTvaBadArgument);
    EXPECT_EQ(with({10, 5000, 0, 0, 4000}), kTvaBadArgument);
    EXPECT_EQ(with({10, 4, 1.0, 0, 4000}), kTvaBadArgument);
    EXPECT_EQ(with({10, 4, kNaN, 0, 4000}), kTvaBadArgument);
    EXPECT_EQ(with({10, 4, 0, 4000, 4000}), kTvaBadArgument);
    EXPECT_EQ(with({10, 4, 0, 0, kInf}), kTvaBadArgument);
    EXPECT_EQ(with({10, 4, 0, 0, 4000}, 39), kTvaBufferTooSmall);
    EXPECT_EQ(counts, std::vector<std::uint32_t>(40, 7)) << "nothing written when refused";
    const auto x = withOne(gEye.x, 100);
    TvaHistogramLayout layout{10, 4, 0, 0, 4000};
    EXPECT_EQ(tvaEyeHistogram(x.data(), gEye.y.data(), 200, 100, &layout, counts.data(), 40),
              kTvaPointOutsideEye);
    EXPECT_EQ(counts, std::vector<std::uint32_t>(40, 0));
}

TEST(Density, SuggestsAColumnForEachPhaseTheSamplerVisits) {
    const DemoCapture capture = captureDemo("", 100);
    const FoldedEye eye = fold(capture);
    TvaHistogramLayout layout{};
    layout.rows = 123;
    // The demo board steps 62/99 of a bit per sample: 99 phases.
    ASSERT_EQ(tvaSuggestLayout(eye.x.data(), static_cast<std::uint32_t>(eye.x.size()), eye.width,
                               capture.signal.dataRate, capture.signal.sampleRate, 0.3, &layout),
              kTvaOk);
    EXPECT_EQ(layout.columns, 99u);
    EXPECT_DOUBLE_EQ(layout.originPhase, (29 + 0.5) / 99);
    EXPECT_EQ(layout.rows, 123u) << "the rest is left";
    // Each phase in the middle of its column: no column holds two, none is skipped.
    layout.rows = 1;
    layout.yLow = 0;
    layout.yHigh = 4096;
    std::vector<std::uint32_t> counts(99);
    ASSERT_EQ(tvaEyeHistogram(eye.x.data(), eye.y.data(), static_cast<std::uint32_t>(eye.x.size()),
                              eye.width, &layout, counts.data(), 99),
              kTvaOk);
    for (std::uint32_t c = 0; c < 99; ++c) EXPECT_NEAR(counts[c], eye.x.size() / 99.0, 1.0) << c;

    EXPECT_EQ(tvaSuggestLayout(eye.x.data(), 100, eye.width, 0, 1e8, 0.3, &layout), kTvaBadRates);
    EXPECT_EQ(tvaSuggestLayout(eye.x.data(), 100, eye.width, 1.25e9, 99e6, 1.0, &layout), kTvaBadArgument);
}

// ---- masks and frames ----------------------------------------------------------------------------

TEST(Mask, BadFramesMasksAndHexagonsAreRefused) {
    TvaMask mask{};
    ASSERT_EQ(tvaMaskHexagon(0.25, 0.4, 0.25, 0.25, &mask), kTvaOk);
    TvaMaskResult result{};
    std::vector<std::uint8_t> flags(200, 0xEE);
    const auto run = [&](const TvaEyeFrame& frame, const TvaMask& m) {
        std::memset(&result, 0xA5, sizeof result);
        const std::int32_t status = tvaMaskTest(gEye.x.data(), gEye.y.data(), 200, 100, &frame, &m,
                                                &result, flags.data());
        EXPECT_TRUE(allZero(&result, sizeof result));
        return status;
    };
    for (const TvaEyeFrame& frame : {TvaEyeFrame{0, 3000, 1000}, TvaEyeFrame{1.0, 1000, 3000},
                                     TvaEyeFrame{-0.1, 1000, 3000}, TvaEyeFrame{0, kNaN, 3000},
                                     TvaEyeFrame{0, 1000, kInf}, TvaEyeFrame{0, -1e308, 1e308}})
        EXPECT_EQ(run(frame, mask), kTvaBadFrame);
    const TvaEyeFrame good{0.2, 1000, 3000};
    TvaMask bad = mask;
    bad.regionCount = 9;
    EXPECT_EQ(run(good, bad), kTvaBadMask);
    bad = mask;
    bad.regions[2].vertexCount = 2;
    EXPECT_EQ(run(good, bad), kTvaBadMask);
    bad = mask;
    std::memset(bad.regions[0].name, 'x', TVA_MASK_NAME_BYTES);
    EXPECT_EQ(run(good, bad), kTvaBadMask);
    bad = mask;
    bad.regions[0].vertices[3].x = kNaN;
    EXPECT_EQ(run(good, bad), kTvaBadMask);
    EXPECT_EQ(flags, std::vector<std::uint8_t>(200, 0xEE)) << "flags untouched when refused";

    char message[64];
    EXPECT_EQ(tvaMaskCheck(&bad, message, sizeof message), kTvaBadMask);
    EXPECT_STREQ(message, "region 1 (hexagon): point 4 is outside the mask's plane (x from");  // cut to fit
    EXPECT_EQ(tvaMaskCheck(&mask, message, sizeof message), kTvaOk);
    EXPECT_STREQ(message, "");

    // A stray X: all flags zero, like the result.
    const auto x = withOne(gEye.x, 100);
    EXPECT_EQ(tvaMaskTest(x.data(), gEye.y.data(), 200, 100, &good, &mask, &result, flags.data()),
              kTvaPointOutsideEye);
    EXPECT_EQ(flags, std::vector<std::uint8_t>(200, 0));

    for (const auto& p : std::vector<std::array<double, 4>>{{0.4, 0.25, 0.25, 0.25},
                                                            {0.25, 0.5, 0.25, 0.25},
                                                            {-0.1, 0.4, 0.25, 0.25},
                                                            {0.25, 0.4, 0, 0.25},
                                                            {0.25, 0.4, 0.5, 0.25},
                                                            {0.25, 0.4, 0.25, -0.01},
                                                            {0.25, 0.4, kNaN, 0.25}}) {
        EXPECT_EQ(tvaMaskHexagon(p[0], p[1], p[2], p[3], &mask), kTvaBadArgument);
        EXPECT_EQ(mask.regionCount, 0u);
    }
}

// ---- names, units and sentences -----------------------------------------------------------------

TEST(Names, EveryStatusMeasurementAndUnitHasItsOwn) {
    EXPECT_EQ(tvaVersion(), TARVEX_ANALYSIS_VERSION);
    std::set<std::string> sentences;
    const std::vector<std::int32_t> statuses{kTvaOk, kTvaNullPointer, kTvaNoSamples, kTvaBadRates,
                                             kTvaBadEyeWidth, kTvaPointOutsideEye, kTvaSampleOutOfRange,
                                             kTvaBufferTooSmall, kTvaBadArgument, kTvaBadMask, kTvaBadFrame,
                                             kTvaOutOfMemory, kTvaTooFewSamples, kTvaNoTransitions,
                                             kTvaLevelsNotApart, kTvaInsideNoise, kTvaNotEnoughEdges,
                                             kTvaNoNoise};
    for (const std::int32_t s : statuses) sentences.insert(tvaStatusText(s));
    EXPECT_EQ(sentences.size(), statuses.size());
    EXPECT_STREQ(tvaStatusText(-1), "unknown status");

    std::set<std::string> names, labels;
    for (std::uint32_t i = 0; i < TVA_MEASUREMENT_COUNT; ++i) {
        names.insert(tvaMeasurementName(i));
        labels.insert(tvaMeasurementLabel(i));
    }
    EXPECT_EQ(names.size(), TVA_MEASUREMENT_COUNT);
    EXPECT_EQ(labels.size(), TVA_MEASUREMENT_COUNT);
    EXPECT_STREQ(tvaMeasurementName(TVA_MEASUREMENT_COUNT), "");
    EXPECT_STREQ(tvaMeasurementName(kTvaDutyCycleDistortion), "dutyCycleDistortion");
    EXPECT_STREQ(tvaUnitSymbol(kTvaUnitSecond), "s");
    EXPECT_STREQ(tvaUnitSymbol(99), "");
}

}  // namespace
}  // namespace tarvex::analysis::testing
