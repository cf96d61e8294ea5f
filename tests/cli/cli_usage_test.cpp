// The tool's command line: help everywhere, its version, and wrong arguments turned away with the
// usage line and exit status 2 before anything reaches a board.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/tool_runner.h"

namespace tarvex::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

const std::vector<std::string> kCommands = {
    "list",        "ping",        "reset",       "set-id",          "about",      "status",
    "port",        "port get",    "port set",    "port reset-fifo", "capture",    "eye",
    "vscope",      "temp",        "calib",       "calib get",       "calib set",  "net",
    "net get",     "net set",     "i2c",         "i2c read",        "i2c write",  "si5326",
    "si5326 get",  "si5326 set",  "si5338",      "si5338 get",      "si5338 set", "mdio",
    "mdio get",    "mdio set",    "descriptors",
};

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    std::string word;
    for (char c : text) {
        if (c == ' ') {
            result.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    result.push_back(word);
    return result;
}

TEST(ToolHelp, TheTopLevelHelpListsEveryCommandAndExitsZero) {
    const auto run = runTool({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("Usage: tarvex [OPTIONS] SUBCOMMAND"));
    for (const auto& command : kCommands) {
        if (command.find(' ') != std::string::npos) continue;
        EXPECT_THAT(run.out, HasSubstr("\n  " + command + " ")) << command;
    }
    EXPECT_THAT(run.out, HasSubstr("-i,--index"));
    EXPECT_THAT(run.out, HasSubstr("--json"));
    EXPECT_THAT(run.out, HasSubstr("--demo "));
    EXPECT_THAT(run.err, IsEmpty());
}

TEST(ToolHelp, TheOptionsForTheToolsOwnTestsStayOutOfTheHelp) {
    const auto run = runTool({"--help"});
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr("--demo-virtual-clock")));
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr("--demo-fault")));
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr("--demo-devices")));
}

TEST(ToolHelp, EveryCommandHasHelpWithItsOwnUsageLine) {
    for (const auto& command : kCommands) {
        auto args = words(command);
        args.push_back("--help");
        const auto run = runTool(args);
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_THAT(run.out, HasSubstr("Usage: tarvex " + command + " ")) << command;
        EXPECT_THAT(run.err, IsEmpty()) << command;
    }
}

TEST(ToolHelp, TheVersionNamesTheToolAndTheLibrary) {
    const auto run = runTool({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, StartsWith("tarvex " TARVEX_VERSION "\n"));  // the project's version
    EXPECT_THAT(run.out, HasSubstr("library API revision 0x1000"));
    EXPECT_THAT(run.out, HasSubstr("pipe interface version 1.1.0.0"));
}

struct BadArguments {
    std::vector<std::string> args;
    std::string message;  // what stderr says
    std::string usage;    // the usage line that follows
};

void PrintTo(const BadArguments& bad, std::ostream* os) { *os << withArgs("tarvex", bad.args); }

class ToolRejectsBadArguments : public ::testing::TestWithParam<BadArguments> {};

TEST_P(ToolRejectsBadArguments, WithTheUsageLineAndStatusTwo) {
    const auto& bad = GetParam();
    ScratchDir dir;
    const auto run = runDemo(bad.args, dir.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.out, IsEmpty()) << "nothing on standard output";
    EXPECT_THAT(run.err, StartsWith("tarvex: "));
    EXPECT_THAT(run.err, HasSubstr(bad.message));
    EXPECT_THAT(run.err, HasSubstr("\nUsage: " + bad.usage));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "no file is written";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolRejectsBadArguments,
    ::testing::Values(
        BadArguments{{}, "A subcommand is required", "tarvex [OPTIONS] SUBCOMMAND"},
        BadArguments{{"frobnicate"}, "'frobnicate' is not a tarvex command",
                     "tarvex [OPTIONS] SUBCOMMAND"},
        BadArguments{{"port", "frob"}, "'frob' is not a tarvex port command",
                     "tarvex port [OPTIONS] SUBCOMMAND"},
        BadArguments{{"port"}, "A subcommand is required", "tarvex port [OPTIONS] SUBCOMMAND"},
        BadArguments{{"port", "set", "3"}, "VALUE is required", "tarvex port set [OPTIONS] PORT VALUE"},
        BadArguments{{"port", "set", "3", "70000"}, "70000 not in range 0 to 65535",
                     "tarvex port set"},
        BadArguments{{"port", "get", "256"}, "256 not in range 0 to 255", "tarvex port get"},
        BadArguments{{"port", "get", "three"}, "three", "tarvex port get"},
        BadArguments{{"ping", "--bogus"}, "The following argument was not expected: --bogus",
                     "tarvex ping [OPTIONS]"},
        BadArguments{{"ping", "--count", "0"}, "not in range", "tarvex ping"},
        BadArguments{{"-i", "200", "ping"}, "200 not in range 0 to 126", "tarvex ping"},
        BadArguments{{"-i", "40", "ping"}, "board index 40 is out of range", "tarvex ping"},
        BadArguments{{"set-id", "256"}, "not in range 0 to 255", "tarvex set-id"},
        BadArguments{{"net", "set"}, "say what to set: --ip, --mask, --gateway and/or --mac",
                     "tarvex net set"},
        BadArguments{{"net", "set", "--ip", "300.1.2.3"}, "not an IPv4 address", "tarvex net set"},
        BadArguments{{"net", "set", "--mask", "255.255.255"}, "not an IPv4 address",
                     "tarvex net set"},
        BadArguments{{"net", "set", "--mac", "00:11:22"}, "not a MAC address", "tarvex net set"},
        // The addresses are read by the tool itself (the same on Windows): nothing but the
        // numbers and their separators, and no leading zero that another program reads as octal.
        BadArguments{{"net", "set", "--ip", "010.0.0.1"}, "not an IPv4 address", "tarvex net set"},
        BadArguments{{"net", "set", "--ip", "1.2.3.4.5"}, "not an IPv4 address", "tarvex net set"},
        BadArguments{{"net", "set", "--ip", "1..2.3"}, "not an IPv4 address", "tarvex net set"},
        BadArguments{{"net", "set", "--ip", "+1.2.3.4"}, "not an IPv4 address", "tarvex net set"},
        BadArguments{{"net", "set", "--mac", "00:11:22:33:44:556"}, "not a MAC address",
                     "tarvex net set"},
        BadArguments{{"net", "set", "--mac", "00:11:22:33:44:5g"}, "not a MAC address",
                     "tarvex net set"},
        BadArguments{{"net", "get", "dns"}, "dns", "tarvex net get"},
        BadArguments{{"calib", "set", "1", "2"}, "VALUES", "tarvex calib set"},
        BadArguments{{"calib", "set", "1", "2", "3", "4", "5", "6", "70000"},
                     "calibration value 70000 is out of range", "tarvex calib set"},
        BadArguments{{"calib", "set", "1", "2", "3", "4", "5", "6", "-0.5"},
                     "calibration value -0.5 is out of range", "tarvex calib set"},
        BadArguments{{"calib", "set", "1", "2", "3", "4", "5", "6", "65535.9999"},
                     "calibration value 65535.9999 is out of range", "tarvex calib set"},
        BadArguments{{"i2c", "read", "0x50"}, "REG is required", "tarvex i2c read"},
        BadArguments{{"i2c", "read", "0x50", "0", "0"}, "not in range 1 to 255", "tarvex i2c read"},
        BadArguments{{"mdio", "set", "0", "0x10000", "1"}, "not in range 0 to 65535",
                     "tarvex mdio set"},
        BadArguments{{"capture", "-n", "0"}, "not in range 1 to 65535", "tarvex capture"},
        BadArguments{{"--json", "capture"}, "with --json the samples need a file of their own",
                     "tarvex capture"},
        BadArguments{{"eye"}, "say what to do with the eye", "tarvex eye"},
        BadArguments{{"eye", "--mask", "hexagon:0.4,0.25,0.25,0.25"},
                     "the built-in mask is hexagon:X1,X2,Y1,Y2 with 0 <= X1 < X2 < 0.5",
                     "tarvex eye"},
        BadArguments{{"eye", "--mask", "missing.json"}, "--mask missing.json: cannot read it",
                     "tarvex eye"},
        BadArguments{{"eye", "--measure", "--volts-per-code", "0"}, "--volts-per-code",
                     "tarvex eye"},
        BadArguments{{"eye", "-o", "eye.gif"}, "must end in .png or .svg", "tarvex eye"},
        BadArguments{{"eye", "--data-rate", "fast", "-o", "eye.png"}, "fast", "tarvex eye"},
        BadArguments{{"eye", "--data-rate", "1.25X", "-o", "eye.png"},
                     "not a rate (like 1.25G, 99MHz or 1.25e9): 1.25X", "tarvex eye"},
        BadArguments{{"eye", "--sample-rate", "-5M", "-o", "eye.png"}, "--sample-rate",
                     "tarvex eye"},
        BadArguments{{"eye", "--data-rate", "1e300", "--sample-rate", "1", "-o", "eye.png"},
                     "gives no eye", "tarvex eye"},
        BadArguments{{"--demo-fault", "melt", "ping"},
                     "--demo-fault: give none, no-reply, short-reply, unplug or busy", "tarvex ping"},
        BadArguments{{"--demo-jitter", "8q", "ping"}, "--demo-jitter: give a time from 0 to 1 us",
                     "tarvex ping"}));

TEST(ToolRejectsBadArguments, AnEyeForARealBoardNeedsTheSignalsRates) {
    ScratchDir dir;
    const auto run = runTool({"eye", "-o", "eye.png"}, dir.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("give the signal's rates: --data-rate and --sample-rate"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace tarvex::cli::test
