// What the tool needs of the system it runs on besides the board: its standard streams, whether
// they are a terminal, and Ctrl-C.  This is where Linux and Windows differ, and only here:
// console_posix.cpp and console_win32.cpp.
#pragma once

#include <cstdio>

namespace tarvex::cli {

// Readies the standard streams before anything is printed.  On Windows: what the tool writes
// reaches pipes and files byte for byte as on Linux (no CR before each LF), the console shows
// UTF-8 ("°C") and understands the escape that wipes the progress line.  Nothing on Linux.
void prepareStreams();

// Whether `stream` is a terminal (a console on Windows), where a person reads.
bool isTerminal(std::FILE* stream);

// Whether standard error is a terminal that a progress line can be drawn and wiped on.
bool progressTerminal();

// Points the process's standard output at standard error and returns a stream that writes
// where standard output went; nullptr, and nothing changed, when that cannot be done.
std::FILE* divertStandardOutput();

// Ctrl-C does not end the tool: it raises the flag that interrupted() reads (Ctrl-Break too
// on Windows).  The second Ctrl-C ends the tool at once.
void installInterruptHandler();
// A request to stop from outside raises the same flag, for commands that run until told to
// stop: SIGTERM (a service manager's stop), or on Windows the console window being closed.
void stopOnTerminate();
bool interrupted();

}  // namespace tarvex::cli
