// When the board is not there, or does not answer: a sentence that says what happened and what
// to try, status 1, nothing on standard output and no file left behind.  And Ctrl-C.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli/tool_runner.h"

namespace tarvex::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Every command that talks to a board, with arguments that would work on one.
const std::vector<std::vector<std::string>> kBoardCommands = {
    {"ping"},
    {"reset"},
    {"reset", "--boot"},
    {"set-id", "7"},
    {"status"},
    {"port", "get", "3"},
    {"port", "set", "3", "0x23"},
    {"port", "reset-fifo"},
    {"capture", "-n", "2", "-o", "samples.csv"},
    {"capture", "--fast", "-n", "2", "-o", "fast.bin"},
    {"eye", "-n", "10", "-o", "eye.png", "--csv", "eye.csv"},
    {"vscope", "-o", "vscope.bin"},
    {"temp"},
    {"calib", "get"},
    {"calib", "set", "1", "2", "3", "4", "5", "6", "7"},
    {"net", "get"},
    {"net", "set", "--ip", "10.0.0.2"},
    {"i2c", "read", "0x50", "0", "4"},
    {"i2c", "write", "0x50", "0", "1", "2"},
    {"si5326", "get", "134"},
    {"si5326", "set", "0", "0x14"},
    {"si5338", "get", "2"},
    {"si5338", "set", "0", "1"},
    {"mdio", "get", "0", "2"},
    {"mdio", "set", "0", "0", "0x1140"},
    {"descriptors"},
};

std::string joined(const std::vector<std::string>& args) {
    std::string text;
    for (const auto& arg : args) text += (text.empty() ? "" : " ") + arg;
    return text;
}

TEST(MissingBoard, EveryBoardCommandSaysWhereTheBoardsAreAndFails) {
    for (const auto& command : kBoardCommands) {
        ScratchDir dir;
        std::vector<std::string> args = {"-i", "3"};
        args.insert(args.end(), command.begin(), command.end());
        const auto run = runDemo(args, dir.path());
        EXPECT_EQ(run.status, 1) << joined(command);
        EXPECT_EQ(run.err, "tarvex: no board at index 3: 1 board found, at index 0\n")
            << joined(command);
        EXPECT_THAT(run.out, IsEmpty()) << joined(command);
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << joined(command);
    }
}

TEST(MissingBoard, WithNoBoardAtAllTheSentenceSaysWhatToCheck) {
    const auto run = runDemo({"--demo-devices", "none", "ping"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "tarvex: no board at index 0: no board found; check that it is plugged in and its "
              "driver installed, or try the tool on the emulated demo board with --demo\n");
}

TEST(MissingBoard, AnotherDeviceOfTheDriverIsNamedAsNoBoard) {
    const auto run = runDemo({"--demo-devices", "board,other,board", "-i", "1", "status"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "tarvex: no board at index 1: the device at that index is not a board; 2 boards "
              "found, at indexes 0 and 2\n");
}

TEST(MissingBoard, ABoardBehindAnotherDeviceIsReachedAtItsOwnIndex) {
    const auto run = runDemo({"--demo-devices", "other,board", "-i", "1", "ping"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("board 1: TVX-SCOPE FW 1.04"));
}

struct FaultCase {
    std::string fault;
    std::vector<std::string> command;
    std::string sentence;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << withArgs(c.fault + ":", c.command); }

class BoardFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(BoardFaults, AreReportedAsASentenceWithStatusOne) {
    const auto& c = GetParam();
    ScratchDir dir;
    std::vector<std::string> args = {"--demo-fault", c.fault};
    args.insert(args.end(), c.command.begin(), c.command.end());
    const auto run = runDemo(args, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tarvex: " + c.sentence + "\n");
    EXPECT_THAT(run.out, IsEmpty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "a failed command leaves no file";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BoardFaults,
    ::testing::Values(
        FaultCase{"no-reply", {"ping"},
                  "board 0 did not answer the ping within 250 ms; check that it is powered and "
                  "its firmware runs, or unplug it and plug it back"},
        FaultCase{"no-reply", {"port", "get", "3"},
                  "board 0 did not answer the read of port 3 within 250 ms; check that it is "
                  "powered and its firmware runs, or unplug it and plug it back"},
        FaultCase{"no-reply", {"si5338", "get", "2"},
                  "board 0 did not answer the Si5338 register 2 read within 100 ms; check that "
                  "it is powered and its firmware runs, or unplug it and plug it back"},
        FaultCase{"no-reply", {"capture", "-n", "4", "-o", "samples.csv"},
                  "board 0 did not answer the scope packet requests within 250 ms; check that it "
                  "is powered and its firmware runs, or unplug it and plug it back"},
        FaultCase{"no-reply", {"vscope", "-o", "vscope.bin"},
                  "board 0 did not answer the read of VScope page 1 within 250 ms; check that "
                  "it is powered and its firmware runs, or unplug it and plug it back"},
        FaultCase{"short-reply", {"ping"},
                  "board 0 sent a short reply to the ping (fewer than the 20 bytes expected), "
                  "so the values read are not the board's; try again, and reset the board "
                  "(tarvex reset) if it keeps happening"},
        FaultCase{"short-reply", {"net", "get", "mac"},
                  "board 0 sent a short reply to the MAC address read (fewer than the 6 bytes "
                  "expected), so the values read are not the board's; try again, and reset the "
                  "board (tarvex reset) if it keeps happening"},
        FaultCase{"unplug", {"ping"},
                  "lost board 0 during the ping: the device is not connected (error 1167); plug "
                  "it back and run tarvex list to find it"},
        FaultCase{"unplug", {"reset"},
                  "lost board 0 during the reset: the device is not connected (error 1167); "
                  "plug it back and run tarvex list to find it"}));

TEST(BoardFaults, PipesAnotherProgramHoldsAreNamedAsTheReasonTheOpenFailed) {
    const auto run = runDemo({"--demo-fault", "busy", "ping"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "tarvex: could not open the pipes of board 0: another program has the pipe open "
              "(error 32)\n");
    EXPECT_THAT(run.out, IsEmpty());
}

TEST(BoardFaults, ACaptureWithShortPacketsKeepsItsSamplesAndSaysTheyAreNotAllTheBoards) {
    ScratchDir dir;
    const auto run =
        runDemo({"--demo-fault", "short-reply", "capture", "-n", "3", "-o", "samples.csv"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "tarvex: board 0: 3 of the 3 packets came back short, so some samples in "
              "samples.csv are not the board's; check the connection and capture again\n");
    const auto csv = readFile(dir / "samples.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 3 * 32);
}

TEST(Progress, ACaptureOnATerminalShowsItsProgressAndWipesItAtTheEnd) {
    ScratchDir dir;
    const auto run = runOnTerminal(
        {"--demo", "--demo-virtual-clock", "capture", "-n", "50", "-o", "samples.csv"}, dir.path());
    EXPECT_EQ(run.status, 0);
    if (windowsTool()) {
        // Wine draws its console on the terminal with escapes of its own: the progress line and
        // its wiping are looked for, not the bytes the tool wrote.
        EXPECT_THAT(run.out, HasSubstr("capture  [========================]  50/50 packets  "));
        EXPECT_THAT(run.out, HasSubstr("\r\x1b[K"));
    } else {
        EXPECT_THAT(run.out, ::testing::MatchesRegex(
                                 "(\r[^\r]*\x1b\\[K)*\rcapture  \\[=+\\]  50/50 packets  [0-9]+ "
                                 "packets/s  0:00 left\x1b\\[K\r\x1b\\[K"));
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "samples.csv"));
}

TEST(Progress, TheVScopeSequenceOnATerminalShowsTheBuildAndThePages) {
    ScratchDir dir;
    const auto run = runOnTerminal(
        {"--demo", "--demo-virtual-clock", "vscope", "-o", "vscope.bin"}, dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("\rvscope  [========================]  16/16 pages"));
    if (windowsTool()) {
        // Wine's drawing of its console (see above): the lines, not the bytes.
        EXPECT_THAT(run.out, HasSubstr("vscope  building the eye, 1.5 s\x1b[K"));
        EXPECT_THAT(run.out, ::testing::MatchesRegex(".*\r\x1b\\[K.*temperature [0-9]+ °C\r.*"));
    } else {
        EXPECT_THAT(run.out, HasSubstr("\rvscope  building the eye, 1.5 s\x1b[K"));
        EXPECT_THAT(run.out, HasSubstr("\r\x1b[Ktemperature "));
        EXPECT_THAT(run.out, ::testing::EndsWith(" °C\r\n"));
    }
}

TEST(Interrupt, CtrlCStopsACaptureCleanlyWithStatus130AndNoFile) {
    ScratchDir dir;
    // Real time: a capture this long takes seconds, so Ctrl-C lands in the middle of it.
    ToolProcess tool({"--demo", "capture", "-n", "65535", "-o", "samples.csv"}, dir.path());
    // The file is created when the capture starts, after Ctrl-C is taken over.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(dir / "samples.csv") &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(std::filesystem::exists(dir / "samples.csv"));
    tool.signal(SIGINT);
    const auto run = tool.wait();
    EXPECT_EQ(run.status, 130);
    EXPECT_THAT(run.err, ::testing::MatchesRegex(
                             "tarvex: interrupted after [0-9]+ of 65535 packets; nothing was "
                             "written\n"));
    EXPECT_THAT(run.out, IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(dir / "samples.csv"));
}

}  // namespace
}  // namespace tarvex::cli::test
