// Runs the built tarvex tool as a person's shell would: a child process with its own standard
// output and error, in a directory of the test's own.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarvex::cli::test {

// The tool under test is the one built beside the tests, unless TARVEX_TOOL_EXE names another:
// scripts/test-windows.sh runs these same cases against tarvex.exe, started by the program
// TARVEX_TOOL_LAUNCHER names (wine64).
bool windowsTool();

// A case that cannot apply to tarvex.exe is skipped, saying why.
#define TARVEX_SKIP_FOR_WINDOWS_TOOL(why) \
    if (::tarvex::cli::test::windowsTool()) GTEST_SKIP() << "not for tarvex.exe: " << (why)

struct ToolRun {
    int status = -1;  // the exit status, or 128 + the signal that ended the tool
    std::string out;
    std::string err;

    std::vector<std::string> outLines() const;
    // Standard output as one JSON document (fails the test if it is not).
    nlohmann::json json() const;
    // Every line of standard output as a JSON document.
    std::vector<nlohmann::json> jsonLines() const;
};

// A tool process that runs while the test does something else.
class ToolProcess {
public:
    ToolProcess(const std::vector<std::string>& args, const std::filesystem::path& dir);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    void signal(int number);
    ToolRun wait();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

ToolRun runTool(const std::vector<std::string>& args, const std::filesystem::path& dir = {});

// The tool with a terminal for its standard input, output and error (all three in `out`).
ToolRun runOnTerminal(const std::vector<std::string>& args, const std::filesystem::path& dir);

// The tool against one emulated demo board on a virtual clock: sleeps and time-outs cost nothing.
ToolRun runDemo(std::vector<std::string> args, const std::filesystem::path& dir = {});

// A fresh directory for one test, removed with everything in it afterwards.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);

// `head` and then each of `args` after a space: a command line as a case's name shows it.
std::string withArgs(std::string head, const std::vector<std::string>& args);

}  // namespace tarvex::cli::test
