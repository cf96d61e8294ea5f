// The demo grammar: what TARVEX_DEMO and the tool's --demo-... options accept, and the sentence
// parts a refusal is made of.
#include <gtest/gtest.h>

#include "common/quantity.h"
#include "emulated/demo_config.h"

namespace tarvex::emulated {
namespace {

TEST(DemoConfig, TheExampleSetsEveryOptionItNames) {
    const auto result = parseDemoConfig(
        "boards=2,other=1,data-rate=2.5G,sample-rate=99M,noise=18,jitter=8p,rise=240p,"
        "levels=700:3400,pattern=clock,clock=virtual,seed=7,trace=1,fault=no-reply,"
        "replay=board session.jsonl");
    ASSERT_FALSE(result.error) << result.error->option;
    const DemoConfig& c = result.config;
    EXPECT_EQ(c.deviceList(),
              (std::vector{DemoDevice::kBoard, DemoDevice::kBoard, DemoDevice::kOther}));
    const auto& s = c.firmware.signal;
    EXPECT_EQ(s.dataRate, 2.5e9);
    EXPECT_EQ(s.sampleRate, 99e6);
    EXPECT_EQ(s.noiseRms, 18);
    EXPECT_DOUBLE_EQ(s.jitterRms, 8e-12);
    EXPECT_DOUBLE_EQ(s.riseTime, 240e-12);
    EXPECT_EQ(s.lowLevel, 700);
    EXPECT_EQ(s.highLevel, 3400);
    EXPECT_EQ(s.pattern, demo::DataPattern::kClock);
    EXPECT_EQ(s.seed, 7u);
    EXPECT_EQ(c.clock, ClockMode::kVirtual);
    EXPECT_TRUE(c.trace);
    EXPECT_EQ(c.fault, "no-reply");
    EXPECT_EQ(c.replay, "board session.jsonl");
}

TEST(DemoConfig, BlankTextGivesOneBoardInRealTimeAndExplicitDevicesKeepTheirOrder) {
    const auto blank = parseDemoConfig("  ");
    EXPECT_FALSE(blank.error);
    EXPECT_EQ(blank.config.deviceList(), std::vector{DemoDevice::kBoard});
    EXPECT_EQ(blank.config.clock, ClockMode::kRealTime);
    const auto explicitOrder = parseDemoConfig("boards=3, devices=other+board");
    EXPECT_EQ(explicitOrder.config.deviceList(),
              (std::vector{DemoDevice::kOther, DemoDevice::kBoard}));
    EXPECT_TRUE(parseDemoConfig("devices=none").config.deviceList().empty());
}

TEST(DemoConfig, ARefusalNamesTheOptionAndWhatItTakesAndChangesNothing) {
    const struct {
        const char* text;
        const char* option;
        const char* accepted;  // the start of it
    } cases[] = {
        {"noise=abc", "noise", "a number of sample codes from 0 to 4095"},
        {"noise=5000", "noise", "a number of sample codes"},
        {"boards=33", "boards", "a whole number from 0 to 32"},
        {"boards=-1", "boards", "a whole number"},
        {"data-rate=0", "data-rate", "a rate above 0"},
        {"data-rate=1.25X", "data-rate", "a rate above 0"},
        {"sample-rate=inf", "sample-rate", "a rate above 0"},
        {"jitter=8q", "jitter", "a time from 0 to 1 us"},
        {"rise=2u", "rise", "a time from 0 to 1 us"},
        {"levels=3300:800", "levels", "two sample codes LOW:HIGH"},
        {"levels=800", "levels", "two sample codes"},
        {"pattern=prbs9", "pattern", "prbs7, prbs15 or clock"},
        {"clock=fast", "clock", "real or virtual"},
        {"trace=yes", "trace", "0 or 1"},
        {"seed=0x10", "seed", "a whole number"},
        {"devices=board+printer", "devices", "board, other or none"},
        {"fault=melt", "fault", "none, no-reply"},
        {"replay= ", "replay", "the path of a recording"},
        {"colour=red", "colour", "one of the options boards, other"},
        {"boards", "boards", "key=value"},
    };
    for (const auto& c : cases) {
        const auto result = parseDemoConfig(c.text);
        ASSERT_TRUE(result.error) << c.text;
        EXPECT_EQ(result.error->option, c.option) << c.text;
        EXPECT_EQ(result.error->accepted.rfind(c.accepted, 0), 0u)
            << c.text << ": " << result.error->accepted;
    }
    DemoConfig config;
    config.firmware.signal.noiseRms = 5;
    EXPECT_TRUE(setDemoOption(config, "noise", "-1"));
    EXPECT_EQ(config.firmware.signal.noiseRms, 5) << "a refused value leaves the config as it was";
}

TEST(Quantity, RatesAndTimesAreReadWithTheirPrefixesAndUnits) {
    EXPECT_EQ(common::parseRate("1.25G"), 1.25e9);
    EXPECT_EQ(common::parseRate("99MHz"), 99e6);
    EXPECT_EQ(common::parseRate("2.5Gbps"), 2.5e9);
    EXPECT_EQ(common::parseRate("10kS/s"), 10e3);
    EXPECT_EQ(common::parseRate("1e9"), 1e9);
    EXPECT_FALSE(common::parseRate("99m"));   // milli is no rate prefix
    EXPECT_FALSE(common::parseRate("0x10"));
    EXPECT_FALSE(common::parseRate(" 1G"));
    EXPECT_FALSE(common::parseRate("nan"));
    EXPECT_FALSE(common::parseRate("1e308T"));  // overflows to infinity
    EXPECT_DOUBLE_EQ(*common::parseSeconds("8p"), 8e-12);
    EXPECT_DOUBLE_EQ(*common::parseSeconds("8ps"), 8e-12);
    EXPECT_DOUBLE_EQ(*common::parseSeconds("1.5ns"), 1.5e-9);
    EXPECT_EQ(common::parseSeconds("8e-12"), 8e-12);
    EXPECT_FALSE(common::parseSeconds("8pp"));
    EXPECT_FALSE(common::parseNumber("18 codes"));
}

}  // namespace
}  // namespace tarvex::emulated
