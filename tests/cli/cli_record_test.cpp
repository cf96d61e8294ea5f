// --record and --demo-replay: a session recorded at the platform seam replays to the same
// results, and a replayed program that departs from its recording is told where, and fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tool_runner.h"

namespace tarvex::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct RecordCase {
    std::string name;
    std::vector<std::string> demo;     // the demo setup recorded
    std::vector<std::string> command;
    std::string file;                  // a file the command writes, compared too
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class RecordAndReplay : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordAndReplay, TheReplayGivesTheRecordedRunsOutputErrorsStatusAndFiles) {
    const RecordCase& c = GetParam();
    ScratchDir recorded, replayed;
    std::vector<std::string> record = c.demo;
    record.insert(record.end(), {"--record", (recorded / "session.jsonl").string()});
    record.insert(record.end(), c.command.begin(), c.command.end());
    const ToolRun original = runDemo(record, recorded.path());

    std::vector<std::string> replay = {"--demo", "--demo-replay",
                                       (recorded / "session.jsonl").string()};
    replay.insert(replay.end(), c.command.begin(), c.command.end());
    const ToolRun again = runTool(replay, replayed.path());

    EXPECT_EQ(again.status, original.status);
    EXPECT_EQ(again.out, original.out);
    EXPECT_EQ(again.err, original.err);
    if (!c.file.empty()) {
        EXPECT_FALSE(readFile(recorded / c.file).empty());
        EXPECT_EQ(readFile(replayed / c.file), readFile(recorded / c.file));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RecordAndReplay,
    ::testing::Values(
        RecordCase{"PortRoundTrip", {}, {"port", "get", "3"}, ""},
        RecordCase{"StatusAsJson", {}, {"--json", "status"}, ""},
        RecordCase{"NetworkSettings", {}, {"--json", "net", "get"}, ""},
        RecordCase{"Capture", {}, {"capture", "-n", "3", "-o", "samples.csv"}, "samples.csv"},
        RecordCase{"Descriptors", {}, {"descriptors"}, ""},
        RecordCase{"VScope", {}, {"vscope", "-o", "vscope.bin"}, "vscope.bin"},
        RecordCase{"FailingExchange", {"--demo-fault", "no-reply"}, {"port", "get", "3"}, ""},
        RecordCase{"SecondBoard", {"--demo-devices", "other,board"}, {"-i", "1", "temp"}, ""},
        RecordCase{"NoBoard", {"--demo-devices", "none"}, {"ping"}, ""}),
    [](const auto& info) { return info.param.name; });

TEST(Replay, AProgramThatDepartsFromTheRecordingIsToldWhereAndFails) {
    ScratchDir dir;
    const std::string recording = (dir / "session.jsonl").string();
    ASSERT_EQ(runDemo({"--record", recording, "port", "get", "3"}).status, 0);

    // Port 4, not 3: the packet written differs from the recorded one.
    const ToolRun run = runTool({"--demo", "--demo-replay", recording, "port", "get", "4"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, ::testing::IsEmpty());
    const std::vector<std::string> lines = [&] {
        std::vector<std::string> split;
        std::istringstream in(run.err);
        for (std::string line; std::getline(in, line);) split.push_back(line);
        return split;
    }();
    ASSERT_EQ(lines.size(), 2u) << run.err;
    EXPECT_THAT(lines[0], StartsWith("tarvex replay: the program departs from the recording at "
                                     "call "));
    EXPECT_THAT(lines[0], HasSubstr(": it called writeFile {\"buffer\":true,\"bytes\":\"f00100"
                                    "04"));
    EXPECT_THAT(lines[0], HasSubstr(" where the recording holds writeFile {\"buffer\":true,"
                                    "\"bytes\":\"f0010003"));
    EXPECT_THAT(lines[0], HasSubstr("; every call from here on fails with error 50"));
    EXPECT_THAT(lines[1], HasSubstr("(error 50)"));
}

TEST(Replay, ARecordingThatCannotBeReplayedIsSaidBeforeAnythingRuns) {
    ScratchDir dir;
    const auto missing = runTool({"--demo", "--demo-replay", (dir / "none.jsonl").string(), "ping"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "tarvex: cannot replay " + (dir / "none.jsonl").string() +
                               ": it cannot be read\n");

    const std::string other = (dir / "other.jsonl").string();
    ASSERT_EQ(runDemo({"--json", "--record", other, "status"}).status, 0);
    std::string text = readFile(other);
    text.replace(text.find("\"version\":1"), 11, "\"version\":9");
    std::ofstream(other, std::ios::binary) << text;
    const auto newer = runTool({"--demo", "--demo-replay", other, "status"});
    EXPECT_EQ(newer.status, 1);
    EXPECT_EQ(newer.err, "tarvex: cannot replay " + other +
                             ": it is in version 9 of the format, and this replay reads version "
                             "1\n");
}

TEST(Record, ARecordingThatCannotBeWrittenIsSaidAndNothingRuns) {
    ScratchDir dir;
    const std::string path = (dir / "no-such-folder" / "session.jsonl").string();
    const auto run = runDemo({"--record", path, "port", "set", "3", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tarvex: cannot write the recording " + path +
                           ": No such file or directory\n");
}

}  // namespace
}  // namespace tarvex::cli::test
