#include "emulated/clock.h"

#include <thread>

namespace tarvex::emulated {
namespace {

// An endless wait with only polls left to happen gives up after this much time: nothing that
// would end it is scheduled, and a device that answers polls does so long before.
constexpr Micros kIdleLimit = 60'000'000;

}  // namespace

Clock::Clock(ClockMode mode) : mode_(mode), origin_(std::chrono::steady_clock::now()) {}

Micros Clock::now() const {
    if (mode_ == ClockMode::kVirtual) return now_;
    auto elapsed = std::chrono::steady_clock::now() - origin_;
    return static_cast<Micros>(
        std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void Clock::schedule(Micros at, std::function<void()> action, bool background) {
    queue_.emplace(std::make_pair(at, sequence_++), Happening{std::move(action), background});
    if (!background) ++foreground_;
}

void Clock::moveTo(Micros t) {
    if (mode_ == ClockMode::kVirtual) {
        if (t > now_) now_ = t;
    } else {
        // A sleep can end a little before its deadline (Windows wakes on its timer tick, not on
        // the steady clock), so sleep again until the deadline has really passed.
        const auto deadline = origin_ + std::chrono::microseconds(t);
        while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
    }
}

void Clock::runFirst() {
    auto first = queue_.begin();
    Micros at = first->first.first;
    Happening happening = std::move(first->second);
    queue_.erase(first);
    if (!happening.background) --foreground_;
    moveTo(at);
    happening.action();
}

void Clock::advanceTo(Micros target) {
    while (!queue_.empty() && queue_.begin()->first.first <= target) runFirst();
    moveTo(target);
}

Clock::Outcome Clock::runUntil(const std::function<bool()>& done, std::optional<Micros> deadline) {
    std::optional<Micros> idleUntil;
    while (!done()) {
        if (queue_.empty() || (deadline && queue_.begin()->first.first > *deadline)) {
            if (!deadline) return Outcome::kStuck;
            moveTo(*deadline);
            return Outcome::kDeadlineReached;
        }
        if (!deadline && foreground_ == 0) {
            if (!idleUntil) idleUntil = now() + kIdleLimit;
            if (queue_.begin()->first.first > *idleUntil) return Outcome::kStuck;
        } else {
            idleUntil.reset();
        }
        runFirst();
    }
    return Outcome::kDone;
}

}  // namespace tarvex::emulated
