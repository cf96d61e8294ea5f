// Eye folding: the fold step of two rates, the range and width, the X of every sample to the
// integer, every vector unit against a plain reference, and u_GetEyeXY on a board.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "commands/eye_fold.h"
#include "commands_fixture.h"

namespace tarvex::testing {
namespace {

using commands::EyeRange;
using commands::FoldUnit;
using commands::eyeFoldStep;
using commands::foldEye;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// 100, 3000, 0, 500, 2000 over and over: minimum 100, maximum 3000, range 2900.
std::vector<std::uint16_t> cycleSamples(std::size_t count) {
    const std::uint16_t pattern[] = {100, 3000, 0, 500, 2000};
    std::vector<std::uint16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) samples[i] = pattern[i % 5];
    return samples;
}

struct Folded {
    EyeRange range;
    std::vector<std::uint16_t> x, y;
};

Folded foldWith(std::vector<std::uint16_t> y, double dataRate, double sampleRate,
            std::uint16_t xScale, FoldUnit unit = FoldUnit::kBest) {
    std::vector<std::uint16_t> x(y.size(), 0xBEEF);
    const EyeRange range = foldEye(y.data(), x.data(), static_cast<std::uint32_t>(y.size()),
                                   dataRate, sampleRate, xScale, unit);
    return {range, x, y};
}

// The algorithm written out plainly, one sample at a time.
Folded referenceFold(std::vector<std::uint16_t> y, double dataRate, double sampleRate,
                 std::uint16_t xScale) {
    std::uint16_t minimum = 4096, maximum = 0;
    for (std::uint16_t v : y) {
        if (v < minimum && v != 0) minimum = v;
        if (v > maximum) maximum = v;
    }
    if (maximum == 0) minimum = 0;
    std::uint16_t width = xScale;
    if (xScale == 0) width = static_cast<std::uint16_t>(maximum - minimum);
    else if (xScale <= 10) width = static_cast<std::uint16_t>(xScale * (maximum - minimum));
    double foldStep = 0.0;
    if (dataRate > 0 && sampleRate > 0 && std::isfinite(dataRate) && std::isfinite(sampleRate)) {
        const double ratio = (1.0 / sampleRate) / (1.0 / dataRate);
        if (ratio < 2147483648.0) foldStep = ratio - static_cast<int>(ratio);
    }
    std::vector<std::uint16_t> x(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (y[i] == 0) y[i] = minimum;
        double p = static_cast<double>(i) * foldStep;
        p -= static_cast<int>(p);
        x[i] = static_cast<std::uint16_t>(static_cast<int>(width * p));
    }
    return {{minimum, maximum, width}, x, y};
}

std::vector<FoldUnit> availableUnits() {
    std::vector<FoldUnit> units;
    for (FoldUnit u : {FoldUnit::kScalar, FoldUnit::kSse2, FoldUnit::kAvx2, FoldUnit::kAvx512})
        if (commands::foldUnitAvailable(u)) units.push_back(u);
    return units;
}

TEST(EyeFoldStep, IsTheFractionOfTheRatioOfTheTwoRoundedPeriods) {
    struct Case {
        double dataRate, sampleRate, foldStep;
    } const cases[] = {
        {1.25, 1.0, 0.25},
        {5.0, 4.0, 0.25},
        {2.5, 1.0, 0.5},
        {1.0, 1.0, 0.0},
        {3.0, 1.0, 0.0},
        {49.0, 1.0, 7.105427357601002e-15},  // 49.00000000000001 through the two reciprocals
        {1e9, 3e8, 0.33333333333333304},
        {10.3125e9, 100e6, 0.1250000000000142},
        {0.5, 1.0, 0.5},  // a ratio below 1 is its own fraction
    };
    for (const auto& c : cases) {
        const auto step = eyeFoldStep(c.dataRate, c.sampleRate);
        ASSERT_TRUE(step.has_value()) << c.dataRate << " / " << c.sampleRate;
        EXPECT_EQ(*step, c.foldStep) << c.dataRate << " / " << c.sampleRate;  // bit for bit
    }
}

TEST(EyeFoldStep, RatesThatGiveNoFoldStepAreRefused) {
    struct Case {
        double dataRate, sampleRate;
    } const cases[] = {
        {0.0, 1.0}, {1.0, 0.0}, {-1.0, 1.0}, {1.0, -1e8}, {kNaN, 1.0}, {1.0, kNaN},
        {kInf, 1.0}, {1.0, kInf}, {-kInf, 1.0},
        {3e9, 1.0},                        // ratio 3e9 does not fit a signed 32-bit integer
        {2147483648.0, 1.0},               // 2^31 exactly
        {5e-324, 5e-324},                  // both periods infinite: no ratio at all
    };
    for (const auto& c : cases)
        EXPECT_FALSE(eyeFoldStep(c.dataRate, c.sampleRate).has_value())
            << c.dataRate << " / " << c.sampleRate;
    EXPECT_TRUE(eyeFoldStep(2147483647.0, 1.0).has_value()) << "the largest ratio that fits";
    EXPECT_EQ(eyeFoldStep(5e-324, 1.0), 0.0) << "an infinite data period folds everything to 0";
}

// One row of edge cases: samples 100, 3000, 0, 500, 2000 repeated unless said otherwise.
struct XCase {
    const char* name;
    double dataRate, sampleRate;
    std::uint16_t xScale;
    std::uint16_t width;
    std::vector<std::uint16_t> x;  // X of samples 0, 1, 2, ...
};

TEST(EyeFold, EveryEdgeCaseComesOutToTheInteger) {
    const XCase cases[] = {
        {"quarter steps", 1.25, 1.0, 0, 2900, {0, 725, 1450, 2175, 0, 725, 1450, 2175, 0}},
        {"same points from 5 / 4", 5.0, 4.0, 0, 2900, {0, 725, 1450, 2175, 0, 725, 1450}},
        {"xScale 2", 1.25, 1.0, 2, 5800, {0, 1450, 2900, 4350, 0}},
        {"xScale 10", 1.25, 1.0, 10, 29000, {0, 7250, 14500, 21750, 0}},
        {"xScale 11 is the width itself", 1.25, 1.0, 11, 11, {0, 2, 5, 8, 0}},
        {"xScale 1000", 1.25, 1.0, 1000, 1000, {0, 250, 500, 750, 0}},
        {"half steps", 2.5, 1.0, 0, 2900, {0, 1450, 0, 1450, 0, 1450}},
        {"equal rates", 7.0, 7.0, 0, 2900, {0, 0, 0, 0, 0, 0}},
        {"whole ratio", 3.0, 1.0, 0, 2900, {0, 0, 0, 0, 0, 0}},
        {"49 is not quite whole", 49.0, 1.0, 0, 2900, {0, 0, 0, 0, 0, 0}},
        {"thirds land short of the width", 1e9, 3e8, 0, 2900, {0, 966, 1933, 2899, 966}},
        {"10.3125 GHz at 100 MHz", 10.3125e9, 100e6, 0, 2900,
         {0, 362, 725, 1087, 1450, 1812, 2175, 2537, 0}},
    };
    for (FoldUnit unit : availableUnits()) {
        for (const auto& c : cases) {
            // Long enough that every vector unit takes its wide path, not only the tail.
            const Folded f = foldWith(cycleSamples(100), c.dataRate, c.sampleRate, c.xScale, unit);
            EXPECT_EQ(f.range.minimum, 100) << c.name;
            EXPECT_EQ(f.range.maximum, 3000) << c.name;
            EXPECT_EQ(f.range.width, c.width) << c.name;
            for (std::size_t i = 0; i < c.x.size(); ++i)
                EXPECT_EQ(f.x[i], c.x[i]) << c.name << ", sample " << i
                                          << ", unit " << static_cast<int>(unit);
        }
    }
}

TEST(EyeFold, TheLongestCaptureFoldsExactlyToItsLastSample) {
    const std::size_t count = 65535u * 32;
    for (const auto& rates : {std::pair{10.3125e9, 100e6}, std::pair{1e9, 3e8}}) {
        const Folded f = foldWith(cycleSamples(count), rates.first, rates.second, 7);
        const Folded r = referenceFold(cycleSamples(count), rates.first, rates.second, 7);
        EXPECT_EQ(f.x, r.x) << rates.first;
        EXPECT_EQ(f.y, r.y) << rates.first;
    }
}

TEST(EyeFold, ZeroSamplesBecomeTheMinimumAndCountForTheMaximumOnly) {
    const Folded f = foldWith({0, 250, 0, 1000, 0}, 1.25, 1.0, 0);
    EXPECT_EQ(f.range.minimum, 250);
    EXPECT_EQ(f.range.maximum, 1000);
    EXPECT_EQ(f.range.width, 750);
    EXPECT_EQ(f.y, (std::vector<std::uint16_t>{250, 250, 250, 1000, 250}));
}

TEST(EyeFold, EqualNonzeroSamplesGiveAnEmptyWidth) {
    for (std::uint16_t xScale = 0; xScale <= 10; ++xScale) {
        const Folded f = foldWith({1234, 1234, 0, 1234, 1234, 1234}, 1.25, 1.0, xScale);
        EXPECT_EQ(f.range.width, 0) << xScale;
        EXPECT_EQ(f.x, std::vector<std::uint16_t>(6, 0)) << xScale;
        EXPECT_EQ(f.y[2], 1234);
    }
}

TEST(EyeFold, ACaptureOfZerosKeepsItsZerosAndHasNoWidth) {
    for (std::uint16_t xScale : {0, 1, 5, 10}) {
        const Folded f = foldWith(std::vector<std::uint16_t>(40, 0), 1.25, 1.0, xScale);
        EXPECT_EQ(f.range.minimum, 0) << "not the search's start value 4096";
        EXPECT_EQ(f.range.width, 0) << "not 61440";
        EXPECT_EQ(f.y, std::vector<std::uint16_t>(40, 0));
        EXPECT_EQ(f.x, std::vector<std::uint16_t>(40, 0));
    }
    const Folded wide = foldWith(std::vector<std::uint16_t>(8, 0), 1.25, 1.0, 400);
    EXPECT_EQ(wide.range.width, 400) << "an explicit width still folds";
    EXPECT_EQ(wide.x[1], 100);
}

TEST(EyeFold, RatesThatGiveNoFoldStepPutEverySampleAtZero) {
    const double rates[][2] = {{0.0, 1.0}, {1.0, 0.0}, {-2.0, 1.0}, {kNaN, 1.0},
                               {1.0, kInf}, {3e9, 1.0}, {5e-324, 5e-324}};
    for (FoldUnit unit : availableUnits()) {
        for (const auto& r : rates) {
            const Folded f = foldWith(cycleSamples(50), r[0], r[1], 0, unit);
            EXPECT_EQ(f.x, std::vector<std::uint16_t>(50, 0)) << r[0] << " / " << r[1];
            EXPECT_EQ(f.range.width, 2900);
            EXPECT_EQ(f.y[2], 100) << "the zeros are still filled";
        }
    }
}

TEST(EyeFold, NoSamplesTouchNothing) {
    const EyeRange range = foldEye(nullptr, nullptr, 0, 1.25, 1.0, 0);
    EXPECT_EQ(range.width, 0);
}

TEST(EyeFold, EveryVectorUnitGivesTheReferenceIntegers) {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> rate(1e6, 20e9);
    std::uniform_int_distribution<int> sample(0, 4095);
    std::uniform_int_distribution<int> scale(0, 40);
    const std::size_t sizes[] = {1, 7, 15, 16, 17, 31, 33, 100, 1023, 4099};
    const auto units = availableUnits();
    for (int trial = 0; trial < 200; ++trial) {
        const std::size_t count = sizes[static_cast<std::size_t>(trial) % std::size(sizes)];
        std::vector<std::uint16_t> y(count);
        for (auto& v : y) v = static_cast<std::uint16_t>(trial % 3 == 0 ? sample(random) : sample(random) | 1);
        const double dataRate = rate(random), sampleRate = rate(random) / 10.0;
        const auto xScale = static_cast<std::uint16_t>(trial % 4 == 0 ? 3000 : scale(random) % 11);
        const Folded reference = referenceFold(y, dataRate, sampleRate, xScale);
        for (FoldUnit unit : units) {
            const Folded f = foldWith(y, dataRate, sampleRate, xScale, unit);
            ASSERT_EQ(f.x, reference.x) << "unit " << static_cast<int>(unit) << ", rates "
                                        << dataRate << " / " << sampleRate << ", " << count;
            ASSERT_EQ(f.y, reference.y) << "unit " << static_cast<int>(unit);
            EXPECT_EQ(f.range.width, reference.range.width);
            EXPECT_EQ(f.range.minimum, reference.range.minimum);
            EXPECT_EQ(f.range.maximum, reference.range.maximum);
        }
    }
}

TEST(EyeFold, SamplesAboveTwelveBitsStillFoldByTheSameRules) {
    for (FoldUnit unit : availableUnits()) {
        std::vector<std::uint16_t> y(70, 5000);
        y[3] = 0;
        y[40] = 0xFFFF;
        const Folded f = foldWith(y, 1.25, 1.0, 0, unit);
        const Folded r = referenceFold(y, 1.25, 1.0, 0);
        EXPECT_EQ(f.range.minimum, 4096) << "the search's start value is never passed";
        EXPECT_EQ(f.range.maximum, 0xFFFF);
        EXPECT_EQ(f.x, r.x);
        EXPECT_EQ(f.y, r.y);
    }
}

// ---- u_GetEyeXY on a board --------------------------------------------------------------------

using EyeCommand = CommandTest;

Bytes packetOf(const std::vector<std::uint16_t>& words) {
    Bytes bytes(64, 0);
    for (std::size_t j = 0; j < 32; ++j) {
        bytes[2 * j] = static_cast<std::uint8_t>(words[j] & 0xFF);
        bytes[2 * j + 1] = static_cast<std::uint8_t>(words[j] >> 8);
    }
    return bytes;
}

TEST_F(EyeCommand, CapturesAndFoldsTheSamples) {
    const auto samples = cycleSamples(64);
    firmware->script[CMD_SCOPE] = {
        packetOf({samples.begin(), samples.begin() + 32}),
        packetOf({samples.begin() + 32, samples.end()})};
    std::vector<std::uint16_t> eyeX(64, 0xBEEF), eyeY(64, 0xBEEF);
    ScopeStats stats{};
    EXPECT_EQ(u_GetEyeXY(0, 2, 1e9, 3e8, eyeX.data(), 0, eyeY.data(), &stats), 1);
    EXPECT_EQ(stats.sampleCount, 64u);
    EXPECT_EQ(stats.okCount, 2);
    const Folded r = referenceFold(samples, 1e9, 3e8, 0);
    EXPECT_EQ(eyeX, r.x);
    EXPECT_EQ(eyeY, r.y);
    EXPECT_EQ((std::vector<std::uint16_t>(eyeX.begin(), eyeX.begin() + 5)),
              (std::vector<std::uint16_t>{0, 966, 1933, 2899, 966}));
    EXPECT_EQ(eyeY[2], 100);
}

TEST_F(EyeCommand, ACaptureWithFailedPacketsStillFoldsAndReturnsOne) {
    std::vector<std::uint16_t> eyeX(32, 0xBEEF), eyeY(32, 0xBEEF);
    ScopeStats stats{};
    EXPECT_EQ(u_GetEyeXY(0, 1, 1.25, 1.0, eyeX.data(), 0, eyeY.data(), &stats), 1);
    EXPECT_EQ(stats.failCount, 1);
    EXPECT_EQ(eyeY, std::vector<std::uint16_t>(32, 0));
    EXPECT_EQ(eyeX, std::vector<std::uint16_t>(32, 0));
}

TEST_F(EyeCommand, NoPacketsLeaveBothArraysUntouched) {
    std::vector<std::uint16_t> eyeX(4, 0xBEEF), eyeY(4, 0xBEEF);
    ScopeStats stats{};
    EXPECT_EQ(u_GetEyeXY(0, 0, 1.25, 1.0, eyeX.data(), 0, eyeY.data(), &stats), 1);
    EXPECT_EQ(stats.sampleCount, 0u);
    EXPECT_EQ(eyeX, std::vector<std::uint16_t>(4, 0xBEEF));
    EXPECT_EQ(eyeY, std::vector<std::uint16_t>(4, 0xBEEF));
    EXPECT_EQ(received().size(), 7u) << "the capture start still runs";
}

TEST_F(EyeCommand, MissingArraysAreRefusedBeforeAnyIo) {
    std::vector<std::uint16_t> eyeX(32), eyeY(32);
    ScopeStats stats{};
    EXPECT_EQ(u_GetEyeXY(0, 1, 1.25, 1.0, nullptr, 0, eyeY.data(), &stats), 0);
    EXPECT_EQ(u_GetEyeXY(0, 1, 1.25, 1.0, eyeX.data(), 0, nullptr, &stats), 0);
    EXPECT_EQ(u_GetEyeXY(0, 1, 1.25, 1.0, eyeX.data(), 0, eyeY.data(), nullptr), 0);
    EXPECT_TRUE(received().empty());
}

}  // namespace
}  // namespace tarvex::testing
