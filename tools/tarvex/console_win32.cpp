// The tool's streams and Ctrl-C on Windows: the console and its control handler.
#include "console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace tarvex::cli {

namespace {

std::atomic<bool> interruptFlag{false};
std::atomic<bool> stopOnClose{false};

// Runs on a thread the system starts for each event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // The second one goes on to the system's handler, which ends the tool: a tool that
        // hangs can still be stopped.
        return interruptFlag.exchange(true) ? FALSE : TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (!stopOnClose) return FALSE;
        interruptFlag = true;
        // The system ends the process as soon as this returns: wait here while the tool stops
        // and exits on its own (within the few seconds the system allows).
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

HANDLE errorHandle() { return GetStdHandle(STD_ERROR_HANDLE); }

// The console as the tool found it, given back at exit: its code page and mode are the
// console's, shared with the shell that runs the tool.
UINT savedOutputCodePage = 0;
DWORD savedErrorMode = 0;
bool progressConsole = false;

void restoreConsole() {
    if (savedOutputCodePage != 0) SetConsoleOutputCP(savedOutputCodePage);
    if (progressConsole) SetConsoleMode(errorHandle(), savedErrorMode);
}

}  // namespace

void prepareStreams() {
    // Text mode would write CR LF for each LF: files, pipes and the console get the bytes the
    // tool writes, as on Linux (the JSON lines and CSV files are the same files everywhere).
    // (_fmode itself: msvcrt.dll, the C runtime MinGW links, has no _set_fmode.)
    _fmode = _O_BINARY;
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    DWORD mode = 0;
    if (GetConsoleMode(errorHandle(), &mode) &&
        SetConsoleMode(errorHandle(), mode | ENABLE_PROCESSED_OUTPUT |
                                          ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        savedErrorMode = mode;
        progressConsole = true;
    }
    // The tool's text is UTF-8.
    const UINT codePage = GetConsoleOutputCP();
    if (codePage != 0 && codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        savedOutputCodePage = codePage;
    if (savedOutputCodePage != 0 || progressConsole) std::atexit(restoreConsole);
}

bool isTerminal(std::FILE* stream) {
    DWORD mode = 0;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// A console older than Windows 10 does not know the escape that wipes the line; it gets no
// progress line rather than a garbled one.
bool progressTerminal() { return progressConsole; }

std::FILE* divertStandardOutput() {
    const int saved = _dup(_fileno(stdout));
    if (saved < 0) return nullptr;
    std::FILE* stream = _fdopen(saved, "wb");
    if (stream == nullptr || _dup2(_fileno(stderr), _fileno(stdout)) < 0) {
        if (stream != nullptr) std::fclose(stream);
        else _close(saved);
        return nullptr;
    }
    return stream;
}

void installInterruptHandler() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

void stopOnTerminate() { stopOnClose = true; }

bool interrupted() { return interruptFlag; }

}  // namespace tarvex::cli
