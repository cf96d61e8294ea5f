// The acquisition of `tarvex view`: the one thread that talks to the library (and through it to
// the board or the demo world), and the hub that hands its frames to the HTTP server's thread.
//
// The HTTP server never calls the library: it reads frames and state the acquisition
// published, and hand it settings it takes between two captures.  The board going away (unplug,
// time-outs) is a state, not an end: the thread closes it, looks for it again every half second
// and carries on when it is back (at whatever member index it then has).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "output.h"
#include "session.h"
#include "view_settings.h"

namespace tarvex::cli {

// The points of a frame, for the CSV the page saves.
struct EyePoints {
    std::uint64_t seq = 0;
    std::vector<std::uint16_t> x;
    std::vector<std::uint16_t> y;
};

struct PublishedFrame {
    std::uint64_t seq = 0;
    std::string body;  // the message for the page (view_frame.h)
    std::shared_ptr<const EyePoints> points;  // the newest points (null before the first eye)
};

class FrameHub {
public:
    void publish(std::shared_ptr<const PublishedFrame> frame);
    std::shared_ptr<const PublishedFrame> latest() const;
    // The newest frame if it is newer than `after`; null when none is or the hub is closed.
    std::shared_ptr<const PublishedFrame> newerThan(std::uint64_t after) const;
    bool closed() const;
    // No frame is handed out any more (shutdown): whoever waits for one stops waiting.
    void close();
    // `wake` is called after every frame published and on close, on the thread that did it, so
    // that a server can answer the requests waiting for a frame; it must not block.  An empty
    // function ends the calls (a call under way has ended when this returns).
    void onChange(std::function<void()> wake);

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const PublishedFrame> latest_;
    bool closed_ = false;
    std::function<void()> wake_;
};

// Frames are made at most this often: a demo board on the virtual clock could capture many
// times faster than a page draws, for nothing.
constexpr int kMaxFramesPerSecond = 30;

class Acquisition {
public:
    Acquisition(const ViewSettings& initial, FrameHub& hub);
    ~Acquisition();
    Acquisition(const Acquisition&) = delete;
    Acquisition& operator=(const Acquisition&) = delete;

    void start();
    // Ends the capture under way at its next packet and joins the thread.
    void stop();

    // Applies a settings request (view_settings.h) and returns the settings now in force, or
    // the sentence that says why nothing changed.
    Checked<ViewSettings> changeSettings(std::string_view body);
    void setMask(std::optional<MaskChoice> mask);

    // Settings, mask, the interfaces present and the board's state, as the page reads them.
    Json stateJson() const;

private:
    enum class BoardState { kStarting, kRunning, kPaused, kGone };
    struct Readings;

    void run();
    // Waits `duration` unless settings change or the thread is stopped first.
    void pause(std::chrono::milliseconds duration);
    void setState(BoardState state, std::string message);
    void publishStatus(bool always);
    Json boardJson() const;  // under mutex_

    FrameHub& hub_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> settingsChanged_{false};

    mutable std::mutex mutex_;  // everything below
    std::condition_variable wake_;
    ViewSettings settings_;
    std::optional<MaskChoice> mask_;
    std::vector<InterfaceInfo> interfaces_;
    BoardState state_ = BoardState::kStarting;
    std::string message_;
    std::string boardPath_;  // the board being watched: followed to a new index after a replug
    int flags_[4] = {-1, -1, -1, -1};  // -1: not read
    int temperature_ = 0;
    bool haveTemperature_ = false;
    double framesPerSecond_ = 0;
    std::uint64_t seq_ = 0;
    std::shared_ptr<const EyePoints> points_;
    std::chrono::steady_clock::time_point lastStatus_{};
};

}  // namespace tarvex::cli
