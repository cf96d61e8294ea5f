#include "progress.h"

#include <cstdio>

#include <fmt/format.h>

namespace tarvex::cli {

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int kBarWidth = 24;

std::string clockText(double seconds) {
    const auto whole = static_cast<long>(seconds + 0.5);
    return fmt::format("{}:{:02}", whole / 60, whole % 60);
}

}  // namespace

Progress::Progress(std::string label, std::uint32_t total, std::string unit)
    : label_(std::move(label)),
      total_(total),
      unit_(std::move(unit)),
      active_(progressTerminal()),
      start_(Clock::now()),
      lastDraw_(start_) {}

Progress::~Progress() { finish(); }

bool Progress::update(std::uint32_t done) {
    done_ = done;
    phase_.clear();
    draw(done == total_);
    return !interrupted();
}

void Progress::phase(const std::string& text) {
    phase_ = text;
    draw(true);
}

void Progress::draw(bool force) {
    if (!active_) return;
    const auto now = Clock::now();
    if (!force && now - lastDraw_ < kRedrawEvery) return;
    lastDraw_ = now;

    std::string text;
    if (!phase_.empty()) {
        text = fmt::format("{}  {}", label_, phase_);
    } else {
        const double fraction = total_ == 0 ? 1.0 : static_cast<double>(done_) / total_;
        const int filled = static_cast<int>(fraction * kBarWidth);
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double rate = elapsed > 0 ? done_ / elapsed : 0.0;
        std::string eta = "--:--";
        if (rate > 0) eta = clockText((total_ - done_) / rate);
        text = fmt::format("{}  [{:=<{}}{: <{}}]  {}/{} {}  {:.0f} {}/s  {} left", label_,
                           "", filled, "", kBarWidth - filled, done_, total_, unit_, rate, unit_,
                           eta);
    }
    // \r and erase-to-end-of-line keep the line in place however its length changes.
    fmt::print(stderr, "\r{}\x1b[K", text);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::finish() {
    if (!drawn_) return;
    fmt::print(stderr, "\r\x1b[K");
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace tarvex::cli
