// The fast eye fold gives exactly what the algorithm written plainly gives: the same X for every
// sample, the same Y after the zeros are filled, the same range and width, on random captures
// and rate pairs, the rate pairs of the worked examples and every xScale rule, on every vector
// unit, and through u_GetEyeXY on the demo board.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "commands/eye_fold.h"
#include "emulated/world.h"
#include "platform/platform.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using commands::EyeRange;
using commands::FoldUnit;

// ---- the algorithm, one sample at a time ----------------------------------------------------

struct Eye {
    std::uint16_t minimum = 0, maximum = 0, width = 0;
    std::vector<std::uint16_t> x, y;
};

// For captures with a nonzero sample and rates whose ratio fits a signed 32-bit integer, where
// every step below is defined.
Eye plainFold(std::vector<std::uint16_t> eyeY, double dataRate, double sampleRate,
              std::uint16_t xScale) {
    Eye eye;
    const double dataPeriod = 1.0 / dataRate;
    const double samplePeriod = 1.0 / sampleRate;
    const double ratio = samplePeriod / dataPeriod;
    const double foldStep = ratio - static_cast<std::int32_t>(ratio);

    std::uint16_t minimum = 4096, maximum = 0;
    for (std::uint16_t v : eyeY) {
        if (v < minimum && v != 0) minimum = v;
        if (v > maximum) maximum = v;
    }

    std::uint16_t eyeWidth;
    if (xScale == 0)
        eyeWidth = static_cast<std::uint16_t>(std::uint32_t{maximum} - minimum);
    else if (xScale <= 10)
        eyeWidth = static_cast<std::uint16_t>(xScale * (std::uint32_t{maximum} - minimum));
    else
        eyeWidth = xScale;

    eye.x.resize(eyeY.size());
    for (std::size_t i = 0; i < eyeY.size(); ++i) {
        if (eyeY[i] == 0) eyeY[i] = minimum;
        double p = static_cast<double>(i) * foldStep;
        p = p - static_cast<std::int32_t>(p);
        eye.x[i] = static_cast<std::uint16_t>(static_cast<int>(eyeWidth * p));
    }
    eye.minimum = minimum;
    eye.maximum = maximum;
    eye.width = eyeWidth;
    eye.y = std::move(eyeY);
    return eye;
}

Eye fastFold(std::vector<std::uint16_t> eyeY, double dataRate, double sampleRate,
             std::uint16_t xScale, FoldUnit unit) {
    Eye eye;
    eye.x.assign(eyeY.size(), 0xA5A5);
    const EyeRange range =
        commands::foldEye(eyeY.data(), eye.x.data(), static_cast<std::uint32_t>(eyeY.size()),
                          dataRate, sampleRate, xScale, unit);
    eye.minimum = range.minimum;
    eye.maximum = range.maximum;
    eye.width = range.width;
    eye.y = std::move(eyeY);
    return eye;
}

std::vector<FoldUnit> foldUnits() {
    std::vector<FoldUnit> units{FoldUnit::kBest};
    for (FoldUnit u : {FoldUnit::kScalar, FoldUnit::kSse2, FoldUnit::kAvx2, FoldUnit::kAvx512})
        if (commands::foldUnitAvailable(u)) units.push_back(u);
    return units;
}

std::string unitName(FoldUnit unit) {
    switch (unit) {
        case FoldUnit::kBest: return "best";
        case FoldUnit::kScalar: return "scalar";
        case FoldUnit::kSse2: return "sse2";
        case FoldUnit::kAvx2: return "avx2";
        case FoldUnit::kAvx512: return "avx512";
    }
    return "?";
}

// The first sample at which two folds differ, or -1.
long firstDifference(const std::vector<std::uint16_t>& a, const std::vector<std::uint16_t>& b) {
    if (a.size() != b.size()) return 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return -1;
}

void expectSame(const Eye& fast, const Eye& plain, const std::string& what) {
    EXPECT_EQ(fast.minimum, plain.minimum) << what;
    EXPECT_EQ(fast.maximum, plain.maximum) << what;
    EXPECT_EQ(fast.width, plain.width) << what;
    const long x = firstDifference(fast.x, plain.x);
    EXPECT_EQ(x, -1) << what << ": X first differs at sample " << x;
    const long y = firstDifference(fast.y, plain.y);
    EXPECT_EQ(y, -1) << what << ": Y first differs at sample " << y;
}

struct Rates {
    double data, sample;
};

// The worked examples' rate pairs.
const Rates kExampleRates[] = {{1.25, 1.0}, {5.0, 4.0},  {2.5, 1.0},        {3.0, 1.0},
                               {49.0, 1.0}, {1e9, 3e8}, {10.3125e9, 100e6}};
const std::uint16_t kXScales[] = {0, 2, 10, 11, 1000};

// 12-bit samples with about one zero in `zeroOneIn`, and at least one nonzero sample.
std::vector<std::uint16_t> randomCapture(std::mt19937& random, std::size_t count, int zeroOneIn) {
    std::uniform_int_distribution<int> sample(1, 4095);
    std::uniform_int_distribution<int> zero(0, zeroOneIn - 1);
    std::vector<std::uint16_t> y(count);
    for (auto& v : y) v = zero(random) == 0 ? 0 : static_cast<std::uint16_t>(sample(random));
    y[count / 2] = static_cast<std::uint16_t>(sample(random));
    return y;
}

// ---- the reference itself ----------------------------------------------------------------------

TEST(PlainFold, GivesTheWorkedExamplesPoints) {
    // 100, 3000, 0, 500, 2000 over and over: minimum 100, maximum 3000, range 2900.
    std::vector<std::uint16_t> y(20);
    const std::uint16_t pattern[] = {100, 3000, 0, 500, 2000};
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = pattern[i % 5];

    struct Case {
        Rates rates;
        std::uint16_t xScale, width;
        std::vector<std::uint16_t> x;
    } const cases[] = {
        {{1.25, 1.0}, 0, 2900, {0, 725, 1450, 2175, 0, 725}},
        {{5.0, 4.0}, 0, 2900, {0, 725, 1450, 2175, 0, 725}},
        {{1.25, 1.0}, 2, 5800, {0, 1450, 2900, 4350}},
        {{1.25, 1.0}, 10, 29000, {0, 7250, 14500, 21750}},
        {{1.25, 1.0}, 11, 11, {0, 2, 5, 8}},
        {{1.25, 1.0}, 1000, 1000, {0, 250, 500, 750}},
        {{2.5, 1.0}, 0, 2900, {0, 1450, 0, 1450}},
        {{3.0, 1.0}, 0, 2900, {0, 0, 0, 0}},
        {{49.0, 1.0}, 0, 2900, {0, 0, 0, 0}},
        {{1e9, 3e8}, 0, 2900, {0, 966, 1933, 2899, 966}},
        {{10.3125e9, 100e6}, 0, 2900, {0, 362, 725, 1087, 1450, 1812, 2175, 2537, 0}},
    };
    for (const Case& c : cases) {
        const Eye eye = plainFold(y, c.rates.data, c.rates.sample, c.xScale);
        EXPECT_EQ(eye.minimum, 100);
        EXPECT_EQ(eye.maximum, 3000);
        EXPECT_EQ(eye.width, c.width) << c.rates.data << " / " << c.rates.sample;
        EXPECT_EQ(std::vector<std::uint16_t>(eye.x.begin(), eye.x.begin() + c.x.size()), c.x)
            << c.rates.data << " / " << c.rates.sample << ", xScale " << c.xScale;
        EXPECT_EQ(eye.y[2], 100) << "the zero becomes the minimum";
    }
}

// ---- the library's fold against it ------------------------------------------------------------

TEST(FoldIdentity, TheWorkedExamplesRatesFoldRandomCapturesAlike) {
    std::mt19937 random(0x7A7E1);
    // Lengths around every vector width, so the wide loops and their scalar tails both run.
    const std::size_t lengths[] = {1, 2, 7, 8, 9, 31, 32, 33, 64, 100, 1000, 4099};
    for (const Rates& r : kExampleRates) {
        for (std::uint16_t xScale : kXScales) {
            for (std::size_t length : lengths) {
                const auto y = randomCapture(random, length, 16);
                const Eye plain = plainFold(y, r.data, r.sample, xScale);
                for (FoldUnit unit : foldUnits())
                    expectSame(fastFold(y, r.data, r.sample, xScale, unit), plain,
                               unitName(unit) + ", " + std::to_string(r.data) + " / " +
                                   std::to_string(r.sample) + ", xScale " +
                                   std::to_string(xScale) + ", " + std::to_string(length) +
                                   " samples");
            }
        }
    }
}

TEST(FoldIdentity, RandomRatePairsFoldRandomCapturesAlike) {
    std::mt19937 random(0xF01D);
    std::uniform_real_distribution<double> logRate(3.0, 10.5);  // 1 kHz to 30 GHz
    std::uniform_int_distribution<int> length(1, 3000);
    std::uniform_int_distribution<int> scale(0, 1200);
    int folded = 0;
    while (folded < 300) {
        const double data = std::pow(10.0, logRate(random));
        const double sample = std::pow(10.0, logRate(random));
        // Only pairs whose ratio fits a signed 32-bit integer have a defined fold.
        if ((1.0 / sample) / (1.0 / data) >= 2147483648.0) continue;
        const auto xScale = static_cast<std::uint16_t>(scale(random));
        const auto y = randomCapture(random, static_cast<std::size_t>(length(random)), 8);
        const Eye plain = plainFold(y, data, sample, xScale);
        for (FoldUnit unit : foldUnits())
            expectSame(fastFold(y, data, sample, xScale, unit), plain,
                       unitName(unit) + ", " + std::to_string(data) + " / " +
                           std::to_string(sample) + ", xScale " + std::to_string(xScale));
        if (HasFailure()) return;
        ++folded;
    }
}

TEST(FoldIdentity, TheLongestCaptureFoldsAlikeToItsLastSample) {
    // 65535 packets of 32 samples: where i x foldStep is largest and rounding shows most.
    std::mt19937 random(0x10C0);
    const auto y = randomCapture(random, 65535u * 32, 64);
    const struct {
        Rates rates;
        std::uint16_t xScale;
    } cases[] = {{{10.3125e9, 100e6}, 0}, {{1e9, 3e8}, 11}, {{49.0, 1.0}, 1000},
                 {{1.25e9, 99e6}, 2}};
    for (const auto& c : cases) {
        const Eye plain = plainFold(y, c.rates.data, c.rates.sample, c.xScale);
        for (FoldUnit unit : foldUnits())
            expectSame(fastFold(y, c.rates.data, c.rates.sample, c.xScale, unit), plain,
                       unitName(unit) + ", " + std::to_string(c.rates.data) + " / " +
                           std::to_string(c.rates.sample));
    }
}

// u_GetEyeXY captures and folds; the same capture (the demo board's signal repeats exactly in a
// fresh world) folded plainly gives the same eye.
TEST(FoldIdentity, AnEyeFromTheDemoBoardIsThePlainFoldOfItsCapture) {
    constexpr std::uint16_t kPackets = 2048;
    constexpr std::size_t kCount = std::size_t{kPackets} * SAMPLES_PER_PACKET;

    auto captureOnFreshBoard = [](auto&& run) {
        emulated::World world;
        world.plugBoard();
        platform::ScopedBackend use(world);
        ASSERT_EQ(OpenUSBPort(0), 1);
        run();
        CloseUSBPort(0);
    };

    for (const Rates& r : {Rates{1.25e9, 99e6}, Rates{10.3125e9, 100e6}}) {
        for (std::uint16_t xScale : kXScales) {
            std::vector<std::uint16_t> captured(kCount);
            ScopeStats stats{};
            captureOnFreshBoard([&] {
                ASSERT_EQ(u_GetScopeSamples(0, kPackets, captured.data(), &stats), 1);
            });
            ASSERT_EQ(stats.okCount, kPackets);

            std::vector<std::uint16_t> x(kCount, 0xA5A5), y(kCount, 0xA5A5);
            captureOnFreshBoard([&] {
                ASSERT_EQ(u_GetEyeXY(0, kPackets, r.data, r.sample, x.data(), xScale, y.data(),
                                     &stats),
                          1);
            });
            ASSERT_EQ(stats.sampleCount, kCount);

            const Eye plain = plainFold(captured, r.data, r.sample, xScale);
            const std::string what = std::to_string(r.data) + ", xScale " + std::to_string(xScale);
            EXPECT_EQ(firstDifference(x, plain.x), -1) << what;
            EXPECT_EQ(firstDifference(y, plain.y), -1) << what;
        }
    }
}

}  // namespace
}  // namespace tarvex::testing
