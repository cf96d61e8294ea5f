#include "view_server.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>

#include <fmt/format.h>

#include "board_readings.h"
#include "errors.h"
#include "eye_style.h"
#include "view_acquisition.h"
#include "view_assets.h"
#include "view_frame.h"

namespace tarvex::cli {

namespace {

constexpr std::size_t kMaxBodyBytes = 64 * 1024;
constexpr std::size_t kWorkers = 8;
constexpr std::size_t kWaitingConnections = 16;
// A page asks for the next frame and is answered when it comes, or after this with 204.
constexpr std::chrono::milliseconds kFrameWait{1000};
constexpr time_t kTimeoutSeconds = 5;
// An idle connection is kept this long for the page's next request (it asks at least once a
// second); a stopping server waits for its idle connections to time out.
constexpr time_t kKeepAliveSeconds = 2;
constexpr const char* kTokenHeader = "X-Tarvex-Token";

// httplib's own pool queues connections without bound; this one serves kWorkers at once and
// keeps up to kWaitingConnections waiting.  Beyond that the accepting thread waits, and
// further connections wait in (or are refused by) the system's listen backlog.
class BoundedPool final : public httplib::TaskQueue {
public:
    BoundedPool() {
        for (std::size_t i = 0; i < kWorkers; ++i) threads_.emplace_back([this] { work(); });
    }
    void enqueue(std::function<void()> job) override {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return jobs_.size() < kWaitingConnections || shutdown_; });
        jobs_.push_back(std::move(job));
        lock.unlock();
        ready_.notify_one();
    }
    void shutdown() override {
        {
            const std::lock_guard lock(mutex_);
            shutdown_ = true;
        }
        ready_.notify_all();
        room_.notify_all();
        for (auto& thread : threads_) thread.join();
    }

private:
    void work() {
        for (;;) {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [&] { return !jobs_.empty() || shutdown_; });
            if (jobs_.empty()) return;  // shut down, nothing left
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            room_.notify_one();
            job();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable room_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    bool shutdown_ = false;
};

// httplib lets other sockets share the port (SO_REUSEPORT): another program could then take
// some of the page's connections.  Only a restart's quick rebind is allowed here; Windows, whose
// SO_REUSEADDR would let anyone take the port, holds it exclusively.
void holdPortAlone(socket_t socket) {
    int yes = 1;
#ifdef _WIN32
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
#else
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool sameSecret(const std::string& given, const std::string& token) {
    // Every character is looked at whatever the first difference, so the time taken tells
    // nothing about how much of a guess was right.
    unsigned difference = given.size() == token.size() ? 0u : 1u;
    for (std::size_t i = 0; i < given.size() && i < token.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ token[i]);
    return difference == 0;
}

bool isIpv4Literal(const std::string& name) {
    int parts = 0;
    std::size_t digits = 0;
    for (const char c : name) {
        if (c == '.') {
            if (digits == 0) return false;
            ++parts;
            digits = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c)) != 0 && digits < 3) {
            ++digits;
        } else {
            return false;
        }
    }
    return parts == 3 && digits > 0;
}

bool isIpv6Literal(const std::string& name) {
    if (name.size() < 3 || name.front() != '[' || name.back() != ']') return false;
    return std::all_of(name.begin() + 1, name.end() - 1, [](unsigned char c) {
        return std::isxdigit(c) != 0 || c == ':' || c == '.';
    });
}

void sentence(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text + "\n", "text/plain; charset=utf-8");
}

std::string hexColour(const Rgb& c) {
    const auto byte = [](double v) {
        return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
    };
    return fmt::format("#{:02x}{:02x}{:02x}", byte(c.r), byte(c.g), byte(c.b));
}

// What the page needs to know once: how to draw (the picture's palette, colours and axes), what
// the measurements are called and the limits of the settings.
Json pageConfig() {
    Json palette = Json::array();
    constexpr int kPaletteSteps = 256;
    for (int i = 0; i < kPaletteSteps; ++i)
        palette.push_back(hexColour(paletteAt(static_cast<double>(i) / (kPaletteSteps - 1))));
    const EyeTheme& theme = eyeTheme();
    Json flags = Json::array();
    for (const auto& flag : kStatusFlags)
        flags.push_back({{"key", flag.key}, {"meaning", flag.meaning}});
    return {{"palette", palette},
            {"theme",
             {{"background", hexColour(theme.background)},
              {"plot", hexColour(theme.plot)},
              {"text", hexColour(theme.text)},
              {"dimText", hexColour(theme.dimText)},
              {"grid", hexColour(theme.grid)},
              {"frame", hexColour(theme.frame)},
              {"maskFill", hexColour(theme.maskFill)},
              {"maskEdge", hexColour(theme.maskEdge)},
              {"inside", hexColour(theme.inside)}}},
            {"uiStart", kUiStart},
            {"uiEnd", kUiEnd},
            {"gridLinesPerUi", kGridLinesPerUi},
            {"labelsPerUi", kLabelsPerUi},
            {"measurements", measurementCatalogue()},
            {"statusFlags", flags},
            {"limits",
             {{"maxPackets", ViewLimits::kMaxPackets},
              {"maxXScale", ViewLimits::kMaxXScale},
              {"maxRate", ViewLimits::kMaxRate},
              {"maxBodyBytes", kMaxBodyBytes}}},
            {"maxFramesPerSecond", kMaxFramesPerSecond}};
}

std::string pointsCsv(const EyePoints& points) {
    fmt::memory_buffer out;
    fmt::format_to(std::back_inserter(out), "sample,x,y\n");
    for (std::size_t i = 0; i < points.x.size(); ++i)
        fmt::format_to(std::back_inserter(out), "{},{},{}\n", i, points.x[i], points.y[i]);
    return fmt::to_string(out);
}

}  // namespace

std::string makeViewToken() {
    std::random_device source;
    std::string token;
    for (int i = 0; i < 4; ++i) token += fmt::format("{:08x}", source());
    return token;
}

std::string tokenProblem(const std::string& token) {
    if (token.size() < 16 || token.size() > 128)
        return "a token is 16 to 128 characters long";
    const bool plain = std::all_of(token.begin(), token.end(), [](unsigned char c) {
        return std::isalnum(c) != 0 || c == '-' || c == '_';
    });
    if (!plain) return "a token is made of letters, digits, - and _";
    return {};
}

struct ViewServer::Impl {
    // Empty when the request may go on, else the status and sentence it is refused with.
    static std::pair<int, std::string> refusal(const ViewServer& self,
                                               const httplib::Request& req) {
        const std::string host = lower(req.get_header_value("Host"));
        const auto colon = host.rfind(':');
        const bool hasPort = colon != std::string::npos && host.find(']', colon) == std::string::npos;
        const std::string name = hasPort ? host.substr(0, colon) : host;
        const std::string port = hasPort ? host.substr(colon + 1) : "80";
        bool known = name == "localhost" || isIpv4Literal(name) || isIpv6Literal(name);
        for (const auto& allowed : self.options_.allowedHosts) known = known || name == lower(allowed);
        if (!known || port != std::to_string(self.port_))
            return {403, "this server answers only to its IP address, localhost or a name "
                         "allowed with --allow-host, at its own port"};

        if (req.has_header("Origin") && lower(req.get_header_value("Origin")) != "http://" + host)
            return {403, "requests from other sites are refused"};
        const std::string site = req.get_header_value("Sec-Fetch-Site");
        if (!site.empty() && site != "same-origin" && site != "none")
            return {403, "requests from other sites are refused"};

        std::string given = req.get_param_value("token");
        if (given.empty()) given = req.get_header_value(kTokenHeader);
        if (!sameSecret(given, self.options_.token))
            return {401, "this server needs its token: open the address tarvex view printed, "
                         "with its ?token=..."};

        if (req.method == "POST" &&
            req.get_header_value("Content-Type").rfind("application/json", 0) != 0)
            return {415, "a request that changes something sends JSON (Content-Type: "
                         "application/json)"};
        return {0, {}};
    }

    static void routes(ViewServer& self, httplib::Server& server) {
        for (const ViewAsset& asset : viewAssets()) {
            std::string pattern;
            for (const char c : asset.path) pattern += c == '.' ? std::string("\\.") : std::string(1, c);
            server.Get(pattern, [&self, asset](const httplib::Request&,
                                                                httplib::Response& res) {
                std::string content(asset.content);
                // The page's own files are asked for with the token too.
                for (std::size_t at; (at = content.find("{{token}}")) != std::string::npos;)
                    content.replace(at, 9, self.options_.token);
                res.set_content(content, std::string(asset.contentType));
            });
        }
        server.Get("/api/config", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(pageConfig().dump(), "application/json");
        });
        server.Get("/api/state", [&self](const httplib::Request&, httplib::Response& res) {
            res.set_content(self.acquisition_.stateJson().dump(), "application/json");
        });
        server.Get("/api/frame", [&self](const httplib::Request& req, httplib::Response& res) {
            std::uint64_t after = 0;
            const std::string text = req.get_param_value("after");
            if (!text.empty()) {
                if (text.size() > 19 || !std::all_of(text.begin(), text.end(), [](unsigned char c) {
                        return std::isdigit(c) != 0;
                    }))
                    return sentence(res, 400, "after must be a frame number");
                after = std::stoull(text);
            }
            const auto frame = self.hub_.next(after, kFrameWait);
            if (!frame) {
                res.status = 204;
                return;
            }
            res.set_content(frame->body, "application/octet-stream");
        });
        server.Get("/api/points.csv", [&self](const httplib::Request&, httplib::Response& res) {
            const auto frame = self.hub_.latest();
            if (!frame || !frame->points)
                return sentence(res, 404, "no eye has been captured yet");
            res.set_header("Content-Disposition",
                           fmt::format("attachment; filename=\"eye-{}.csv\"", frame->points->seq));
            res.set_content(pointsCsv(*frame->points), "text/csv");
        });
        server.Post("/api/settings", [&self](const httplib::Request& req, httplib::Response& res) {
            const auto changed = self.acquisition_.changeSettings(req.body);
            if (!changed.value) return sentence(res, 400, changed.error);
            res.set_content(Json{{"settings", settingsJson(*changed.value)}}.dump(),
                            "application/json");
        });
        server.Post("/api/mask", [&self](const httplib::Request& req, httplib::Response& res) {
            auto mask = parseMaskRequest(req.body);
            if (!mask.value) return sentence(res, 400, mask.error);
            const Json answer = {{"mask", maskStateJson(*mask.value)}};
            self.acquisition_.setMask(std::move(*mask.value));
            res.set_content(answer.dump(), "application/json");
        });
    }
};

ViewServer::ViewServer(ViewServerOptions options, Acquisition& acquisition, FrameHub& hub)
    : options_(std::move(options)),
      acquisition_(acquisition),
      hub_(hub),
      server_(std::make_unique<httplib::Server>()) {
    httplib::Server& server = *server_;
    server.new_task_queue = [] { return new BoundedPool; };
    server.set_payload_max_length(kMaxBodyBytes);
    server.set_read_timeout(kTimeoutSeconds);
    server.set_write_timeout(kTimeoutSeconds);
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    server.set_socket_options(holdPortAlone);
    // A frame's headers and body leave in two writes: without this, the second waits for the
    // page's acknowledgement of the first (Nagle and delayed ACK, some 40 ms a frame).
    server.set_tcp_nodelay(true);
    // A page asks for some 30 frames a second: one connection serves it for a good while.
    server.set_keep_alive_max_count(100000);
    server.set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
         "img-src 'self' data: blob:; frame-ancestors 'none'; base-uri 'none'; "
         "form-action 'none'"},
    });
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const auto [status, text] = Impl::refusal(*this, req);
        if (status == 0) return httplib::Server::HandlerResponse::Unhandled;
        sentence(res, status, text);
        // The body of a refused request is not read: the connection cannot carry another.
        res.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        switch (res.status) {
        case 404: sentence(res, 404, "there is nothing at this address"); break;
        case 413:
            sentence(res, 413, fmt::format("a request body is at most {} KiB", kMaxBodyBytes / 1024));
            break;
        default: sentence(res, res.status, "the request could not be served"); break;
        }
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
            std::string what = "unknown";
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            sentence(res, 500, "the server failed: " + what);
        });
    Impl::routes(*this, server);
}

ViewServer::~ViewServer() { stop(); }

int ViewServer::bind() {
    if (options_.port == 0) {
        port_ = server_->bind_to_any_port(options_.listen);
    } else {
        port_ = server_->bind_to_port(options_.listen, options_.port) ? options_.port : -1;
    }
    if (port_ <= 0)
        throw ToolError(fmt::format(
            "could not listen on {} port {}: the port is taken or the address is not one of "
            "this machine's; choose another with --port or --listen",
            options_.listen, options_.port));
    return port_;
}

void ViewServer::start() {
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

void ViewServer::stop() {
    hub_.close();
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

std::string ViewServer::url() const {
    std::string host = options_.listen;
    if (host == "0.0.0.0") host = "127.0.0.1";
    if (host == "::") host = "[::1]";
    if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
    return fmt::format("http://{}:{}/?token={}", host, port_, options_.token);
}

}  // namespace tarvex::cli
