#include "cli/tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#ifndef TARVEX_TOOL
#error "TARVEX_TOOL names the built tarvex tool"
#endif

namespace tarvex::cli::test {

std::vector<std::string> ToolRun::outLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

nlohmann::json ToolRun::json() const {
    auto parsed = nlohmann::json::parse(out, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << "not JSON: " << out;
    return parsed;
}

std::vector<nlohmann::json> ToolRun::jsonLines() const {
    std::vector<nlohmann::json> documents;
    for (const auto& line : outLines()) {
        documents.push_back(nlohmann::json::parse(line, nullptr, false));
        EXPECT_FALSE(documents.back().is_discarded()) << "not JSON: " << line;
    }
    return documents;
}

namespace {

std::string fromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string toolUnderTest() {
    const std::string exe = fromEnvironment("TARVEX_TOOL_EXE");
    return exe.empty() ? TARVEX_TOOL : exe;
}

// The program to start and its argv: the tool, or the launcher with the tool as its first
// argument.  Made before fork: the child only calls exec.
std::vector<std::string> toolCommand(const std::vector<std::string>& args) {
    const std::string launcher = fromEnvironment("TARVEX_TOOL_LAUNCHER");
    std::vector<std::string> command;
    if (launcher.empty()) command = {toolUnderTest(), "tarvex"};
    else command = {launcher, launcher, toolUnderTest()};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

// In the child: runs `command` (from toolCommand) in `dir`; never returns.
[[noreturn]] void execTool(const std::vector<std::string>& command, const std::filesystem::path& dir) {
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    for (std::size_t i = 1; i < command.size(); ++i)
        argv.push_back(const_cast<char*>(command[i].c_str()));
    argv.push_back(nullptr);
    execv(command[0].c_str(), argv.data());
    _exit(127);
}

}  // namespace

bool windowsTool() {
    const std::string tool = toolUnderTest();
    return tool.size() >= 4 && tool.compare(tool.size() - 4, 4, ".exe") == 0;
}

ToolProcess::ToolProcess(const std::vector<std::string>& args, const std::filesystem::path& dir) {
    const std::vector<std::string> command = toolCommand(args);
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        int nullIn = open("/dev/null", O_RDONLY);
        dup2(nullIn, STDIN_FILENO);
        execTool(command, dir);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

void ToolProcess::signal(int number) { kill(pid_, number); }

ToolRun ToolProcess::wait() {
    ToolRun run;
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int openPipes = 2;
    while (openPipes > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --openPipes;
            }
        }
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

ToolRun runTool(const std::vector<std::string>& args, const std::filesystem::path& dir) {
    ToolProcess process(args, dir);
    return process.wait();
}

ToolRun runOnTerminal(const std::vector<std::string>& args, const std::filesystem::path& dir) {
    const std::vector<std::string> command = toolCommand(args);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) throw std::runtime_error("forkpty failed");
    if (pid == 0) {
        execTool(command, dir);
    }
    ToolRun run;
    char buffer[4096];
    // The terminal reads end (EIO) once the tool has exited and closed its side.
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        run.out.append(buffer, static_cast<std::size_t>(n));
    }
    close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

ToolRun runDemo(std::vector<std::string> args, const std::filesystem::path& dir) {
    args.insert(args.begin(), {"--demo", "--demo-virtual-clock"});
    return runTool(args, dir);
}

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvex-cli-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string withArgs(std::string head, const std::vector<std::string>& args) {
    for (const auto& arg : args) head += ' ' + arg;
    return head;
}

}  // namespace tarvex::cli::test
