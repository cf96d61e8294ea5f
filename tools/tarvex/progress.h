// Progress of long operations on the terminal, and Ctrl-C.
//
// A progress line is drawn on standard error only when standard error is a terminal, at most ten
// times a second, and is wiped when the operation ends; a script or a pipe sees nothing of it.
// Ctrl-C does not kill the tool: it raises a flag (interrupted(), console.h) that long operations
// test between two exchanges with the board, so they stop cleanly, close the board and exit with
// status 130.  A second Ctrl-C kills the tool at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "console.h"

namespace tarvex::cli {

class Progress {
public:
    // `label` names the operation ("capture"), `unit` what is counted ("packets").
    Progress(std::string label, std::uint32_t total, std::string unit);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Records that `done` of `total` units are done; redraws now and then.  Returns false once
    // Ctrl-C was pressed, so it can serve directly as a "go on?" callback.
    bool update(std::uint32_t done);
    // A phase without countable units (a settle time): shown as text in place of the counts.
    void phase(const std::string& text);
    // Wipes the line.
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    void draw(bool force);

    std::string label_;
    std::uint32_t total_;
    std::string unit_;
    std::uint32_t done_ = 0;
    std::string phase_;
    bool active_;
    bool drawn_ = false;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
};

}  // namespace tarvex::cli
