// The mask test on every vector unit this machine has gives what its scalar loop gives: the same
// hits, flags and margin to the last bit, for eyes open and closed, masks near and far, counts
// that leave a partial block, and a stray X anywhere.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "analysis/demo_eye.h"
#include "analysis/mask.h"

namespace tarvex::analysis::testing {
namespace {

struct UnitCase {
    const char* what;
    const char* demo;     // the demo board's options
    double x1, x2, y1, y2;  // the hexagon
    double amplitude;     // the frame's, in codes: 0 keeps the measured one
    std::uint32_t drop;   // points left off the end
    std::int64_t stray;   // a point given an X beyond the width, or -1
};

void PrintTo(const UnitCase& c, std::ostream* os) { *os << c.what; }

struct UnitRun {
    PointsProblem problem;
    TvaMaskResult result;
    std::vector<std::uint8_t> flags;
};

class MaskUnits : public ::testing::TestWithParam<UnitCase> {};

TEST_P(MaskUnits, GiveTheScalarLoopsResults) {
    if (!commands::foldUnitAvailable(VectorUnit::kAvx512)) GTEST_SKIP() << "no AVX-512 here";
    const UnitCase& c = GetParam();
    const DemoCapture capture = captureDemo(c.demo, 300);
    FoldedEye eye = fold(capture);
    TvaEyeMeasurements measured{};
    ASSERT_EQ(tvaMeasurePoints(eye.x.data(), eye.y.data(), static_cast<std::uint32_t>(eye.x.size()),
                               eye.width, capture.signal.dataRate, &measured),
              kTvaOk);
    TvaEyeFrame frame = measured.frame;
    if (c.amplitude > 0) frame.oneLevel = frame.zeroLevel + c.amplitude;
    if (c.stray >= 0) eye.x[static_cast<std::size_t>(c.stray)] = eye.width;
    TvaMask mask{};
    ASSERT_EQ(tvaMaskHexagon(c.x1, c.x2, c.y1, c.y2, &mask), kTvaOk);
    const EyePoints points{eye.x.data(), eye.y.data(),
                           static_cast<std::uint32_t>(eye.x.size()) - c.drop, eye.width};
    const auto on = [&](VectorUnit unit) {
        UnitRun run{};
        run.flags.assign(points.count, 0xEE);
        run.problem = testMask(points, frame, mask, run.result, run.flags.data(), unit);
        return run;
    };
    const UnitRun scalar = on(VectorUnit::kScalar), vector = on(VectorUnit::kAvx512);
    EXPECT_EQ(vector.problem, scalar.problem);
    EXPECT_EQ(scalar.problem, c.stray >= 0 ? PointsProblem::kXOutsideEye : PointsProblem::kNone);
    EXPECT_EQ(std::memcmp(&vector.result, &scalar.result, sizeof scalar.result), 0);
    EXPECT_EQ(vector.flags, scalar.flags);
    if (c.stray < 0) {
        EXPECT_EQ(scalar.result.testedSamples, points.count);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Eyes, MaskUnits,
    ::testing::Values(UnitCase{"an open eye", "", 0.25, 0.4, 0.25, 0.25, 0, 0, -1},
                      UnitCase{"a closed eye", "noise=300", 0.25, 0.4, 0.25, 0.25, 0, 0, -1},
                      UnitCase{"a wide hexagon", "jitter=20p", 0.1, 0.2, 0.05, 0.05, 0, 0, -1},
                      UnitCase{"a partial block", "", 0.25, 0.4, 0.25, 0.25, 0, 17, -1},
                      UnitCase{"far from the mask", "", 0.25, 0.4, 0.25, 0.25, 12, 0, -1},
                      UnitCase{"a stray X in a block", "", 0.25, 0.4, 0.25, 0.25, 0, 0, 5000},
                      UnitCase{"a stray X last", "", 0.25, 0.4, 0.25, 0.25, 0, 1, 300 * 32 - 2}));

}  // namespace
}  // namespace tarvex::analysis::testing
