// tarvex eye --measure and --mask against the demo board: every measurement in JSON with its
// unit and near the demo signal's known values, a table for a person, the mask passing an open
// eye and failing a closed one with exit status 3; the demo signal's knobs show in the numbers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "cli/tool_runner.h"

namespace tarvex::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kHexagon = "hexagon:0.25,0.4,0.25,0.25";

TEST(EyeMeasure, JsonHoldsEveryMeasurementWithItsUnitNearTheDemoSignal) {
    const auto run = runDemo({"--json", "eye", "--measure"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, IsEmpty());
    const auto m = run.json()["measurements"];
    ASSERT_EQ(m.size(), 17u);
    for (const auto& [name, item] : m.items()) {
        EXPECT_TRUE(item["measurable"].get<bool>()) << name;
        EXPECT_GT(item["samples"].get<int>(), 0) << name;
        EXPECT_TRUE(item["value"].is_number()) << name;
    }
    // The demo signal: levels 800 and 3300 codes, noise 18 codes, jitter 8 ps, rise 240 ps.
    EXPECT_EQ(m["oneLevel"]["unit"], "codes");
    EXPECT_NEAR(m["oneLevel"]["value"].get<double>(), 3300, 25);
    EXPECT_NEAR(m["zeroNoise"]["value"].get<double>(), 18, 0.9);
    EXPECT_EQ(m["jitterRms"]["unit"], "s");
    EXPECT_NEAR(m["jitterRms"]["value"].get<double>(), 8.15e-12, 0.8e-12);
    EXPECT_NEAR(m["riseTime"]["value"].get<double>(), 240e-12, 24e-12);
    EXPECT_NEAR(m["riseTime"]["ui"].get<double>(), 0.3, 0.03);
    EXPECT_EQ(m["crossingPercent"]["unit"], "%");
    EXPECT_EQ(m["qFactor"]["unit"], "");
}

TEST(EyeMeasure, PrintsATableWithLevelsInMillivoltsWhenTheScaleIsKnown) {
    const auto run = runDemo({"eye", "--measure", "--volts-per-code", "0.001"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = run.outLines();
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_THAT(lines[0], HasSubstr("samples"));
    EXPECT_THAT(lines[1], ::testing::MatchesRegex("one level +32[0-9][0-9]\\.[0-9][0-9] +mV +[0-9]+"));
    EXPECT_THAT(lines[13], ::testing::MatchesRegex("rise time 10-90 % +2[0-9][0-9]\\.[0-9][0-9] +ps +0\\.[0-9]+ +[0-9]+"));
}

TEST(EyeMask, PassesAnOpenEye) {
    ScratchDir dir;
    const auto run = runDemo({"--json", "eye", "--mask", kHexagon, "-o", "eye.png"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const auto mask = run.json()["mask"];
    EXPECT_TRUE(mask["passed"].get<bool>());
    EXPECT_EQ(mask["failedSamples"], 0);
    EXPECT_GT(mask["marginPercent"].get<double>(), 10);
    EXPECT_EQ(mask["regions"].size(), 3u);
    EXPECT_TRUE(std::filesystem::exists(dir / "eye.png"));
}

TEST(EyeMask, FailsAClosedEyeWithStatusThreeFromAMaskFileToo) {
    ScratchDir dir;
    std::ofstream(dir / "nrz.json") << R"({"version": 1, "regions": [
        {"name": "centre", "points": [[0.25, 0.5], [0.4, 0.25], [0.6, 0.25], [0.75, 0.5], [0.6, 0.75], [0.4, 0.75]]}]})";
    for (const std::string& mask : {std::string(kHexagon), std::string("nrz.json")}) {
        const auto run = runDemo({"--demo-noise", "400", "--json", "eye", "--mask", mask, "-o", "eye.svg"},
                                 dir.path());
        EXPECT_EQ(run.status, 3) << mask;
        EXPECT_THAT(run.err, HasSubstr("the eye fails the mask " + mask));
        const auto result = run.json()["mask"];
        EXPECT_FALSE(result["passed"].get<bool>());
        EXPECT_GT(result["failedSamples"].get<int>(), 100);
        EXPECT_LT(result["marginPercent"].get<double>(), 0);
        EXPECT_TRUE(std::filesystem::exists(dir / "eye.svg")) << "the picture shows where";
    }
}

TEST(EyeMask, ABadMaskFileIsAWrongCommandLine) {
    ScratchDir dir;
    std::ofstream(dir / "bow.json") << R"({"version": 1, "regions": [{"points": [[0, 0], [1, 1], [1, 0], [0, 1]]}]})";
    const auto run = runDemo({"eye", "--mask", "bow.json"}, dir.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("--mask bow.json: region 1 is not a simple polygon: edges 1 and 3 cross"));
}

// The demo signal's knobs, in every writing the grammar takes, show in the measurements.
double measured(std::vector<std::string> demo, const std::string& name) {
    demo.insert(demo.end(), {"--json", "eye", "--measure"});
    const auto run = runDemo(demo);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.json()["measurements"][name]["value"].get<double>();
}

TEST(DemoKnobs, JitterReadsTheSameWrittenAsSecondsPicosecondsOrPs) {
    const double seconds = measured({"--demo-jitter", "20e-12"}, "jitterRms");
    EXPECT_EQ(measured({"--demo-jitter", "20p"}, "jitterRms"), seconds);
    EXPECT_EQ(measured({"--demo-jitter", "20ps"}, "jitterRms"), seconds);
    EXPECT_NEAR(seconds, 20e-12, 2e-12);
}

TEST(DemoKnobs, LevelsNoiseAndRiseTimeShowInTheMeasurements) {
    const std::vector<std::string> demo{"--demo-levels", "1000,2200", "--demo-noise", "30",
                                        "--demo-rise-time", "150ps", "--demo-pattern", "prbs15"};
    EXPECT_NEAR(measured(demo, "oneLevel"), 2200, 12);
    EXPECT_NEAR(measured(demo, "zeroLevel"), 1000, 12);
    EXPECT_NEAR(measured(demo, "oneNoise"), 30, 1.5);
    EXPECT_NEAR(measured(demo, "riseTime"), 150e-12, 15e-12);
}

}  // namespace
}  // namespace tarvex::cli::test
