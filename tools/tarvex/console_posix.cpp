// The tool's streams and Ctrl-C on Linux (and other POSIX systems): signals and file descriptors.
#include "console.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>

namespace tarvex::cli {

namespace {

volatile std::sig_atomic_t interruptFlag = 0;

extern "C" void onInterrupt(int) {
    interruptFlag = 1;
    // The next Ctrl-C is not caught: a tool that hangs can still be killed.
    std::signal(SIGINT, SIG_DFL);
}

extern "C" void onTerminate(int) {
    interruptFlag = 1;
    std::signal(SIGTERM, SIG_DFL);
}

void catchSignal(int number, void (*handler)(int)) {
    // No SA_RESTART: nothing in the tool blocks on a system call that must go on after Ctrl-C.
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(number, &action, nullptr);
}

}  // namespace

void prepareStreams() {}

bool isTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

bool progressTerminal() { return isatty(STDERR_FILENO) == 1; }

std::FILE* divertStandardOutput() {
    const int saved = dup(STDOUT_FILENO);
    if (saved < 0) return nullptr;
    std::FILE* stream = fdopen(saved, "w");
    if (stream == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        if (stream != nullptr) std::fclose(stream);
        else close(saved);
        return nullptr;
    }
    return stream;
}

void installInterruptHandler() { catchSignal(SIGINT, onInterrupt); }

void stopOnTerminate() { catchSignal(SIGTERM, onTerminate); }

bool interrupted() { return interruptFlag != 0; }

}  // namespace tarvex::cli
