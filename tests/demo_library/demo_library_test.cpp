// The demo library as a host program meets it: loaded, configured from TARVEX_DEMO on first use,
// and unloaded.  Each case runs a fresh process, as TARVEX_DEMO is read once per process.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

struct ProbeRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the probe on the demo library with TARVEX_DEMO set to `demo` (unset when null).
ProbeRun runProbe(const char* demo) {
    const auto dir = std::filesystem::temp_directory_path();
    const auto out = dir / ("demo_probe_out_" + std::to_string(getpid()));
    const auto err = dir / ("demo_probe_err_" + std::to_string(getpid()));
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        if (demo) setenv("TARVEX_DEMO", demo, 1);
        else unsetenv("TARVEX_DEMO");
        execl(TARVEX_DEMO_PROBE, TARVEX_DEMO_PROBE, TARVEX_DEMO_LIBRARY, nullptr);
        _exit(127);
    }
    ProbeRun run;
    waitpid(pid, &run.status, 0);
    run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : 128 + WTERMSIG(run.status);
    run.out = contents(out);
    run.err = contents(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return run;
}

constexpr const char* kNoBoards = ". The demo driver lists no boards.\n";

}  // namespace

TEST(DemoLibrary, SetsUpTheBoardsTarvexDemoAsksForAndUnloadsCleanly) {
    const struct {
        const char* demo;
        const char* counts;
    } cases[] = {
        {nullptr, "counts: 1 1\n"},  // one board by default
        {"boards=2,other=1,clock=virtual,noise=18,jitter=8p", "counts: 2 2\n"},
    };
    for (const auto& c : cases) {
        const ProbeRun run = runProbe(c.demo);
        EXPECT_EQ(run.status, 0) << (c.demo ? c.demo : "unset");
        EXPECT_EQ(run.out, std::string(c.counts) + "unloaded\n");
        EXPECT_EQ(run.err, "");
    }
}

TEST(DemoLibrary, ABadValueIsSaidOnceAndGivesADriverWithNoBoards) {
    const struct {
        const char* demo;
        const char* message;  // the start of the one line on standard error
    } cases[] = {
        {"noise=abc", "noise=abc is not accepted; give a number of sample codes from 0 to 4095, "
                      "like 18"},
        {"boards=99", "boards=99 is not accepted; give a whole number from 0 to 32, like 2"},
        {"clock=fast,boards=2", "clock=fast is not accepted; give real or virtual"},
        {"boards=2,jitter=5", "jitter=5 is not accepted; give a time from 0 to 1 us, like 8p"},
        {"boards", "boards is not accepted; give key=value, like boards=2"},
        {"colour=red", "colour=red is not accepted; give one of the options boards, other, "},
    };
    for (const auto& c : cases) {
        const ProbeRun run = runProbe(c.demo);
        EXPECT_EQ(run.status, 0) << c.demo;
        EXPECT_EQ(run.out, "counts: 0 0\nunloaded\n") << c.demo;
        const std::string start = std::string("tarvex-demo: TARVEX_DEMO: ") + c.message;
        EXPECT_EQ(run.err.rfind(start, 0), 0u) << run.err;
        EXPECT_TRUE(run.err.ends_with(kNoBoards)) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line, once: " << run.err;
    }
}
