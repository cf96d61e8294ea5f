// The mask test: which regions each point falls in, the hits and the margin, checked against
// plain geometry worked out here another way (the separating-axis test for convex polygons);
// and the mask file: a good one reads as the built-in mask, bad ones are refused saying why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/demo_eye.h"
#include "tarvex_analysis.h"

namespace tarvex::analysis::testing {
namespace {

TvaMask hexagon(double x1 = 0.25, double x2 = 0.4, double y1 = 0.25, double y2 = 0.25) {
    TvaMask mask{};
    EXPECT_EQ(tvaMaskHexagon(x1, x2, y1, y2, &mask), kTvaOk);
    return mask;
}

struct Outcome {
    std::int32_t status;
    TvaMaskResult result;
    std::vector<std::uint8_t> flags;
};

Outcome test(const std::vector<std::uint16_t>& x, const std::vector<std::uint16_t>& y,
             std::uint16_t width, const TvaEyeFrame& frame, const TvaMask& mask) {
    Outcome o{};
    o.flags.assign(x.size(), 0xEE);
    o.status = tvaMaskTest(x.data(), y.data(), static_cast<std::uint32_t>(x.size()), width, &frame,
                           &mask, &o.result, o.flags.data());
    return o;
}

// ---- which regions a point is in ----------------------------------------------------------------

// A frame in which X of an eye 1000 wide is u = X / 1000 UI and code y is (y - 1000) / 2000.
constexpr TvaEyeFrame kFrame{0.0005, 1000, 3000};

struct Place {
    const char* what;
    std::uint16_t x, y;
    std::uint8_t regions;  // bit 0 hexagon, 1 top, 2 bottom
};

void PrintTo(const Place& p, std::ostream* os) { *os << p.what; }

class PointsFallInTheRegionsTheyLieIn : public ::testing::TestWithParam<Place> {};

TEST_P(PointsFallInTheRegionsTheyLieIn, OfTheNrzHexagon) {
    const Place& p = GetParam();
    const Outcome o = test({p.x}, {p.y}, 1000, kFrame, hexagon());
    ASSERT_EQ(o.status, kTvaOk);
    EXPECT_EQ(o.flags[0], p.regions);
    EXPECT_EQ(o.result.passed, p.regions == 0);
    EXPECT_EQ(o.result.failedSamples, p.regions == 0 ? 0u : 1u);
    for (std::uint32_t r = 0; r < 3; ++r) EXPECT_EQ(o.result.regionHits[r], (p.regions >> r) & 1u);
    EXPECT_EQ(o.result.testedSamples, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Places, PointsFallInTheRegionsTheyLieIn,
    ::testing::Values(Place{"the eye's centre", 500, 2000, 1},
                      Place{"on the hexagon's flat bottom", 500, 1500, 1},
                      Place{"just below it", 500, 1499, 0},
                      Place{"inside its left point", 260, 2000, 1},
                      Place{"left of its left point", 240, 2000, 0},
                      Place{"beside its slanted edge", 300, 1600, 0},
                      Place{"inside its slanted edge", 330, 1800, 1},
                      Place{"on the top bar's edge", 500, 3500, 2},
                      Place{"just under the top bar", 500, 3499, 0},
                      Place{"in the bottom bar near a crossing", 10, 400, 4},
                      Place{"on the bottom bar's edge after the seam", 999, 500, 4},
                      Place{"at the crossing", 0, 2000, 0}));

// A region drawn a UI to the right holds the points of the same phase one UI earlier.
TEST(MaskRegions, RepeatEveryUnitInterval) {
    TvaMask mask{};
    const char* file = R"({"version": 1, "regions": [
        {"name": "late", "points": [[1.2, 0.4], [1.4, 0.4], [1.4, 0.6], [1.2, 0.6]]}]})";
    ASSERT_EQ(tvaMaskFromJson(file, static_cast<std::uint32_t>(std::strlen(file)), &mask, nullptr, 0), kTvaOk);
    const Outcome o = test({300, 300, 100}, {2000, 1000, 2000}, 1000, kFrame, mask);
    EXPECT_EQ(o.flags, (std::vector<std::uint8_t>{1, 0, 0}));
    EXPECT_EQ(o.result.regionHits[0], 1u);
}

// ---- against plain geometry --------------------------------------------------------------------

// Convex polygons by the separating-axis test: the L-infinity distance from p to the polygon
// (0 inside) and, inside, how far a square around p can grow before it leaves.  The square's
// extent along a unit normal n is d (|nx| + |ny|).
struct Convex {
    std::vector<TvaPoint> points;

    double distance(TvaPoint p) const {
        double d = 0;
        const auto axis = [&](double nx, double ny) {
            const double length = std::hypot(nx, ny);
            nx /= length;
            ny /= length;
            double low = INFINITY, high = -INFINITY;
            for (const TvaPoint& q : points) {
                low = std::min(low, nx * q.x + ny * q.y);
                high = std::max(high, nx * q.x + ny * q.y);
            }
            const double at = nx * p.x + ny * p.y, reach = std::fabs(nx) + std::fabs(ny);
            d = std::max({d, (at - high) / reach, (low - at) / reach});
        };
        axis(1, 0);
        axis(0, 1);
        for (std::size_t i = 0; i < points.size(); ++i) {
            const TvaPoint a = points[i], b = points[(i + 1) % points.size()];
            axis(b.y - a.y, a.x - b.x);
        }
        return d;
    }

    double depth(TvaPoint p) const {
        double d = INFINITY;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const TvaPoint a = points[i], b = points[(i + 1) % points.size()];
            double nx = b.y - a.y, ny = a.x - b.x;  // outward for counter-clockwise points
            const double length = std::hypot(nx, ny);
            nx /= length;
            ny /= length;
            d = std::min(d, (nx * a.x + ny * a.y - (nx * p.x + ny * p.y)) / (std::fabs(nx) + std::fabs(ny)));
        }
        return d;
    }
};

std::vector<Convex> regionsOf(const TvaMask& mask) {
    std::vector<Convex> regions;
    for (std::uint32_t r = 0; r < mask.regionCount; ++r)
        regions.push_back({{mask.regions[r].vertices, mask.regions[r].vertices + mask.regions[r].vertexCount}});
    return regions;
}

struct Expected {
    std::vector<std::uint8_t> flags;
    std::uint32_t failed = 0;
    double margin = INFINITY;  // in UI / amplitude, negative with hits
};

Expected brute(const FoldedEye& eye, const TvaEyeFrame& frame, const TvaMask& mask) {
    const std::vector<Convex> regions = regionsOf(mask);
    Expected e;
    double deepest = -1;
    for (std::size_t i = 0; i < eye.x.size(); ++i) {
        double u = (eye.x[i] + 0.5) / eye.width - frame.crossingPhase;
        u -= std::floor(u);
        const double v = (eye.y[i] - frame.zeroLevel) / (frame.oneLevel - frame.zeroLevel);
        std::uint8_t bits = 0;
        for (std::size_t r = 0; r < regions.size(); ++r) {
            for (int k = -1; k <= 2; ++k) {
                const TvaPoint p{u + k, v};
                const double d = regions[r].distance(p);
                if (d == 0) {
                    bits |= std::uint8_t(1u << r);
                    deepest = std::max(deepest, regions[r].depth(p));
                }
                e.margin = std::min(e.margin, d);
            }
        }
        e.flags.push_back(bits);
        e.failed += bits != 0;
    }
    if (e.failed > 0) e.margin = -deepest;
    return e;
}

TvaEyeFrame frameOf(const FoldedEye& eye, double dataRate) {
    TvaEyeMeasurements m{};
    EXPECT_EQ(tvaMeasurePoints(eye.x.data(), eye.y.data(), static_cast<std::uint32_t>(eye.x.size()),
                               eye.width, dataRate, &m),
              kTvaOk);
    EXPECT_EQ(m.frameValid, 1u);
    return m.frame;
}

TEST(MaskTest, AgreesWithPlainGeometryOnAnOpenEye) {
    const DemoCapture capture = captureDemo("", 400);
    const FoldedEye eye = fold(capture);
    const TvaEyeFrame frame = frameOf(eye, capture.signal.dataRate);
    for (const TvaMask& mask : {hexagon(), hexagon(0.15, 0.3, 0.1, 0.05)}) {
        const Outcome o = test(eye.x, eye.y, eye.width, frame, mask);
        const Expected e = brute(eye, frame, mask);
        ASSERT_EQ(o.status, kTvaOk);
        EXPECT_EQ(o.result.passed, 1u);
        EXPECT_EQ(o.flags, e.flags);
        // Convex regions: the margin is the nearest point's distance itself.
        EXPECT_NEAR(o.result.marginPercent, 100 * e.margin, 1e-9);
    }
}

// A frame of a small amplitude below the eye puts every point dozens of amplitudes from the
// hexagon; the nearest of them still gives the margin, not merely one of the first few looked at.
TEST(MaskTest, AgreesWithPlainGeometryFarFromTheMask) {
    const DemoCapture capture = captureDemo("", 400);
    const FoldedEye eye = fold(capture);
    TvaEyeFrame frame = frameOf(eye, capture.signal.dataRate);
    frame.zeroLevel -= 500;  // codes: the eye lies 50 amplitudes and more above the mask
    frame.oneLevel = frame.zeroLevel + 10;
    TvaMask mask = hexagon();
    mask.regionCount = 1;  // the hexagon alone: no bar holds the points
    const Outcome o = test(eye.x, eye.y, eye.width, frame, mask);
    const Expected e = brute(eye, frame, mask);
    ASSERT_EQ(o.status, kTvaOk);
    EXPECT_EQ(o.result.passed, 1u);
    EXPECT_GT(e.margin, 40.0);
    EXPECT_NEAR(o.result.marginPercent, 100 * e.margin, 1e-9 * e.margin);
}

TEST(MaskTest, AgreesWithPlainGeometryOnAClosedEye) {
    const DemoCapture capture = captureDemo("noise=300", 400);
    const FoldedEye eye = fold(capture);
    const TvaEyeFrame frame = frameOf(eye, capture.signal.dataRate);
    const TvaMask mask = hexagon();
    const Outcome o = test(eye.x, eye.y, eye.width, frame, mask);
    const Expected e = brute(eye, frame, mask);
    ASSERT_EQ(o.status, kTvaOk);
    EXPECT_EQ(o.result.passed, 0u);
    EXPECT_EQ(o.result.failedSamples, e.failed);
    EXPECT_GT(e.failed, 100u);
    EXPECT_EQ(o.flags, e.flags);
    std::uint32_t hits[3] = {};
    for (const std::uint8_t bits : e.flags)
        for (int r = 0; r < 3; ++r) hits[r] += (bits >> r) & 1u;
    for (int r = 0; r < 3; ++r) EXPECT_EQ(o.result.regionHits[r], hits[r]) << r;
    // With hits the margin is exact: shrinking by the deepest hit's depth clears them all.
    EXPECT_NEAR(o.result.marginPercent, 100 * e.margin, 1e-9);
    EXPECT_LT(o.result.marginPercent, 0);
}

// A region with a notch: its hits are its two convex halves' hits, and with none its margin is
// the nearer half's distance.
TvaMask maskOf(std::initializer_list<std::initializer_list<TvaPoint>> regions) {
    TvaMask mask{};
    for (const auto& points : regions) {
        TvaMaskRegion& r = mask.regions[mask.regionCount++];
        for (const TvaPoint& p : points) r.vertices[r.vertexCount++] = p;
    }
    return mask;
}

TEST(MaskTest, AgreesWithPlainGeometryForARegionThatIsNotConvex) {
    const TvaMask notched = maskOf({{{0.3, 0.3}, {0.7, 0.3}, {0.7, 0.7}, {0.5, 0.4}, {0.3, 0.7}}});
    const TvaMask halves = maskOf({{{0.3, 0.3}, {0.5, 0.3}, {0.5, 0.4}, {0.3, 0.7}},
                                   {{0.5, 0.3}, {0.7, 0.3}, {0.7, 0.7}, {0.5, 0.4}}});
    for (const char* demo : {"", "noise=300"}) {
        const DemoCapture capture = captureDemo(demo, 400);
        const FoldedEye eye = fold(capture);
        const TvaEyeFrame frame = frameOf(eye, capture.signal.dataRate);
        const Outcome o = test(eye.x, eye.y, eye.width, frame, notched);
        const Expected e = brute(eye, frame, halves);
        ASSERT_EQ(o.status, kTvaOk);
        std::vector<std::uint8_t> inEither;
        for (const std::uint8_t bits : e.flags) inEither.push_back(bits != 0);
        EXPECT_EQ(o.flags, inEither) << demo;
        EXPECT_EQ(o.result.failedSamples, e.failed) << demo;
        EXPECT_EQ(e.failed > 0, *demo != '\0') << demo;  // the noisy eye is closed
        if (e.failed == 0) EXPECT_NEAR(o.result.marginPercent, 100 * e.margin, 1e-9) << demo;
        else EXPECT_LT(o.result.marginPercent, 0) << demo;
    }
}

// ---- the mask file -----------------------------------------------------------------------------

TvaMaskResult resultOf(const TvaMask& mask) {
    static const DemoCapture capture = captureDemo("noise=200", 200);
    static const FoldedEye eye = fold(capture);
    static const TvaEyeFrame frame = frameOf(eye, capture.signal.dataRate);
    const Outcome o = test(eye.x, eye.y, eye.width, frame, mask);
    EXPECT_EQ(o.status, kTvaOk);
    return o.result;
}

TEST(MaskFile, ThatDrawsTheHexagonTestsAsTheBuiltInOne) {
    const std::string file = R"({
      "version": 1,
      "name": "NRZ, X1 0.25 X2 0.4 Y1 0.25 Y2 0.25",
      "regions": [
        {"name": "hexagon", "points": [[0.25, 0.5], [0.4, 0.25], [0.6, 0.25], [0.75, 0.5], [0.6, 0.75], [0.4, 0.75]]},
        {"name": "top", "points": [[-0.5, 1.25], [1.5, 1.25], [1.5, 1e6], [-0.5, 1e6]]},
        {"name": "bottom", "points": [[-0.5, -1e6], [1.5, -1e6], [1.5, -0.25], [-0.5, -0.25]]}
      ]
    })";
    TvaMask mask{};
    char message[200] = "untouched";
    ASSERT_EQ(tvaMaskFromJson(file.data(), static_cast<std::uint32_t>(file.size()), &mask, message,
                              sizeof message),
              kTvaOk);
    EXPECT_STREQ(message, "");
    EXPECT_STREQ(mask.regions[1].name, "top");
    const TvaMaskResult fromFile = resultOf(mask), builtIn = resultOf(hexagon());
    EXPECT_GT(builtIn.failedSamples, 0u);
    EXPECT_EQ(fromFile.failedSamples, builtIn.failedSamples);
    EXPECT_EQ(fromFile.marginPercent, builtIn.marginPercent);
    for (int r = 0; r < 3; ++r) EXPECT_EQ(fromFile.regionHits[r], builtIn.regionHits[r]);
}

struct BadFile {
    const char* what;
    std::string text;
    const char* says;
};

void PrintTo(const BadFile& b, std::ostream* os) { *os << b.what; }

class BadMaskFilesAreRefused : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadMaskFilesAreRefused, SayingWhatIsWrongAndWhere) {
    const BadFile& bad = GetParam();
    TvaMask mask = hexagon();
    char message[256];
    EXPECT_EQ(tvaMaskFromJson(bad.text.data(), static_cast<std::uint32_t>(bad.text.size()), &mask,
                              message, sizeof message),
              kTvaBadMask);
    EXPECT_NE(std::string(message).find(bad.says), std::string::npos) << message;
    EXPECT_EQ(mask.regionCount, 0u) << "the mask is left empty";
}

std::string square(const char* extra = "") {
    return std::string(R"({"points": [[0.4, 0.4], [0.6, 0.4], [0.6, 0.6], [0.4, 0.6]])") + extra + "}";
}
std::string withRegions(const std::string& regions) {
    return R"({"version": 1, "regions": [)" + regions + "]}";
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadMaskFilesAreRefused,
    ::testing::Values(
        BadFile{"not JSON", "{\"version\": 1,\n \"regions\": [}", "not valid JSON (at line 2, column 14)"},
        BadFile{"not an object", "[1, 2]", "a mask file holds one JSON object"},
        BadFile{"no version", R"({"regions": []})", "has no \"version\""},
        BadFile{"a version to come", R"({"version": 2, "regions": []})", "\"version\" is 2"},
        BadFile{"an unknown key", R"({"version": 1, "regoins": []})", "unknown key \"regoins\""},
        BadFile{"no regions", R"({"version": 1})", "has no \"regions\""},
        BadFile{"an empty list", withRegions(""), "a list of 1 to 8 regions"},
        BadFile{"too many regions",
                withRegions(square() + "," + square() + "," + square() + "," + square() + "," +
                            square() + "," + square() + "," + square() + "," + square() + "," + square()),
                "a list of 1 to 8 regions"},
        BadFile{"a region that is no object", withRegions("[[0, 0], [1, 0], [1, 1]]"), "region 1 must be an object"},
        BadFile{"a region without points", withRegions(R"({"name": "x"})"), "region 1 has no \"points\""},
        BadFile{"two points", withRegions(R"({"points": [[0, 0], [1, 1]]})"), "3 to 32 points"},
        BadFile{"a point of three numbers", withRegions(R"({"points": [[0, 0], [1, 0, 2], [1, 1]]})"),
                "region 1, point 2 must be [x, y]"},
        BadFile{"a point in words", withRegions(R"({"points": [[0, 0], ["1", 0], [1, 1]]})"),
                "point 2 must be [x, y], two numbers"},
        BadFile{"a name too long", withRegions(square(R"(, "name": "a name of more than thirty-one bytes")")),
                "at most 31 bytes"},
        BadFile{"a bow tie", withRegions(R"({"points": [[0, 0], [1, 1], [1, 0], [0, 1]]})"),
                "region 1 is not a simple polygon: edges 1 and 3 cross or touch"},
        BadFile{"a point twice", withRegions(R"({"points": [[0, 0], [1, 0], [1, 0], [0, 1]]})"),
                "points 2 and 3 are the same point"},
        BadFile{"an edge folding back", withRegions(R"({"points": [[0, 0], [1, 0], [0.5, 0], [0, 1]]})"),
                "edges 1 and 2 run over each other"},
        BadFile{"all in a line", withRegions(R"({"points": [[0, 0], [0.5, 0], [1, 0], [1.5, 0]]})"),
                "edges 2 and 4 cross or touch"},
        BadFile{"a number beyond a double", withRegions(R"({"points": [[1e400, 0], [1, 0], [0, 1]]})"),
                "a number too large for a double"},
        BadFile{"off the plane", withRegions(R"({"points": [[0, 0], [3, 0], [0, 1]]})"),
                "point 2 is outside the mask's plane"},
        BadFile{"deeply nested", std::string(100, '[') + std::string(100, ']'), "nested too deeply"}),
    [](const ::testing::TestParamInfo<BadFile>& info) {
        std::string name = info.param.what;
        std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

}  // namespace
}  // namespace tarvex::analysis::testing
