#include "view_acquisition.h"

#include <deque>
#include <optional>

#include <fmt/format.h>

#include "board_readings.h"
#include "commands/capture.h"
#include "commands/packet.h"
#include "errors.h"
#include "tarvex.h"
#include "view_frame.h"

namespace tarvex::cli {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a missing board is looked for, the interfaces listed while one runs, the status
// and temperature read, and a state repeated to the page while no frames come.
constexpr milliseconds kRetryEvery{500};
constexpr milliseconds kListEvery{2000};
constexpr milliseconds kReadingsEvery{1000};
constexpr milliseconds kStatusEvery{1000};
// A capture whose first packets all fail is given up there: a board that does not answer
// would otherwise hold the view for a time-out per packet (a minute for 256).
constexpr std::uint16_t kGiveUpAfterFailures = 4;

const char* stateName(int state) {
    static constexpr const char* names[] = {"starting", "running", "paused", "gone"};
    return names[state];
}

// Frames per second over the last two seconds.
class RateMeter {
public:
    double tick(Clock::time_point now) {
        times_.push_back(now);
        while (times_.size() > 2 && now - times_.front() > std::chrono::seconds(2))
            times_.pop_front();
        if (times_.size() < 2) return 0;
        const double span = std::chrono::duration<double>(times_.back() - times_.front()).count();
        return span > 0 ? static_cast<double>(times_.size() - 1) / span : 0;
    }
    void reset() { times_.clear(); }

private:
    std::deque<Clock::time_point> times_;
};

}  // namespace

// ---- FrameHub ---------------------------------------------------------------------------------

void FrameHub::publish(std::shared_ptr<const PublishedFrame> frame) {
    const std::lock_guard lock(mutex_);
    latest_ = std::move(frame);
    if (wake_) wake_();
}

std::shared_ptr<const PublishedFrame> FrameHub::latest() const {
    const std::lock_guard lock(mutex_);
    return latest_;
}

std::shared_ptr<const PublishedFrame> FrameHub::newerThan(std::uint64_t after) const {
    const std::lock_guard lock(mutex_);
    if (closed_ || latest_ == nullptr || latest_->seq <= after) return nullptr;
    return latest_;
}

bool FrameHub::closed() const {
    const std::lock_guard lock(mutex_);
    return closed_;
}

void FrameHub::close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    if (wake_) wake_();
}

void FrameHub::onChange(std::function<void()> wake) {
    // Under the lock, so that no call is under way once it is replaced.
    const std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

// ---- Acquisition ------------------------------------------------------------------------------

Acquisition::Acquisition(const ViewSettings& initial, FrameHub& hub)
    : hub_(hub), settings_(initial) {}

Acquisition::~Acquisition() { stop(); }

void Acquisition::start() { thread_ = std::thread([this] { run(); }); }

void Acquisition::stop() {
    stopping_ = true;
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

Checked<ViewSettings> Acquisition::changeSettings(std::string_view body) {
    std::unique_lock lock(mutex_);
    auto changed = applySettings(settings_, body, interfaces_);
    if (!changed.value) return changed;
    if (changed.value->board != settings_.board) boardPath_.clear();  // a board chosen anew
    settings_ = *changed.value;
    settingsChanged_ = true;
    lock.unlock();
    wake_.notify_all();
    return changed;
}

void Acquisition::setMask(std::optional<MaskChoice> mask) {
    const std::lock_guard lock(mutex_);
    mask_ = std::move(mask);
}

Json Acquisition::boardJson() const {
    Json board = {{"state", stateName(static_cast<int>(state_))},
                  {"message", message_},
                  {"index", settings_.board}};
    Json flags = Json::object();
    if (flags_[0] >= 0)
        for (int i = 0; i < 4; ++i) flags[kStatusFlags[i].key] = flags_[i] == 1;
    board["flags"] = flags_[0] >= 0 ? flags : Json();
    board["temperature"] = haveTemperature_ ? Json(temperature_) : Json();
    Json boards = Json::array();
    for (const auto& info : interfaces_)
        if (info.board) boards.push_back({{"index", info.index}, {"path", info.path}});
    board["boards"] = boards;
    board["framesPerSecond"] = framesPerSecond_;
    return board;
}

Json Acquisition::stateJson() const {
    const std::lock_guard lock(mutex_);
    return {{"settings", settingsJson(settings_)},
            {"mask", maskStateJson(mask_)},
            {"board", boardJson()},
            {"seq", seq_}};
}

void Acquisition::pause(milliseconds duration) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, duration, [&] { return stopping_.load() || settingsChanged_.load(); });
}

void Acquisition::setState(BoardState state, std::string message) {
    bool changed;
    {
        const std::lock_guard lock(mutex_);
        changed = state != state_ || message != message_;
        state_ = state;
        message_ = std::move(message);
        if (state != BoardState::kRunning) framesPerSecond_ = 0;
    }
    publishStatus(changed);
}

// A frame with no eye in it: the page learns the board's state while no captures come.
void Acquisition::publishStatus(bool always) {
    auto frame = std::make_shared<PublishedFrame>();
    {
        const std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        if (!always && now - lastStatus_ < kStatusEvery) return;
        lastStatus_ = now;
        frame->seq = ++seq_;
        frame->points = points_;
        Json header = {{"seq", frame->seq}, {"board", boardJson()},
                       {"settings", settingsJson(settings_)}};
        frame->body = encodeFrame(header, {}, {});
    }
    hub_.publish(std::move(frame));
}

void Acquisition::run() {
    FramePipeline pipeline;
    RateMeter rate;
    std::vector<std::uint16_t> samples;
    std::optional<BoardSession> session;
    auto nextListing = Clock::now();
    auto nextReadings = Clock::now();

    while (!stopping_) {
        settingsChanged_ = false;
        ViewSettings settings;
        std::optional<MaskChoice> mask;
        std::string followPath;
        {
            const std::lock_guard lock(mutex_);
            settings = settings_;
            mask = mask_;
            followPath = boardPath_;
        }
        if (session && session->index() != settings.board) session.reset();
        if (!settings.run) {
            session.reset();
            rate.reset();
            setState(BoardState::kPaused, "paused: press Run to capture again");
            publishStatus(false);
            pause(kRetryEvery);
            continue;
        }

        const auto started = Clock::now();
        if (!session || started >= nextListing) {
            auto found = listInterfaces();
            nextListing = started + kListEvery;
            // A board that came back after an unplug may sit at another index now.
            if (!session && !followPath.empty()) {
                for (const auto& info : found)
                    if (info.board && info.path == followPath) settings.board = info.index;
            }
            const std::lock_guard lock(mutex_);
            interfaces_ = std::move(found);
            if (!settingsChanged_) settings_.board = settings.board;
        }
        if (!session) {
            try {
                session.emplace(settings.board);
            } catch (const ToolError& error) {
                setState(BoardState::kGone, error.what());
                publishStatus(false);
                pause(kRetryEvery);
                continue;
            }
            pipeline.relayout();
            rate.reset();
            const std::lock_guard lock(mutex_);
            for (const auto& info : interfaces_)
                if (info.index == settings.board) boardPath_ = info.path;
        }
        const std::uint16_t index = session->index();

        samples.resize(std::size_t{settings.packets} * SAMPLES_PER_PACKET);
        ScopeStats stats{};
        clearLastError();
        commands::captureSamples(index, static_cast<std::uint16_t>(settings.packets),
                                 samples.data(), &stats, [&](std::uint32_t, std::uint32_t) {
                                     return !stopping_ && !settingsChanged_ &&
                                            !(stats.failCount >= kGiveUpAfterFailures &&
                                              stats.okCount + stats.shortCount == 0);
                                 });
        const std::uint32_t code = lastError();
        if (stopping_) break;
        if (settingsChanged_) continue;  // a frame of the settings just left is not wanted
        if (stats.okCount + stats.shortCount == 0) {
            session.reset();
            setState(BoardState::kGone,
                     exchangeFailure(index, XFER_FAIL, code,
                                     {"scope packet requests", commands::kTimeoutMs,
                                      SCOPE_PACKET_BYTES}));
            pause(kRetryEvery);
            continue;
        }

        if (Clock::now() >= nextReadings) {
            nextReadings = Clock::now() + kReadingsEvery;
            std::uint8_t flags[4] = {};
            std::uint8_t reading = 0;
            const bool flagsRead = u_GetStatus(index, flags) == XFER_OK;
            const bool temperatureRead = u_GetVSCTemp(index, &reading) == XFER_OK;
            const std::lock_guard lock(mutex_);
            for (int i = 0; i < 4; ++i) flags_[i] = flagsRead ? flags[i] : -1;
            haveTemperature_ = temperatureRead;
            temperature_ = temperatureOf(reading);
        }

        FrameContent& content =
            pipeline.process({samples.data(), stats.sampleCount}, settings, mask);
        auto points = std::make_shared<EyePoints>();
        points->x = content.eyeX;
        points->y = content.eyeY;

        auto frame = std::make_shared<PublishedFrame>();
        {
            const std::lock_guard lock(mutex_);
            state_ = BoardState::kRunning;
            message_.clear();
            framesPerSecond_ = rate.tick(Clock::now());
            frame->seq = points->seq = ++seq_;
            if (!points->x.empty()) points_ = points;
            frame->points = points_;
            Json& header = content.header;
            header["seq"] = frame->seq;
            header["board"] = boardJson();
            header["settings"] = settingsJson(settings);
            header["capture"] = {{"packets", settings.packets}, {"samples", stats.sampleCount},
                                 {"ok", stats.okCount},         {"short", stats.shortCount},
                                 {"failed", stats.failCount},   {"flagSeen", stats.flagSeen == 1}};
            lastStatus_ = Clock::now();
        }
        frame->body = encodeFrame(content.header, content.hits, content.fails);
        hub_.publish(std::move(frame));

        const auto due = started + milliseconds(1000 / kMaxFramesPerSecond);
        if (Clock::now() < due) pause(std::chrono::duration_cast<milliseconds>(due - Clock::now()));
    }
    session.reset();
}

}  // namespace tarvex::cli
