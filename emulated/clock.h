// The emulated world's clock and its list of scheduled happenings (replies becoming ready,
// cancels completing, actions a test scheduled).  One discrete-event scheduler serves both
// modes: in virtual time the clock jumps from happening to happening at once; in real time it
// sleeps until each one is due.  No threads: happenings run inside sleeps, waits and blocking
// calls, in time order (and in the order they were scheduled when due together).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "emulated/firmware.h"

namespace tarvex::emulated {

enum class ClockMode { kVirtual, kRealTime };

class Clock {
public:
    explicit Clock(ClockMode mode);

    ClockMode mode() const { return mode_; }
    Micros now() const;

    // A background happening (a poll) does not by itself keep an endless wait going.
    void schedule(Micros at, std::function<void()> action, bool background = false);

    // Runs every happening due by `target`, then moves the clock to `target`.
    void advanceTo(Micros target);
    // Runs the happenings already due.
    void catchUp() { advanceTo(now()); }

    enum class Outcome { kDone, kDeadlineReached, kStuck };
    // Moves time on, happening by happening, until `done` holds (Done), the deadline has been
    // reached (DeadlineReached; happenings due exactly at the deadline still run), or, without a
    // deadline, nothing is left that could ever make `done` hold (Stuck).
    Outcome runUntil(const std::function<bool()>& done, std::optional<Micros> deadline);

private:
    struct Happening {
        std::function<void()> action;
        bool background;
    };
    void moveTo(Micros t);
    void runFirst();

    ClockMode mode_;
    Micros now_ = 0;  // virtual time
    std::chrono::steady_clock::time_point origin_;
    std::map<std::pair<Micros, std::uint64_t>, Happening> queue_;
    std::uint64_t sequence_ = 0;
    std::size_t foreground_ = 0;
};

}  // namespace tarvex::emulated
