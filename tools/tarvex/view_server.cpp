#include "view_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string_view>
#include <thread>
#include <utility>

// Asio's parts one by one: boost/asio.hpp as a whole brings in its coroutine support, whose
// header in Boost 1.74 does not compile as C++20 with GCC 12.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

#include <fmt/format.h>

#include "board_readings.h"
#include "errors.h"
#include "eye_style.h"
#include "view_acquisition.h"
#include "view_assets.h"
#include "view_frame.h"

namespace tarvex::cli {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

constexpr std::size_t kMaxBodyBytes = 64 * 1024;
constexpr std::uint32_t kMaxHeaderBytes = 8 * 1024;  // a request's line and headers
constexpr std::size_t kServedConnections = 8;
constexpr std::size_t kWaitingConnections = 16;
// Beyond the connections served and waiting, further ones wait in (or are refused by) the
// system's backlog of this length.  A burst of connections (a browser opens up to 6 at once)
// must fit: one the backlog has no room for is dropped and comes again a second later.
constexpr int kListenBacklog = 16;
// A page asks for the next frame and is answered when it comes, or after this with 204.
constexpr std::chrono::milliseconds kFrameWait{1000};
// The rest of a request after its headers, and the writing of an answer.
constexpr std::chrono::seconds kTimeout{5};
// An idle connection is kept this long for the page's next request (it asks at least once a
// second); the request's line and headers must have come by then.
constexpr std::chrono::seconds kKeepAlive{2};
// A connection closed with bytes of the client's still unread or on their way (the body of a
// refused request) is drained this long first, or until the client closes its side: closed at
// once, the system would reset it, and the client could lose the answer.
constexpr std::chrono::seconds kLinger{1};
constexpr std::size_t kLingerChunk = 4096;
// A failed accept (out of file descriptors, say) is tried again after this, not in a spin.
constexpr std::chrono::milliseconds kAcceptRetry{50};
constexpr const char* kTokenHeader = "X-Tarvex-Token";

// Every answer's: nothing of the page is cached, framed, guessed at or loaded from elsewhere.
constexpr std::pair<const char*, const char*> kPageHeaders[] = {
    {"Cache-Control", "no-store"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"X-Frame-Options", "DENY"},
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
     "img-src 'self' data: blob:; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
};

// Only a restart's quick rebind is allowed, never SO_REUSEPORT (another program could then take
// some of the page's connections); Windows, whose SO_REUSEADDR would let anyone take the port,
// holds it exclusively.
#ifdef _WIN32
using HoldPortAlone = asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
#else
using HoldPortAlone = asio::socket_base::reuse_address;
#endif

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

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX decoded (a % that starts no such escape is kept); in a query, + is a space too.
std::string decoded(std::string_view text, bool query) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
            hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += query && text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

// A request's target: its path, decoded, and its query.
struct Target {
    std::string path;
    std::string query;

    explicit Target(std::string_view target) {
        const auto mark = target.find('?');
        path = decoded(target.substr(0, mark), false);
        if (mark != std::string_view::npos) query = target.substr(mark + 1);
    }
    // The first value of `name` in the query, decoded; empty when it has none.
    std::string param(std::string_view name) const {
        for (std::string_view rest = query; !rest.empty();) {
            const auto end = rest.find('&');
            const std::string_view pair = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            const auto equals = pair.find('=');
            if (decoded(pair.substr(0, equals), true) != name) continue;
            return equals == std::string_view::npos ? std::string()
                                                    : decoded(pair.substr(equals + 1), true);
        }
        return {};
    }
};

Response content(std::string body, std::string_view type) {
    Response res{http::status::ok, 11};
    res.set(http::field::content_type, type);
    res.body() = std::move(body);
    return res;
}

Response sentence(http::status status, const std::string& text) {
    Response res = content(text + "\n", "text/plain; charset=utf-8");
    res.result(status);
    return res;
}

Response bodyTooBig() {
    return sentence(http::status::payload_too_large,
                    fmt::format("a request body is at most {} KiB", kMaxBodyBytes / 1024));
}

bool isHttpError(const beast::error_code& error) {
    return error.category() == http::make_error_code(http::error::end_of_stream).category();
}

class Connection;

// The listening socket, the connections and the thread that serves them all.  Everything but
// bind(), start() and stop() happens on that thread.
class Server {
public:
    Server(ViewServerOptions options, Acquisition& acquisition, FrameHub& hub)
        : options_(std::move(options)), acquisition_(acquisition), hub_(hub) {}
    ~Server() { stop(); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int bind();
    void start();
    void stop();
    int port() const { return port_; }
    const ViewServerOptions& options() const { return options_; }

private:
    friend class Connection;

    bool listenOn(const tcp::endpoint& endpoint);
    void run();
    void accept();
    void serve(tcp::socket socket);
    void ended(Connection& connection);
    void wakeFrameWaiters();
    void shutDown();
    // The refusal of a request (by its headers alone), if it is refused.
    std::optional<Response> refusal(const Request& req, const Target& target) const;
    // The answer to a request let in, but for a frame's (the connection waits for the frame).
    Response answer(const Request& req, const Target& target);

    ViewServerOptions options_;
    Acquisition& acquisition_;
    FrameHub& hub_;
    int port_ = 0;
    // The connections' bookkeeping outlives the sockets and timers: a connection that ends as
    // they go still finds it.
    bool stopping_ = false;
    bool accepting_ = false;
    std::set<Connection*> connections_;   // served
    std::set<Connection*> frameWaiters_;  // of those, the ones waiting for a frame
    asio::io_context io_;
    std::deque<tcp::socket> waiting_;
    tcp::acceptor acceptor_{io_};
    asio::steady_timer acceptRetry_{io_};
    std::thread thread_;
};

// One client's connection: its requests one after the other, kept alive between them.
class Connection final : public std::enable_shared_from_this<Connection> {
public:
    Connection(Server& server, tcp::socket socket)
        : server_(server), stream_(std::move(socket)), frameTimer_(server.io_) {}
    ~Connection() { server_.ended(*this); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void start() { readHeader(); }
    // Shutdown: a connection between two requests is closed now; one serving a request
    // closes once it has answered.
    void stopIfIdle() {
        if (idle_) stream_.cancel();
    }
    // A frame may have come (or the hub closed): the request waiting for one looks again.
    void frameChanged() { frameTimer_.cancel(); }

private:
    void readHeader();
    void onHeader(beast::error_code error);
    void readBody();
    void readFailed(beast::error_code error);
    void respond();
    void checkFrame();
    void send(Response response);
    void onSent(beast::error_code error);
    void close();
    void drain();

    Server& server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::optional<Target> target_;
    http::response<http::empty_body> interim_;  // 100 Continue
    Response response_;
    asio::steady_timer frameTimer_;
    std::uint64_t after_ = 0;
    Clock::time_point frameDeadline_{};
    unsigned version_ = 11;
    bool head_ = false;
    bool keepAlive_ = false;
    bool idle_ = false;  // waiting for a request, or closing
};

// ---- Connection -------------------------------------------------------------------------------

void Connection::readHeader() {
    parser_.emplace();
    parser_->header_limit(kMaxHeaderBytes);
    // The body's limit is set once the request is let in: a refusal comes before a 413.  (Not
    // boost::none: Boost 1.74 compares a body's length with it as with a limit of 0.)
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    idle_ = true;
    stream_.expires_after(kKeepAlive);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                                self->onHeader(error);
                            });
}

void Connection::onHeader(beast::error_code error) {
    idle_ = false;
    if (error) return readFailed(error);
    const Request& req = parser_->get();
    version_ = req.version();
    head_ = req.method() == http::verb::head;
    keepAlive_ = req.keep_alive();
    target_.emplace(req.target());
    if (auto refused = server_.refusal(req, *target_)) {
        // Its body is not read: the connection cannot carry another request.
        keepAlive_ = false;
        return send(std::move(*refused));
    }
    if (parser_->is_done()) return respond();
    if (parser_->content_length().value_or(0) > kMaxBodyBytes) {
        keepAlive_ = false;
        return send(bodyTooBig());
    }
    parser_->body_limit(kMaxBodyBytes);
    if (!beast::iequals(req[http::field::expect], "100-continue")) return readBody();
    interim_ = {http::status::continue_, version_};
    stream_.expires_after(kTimeout);
    http::async_write(stream_, interim_,
                      [self = shared_from_this()](beast::error_code failed, std::size_t) {
                          if (!failed) self->readBody();
                      });
}

void Connection::readBody() {
    stream_.expires_after(kTimeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                         if (error) return self->readFailed(error);
                         self->respond();
                     });
}

// A client that went away, took too long or was cut off by the shutdown gets no answer; one
// whose request cannot be read gets a sentence, and the connection ends.
void Connection::readFailed(beast::error_code error) {
    keepAlive_ = false;
    if (error == http::error::body_limit) return send(bodyTooBig());
    if (error == http::error::header_limit)
        return send(sentence(http::status::request_header_fields_too_large,
                             fmt::format("a request's line and headers are at most {} KiB",
                                         kMaxHeaderBytes / 1024)));
    if (isHttpError(error) && error != http::error::end_of_stream &&
        error != http::error::partial_message)
        return send(sentence(http::status::bad_request, "the request could not be served"));
}

void Connection::respond() {
    const Request& req = parser_->get();
    if ((req.method() == http::verb::get || head_) && target_->path == "/api/frame") {
        const std::string text = target_->param("after");
        after_ = 0;
        if (!text.empty()) {
            if (text.size() > 19 || !std::all_of(text.begin(), text.end(), [](unsigned char c) {
                    return std::isdigit(c) != 0;
                }))
                return send(sentence(http::status::bad_request, "after must be a frame number"));
            after_ = std::stoull(text);
        }
        frameDeadline_ = Clock::now() + kFrameWait;
        return checkFrame();
    }
    std::optional<Response> answer;
    try {
        answer = server_.answer(req, *target_);
    } catch (const std::exception& failure) {
        answer = sentence(http::status::internal_server_error,
                          std::string("the server failed: ") + failure.what());
    }
    send(std::move(*answer));
}

void Connection::checkFrame() {
    if (const auto frame = server_.hub_.newerThan(after_))
        return send(content(frame->body, "application/octet-stream"));
    if (server_.hub_.closed() || Clock::now() >= frameDeadline_)
        return send(Response{http::status::no_content, 11});
    server_.frameWaiters_.insert(this);
    frameTimer_.expires_at(frameDeadline_);
    frameTimer_.async_wait([self = shared_from_this()](beast::error_code) {
        self->server_.frameWaiters_.erase(self.get());
        self->checkFrame();
    });
}

void Connection::send(Response response) {
    response_ = std::move(response);
    response_.version(version_);
    for (const auto& [name, value] : kPageHeaders) response_.set(name, value);
    keepAlive_ = keepAlive_ && !server_.stopping_;
    response_.keep_alive(keepAlive_);
    if (keepAlive_) response_.set("Keep-Alive", fmt::format("timeout={}", kKeepAlive.count()));
    response_.prepare_payload();
    if (head_ && response_.result() != http::status::no_content) {
        const auto length = response_.body().size();
        response_.body().clear();
        response_.content_length(length);
    }
    stream_.expires_after(kTimeout);
    http::async_write(stream_, response_,
                      [self = shared_from_this()](beast::error_code error, std::size_t) {
                          self->onSent(error);
                      });
}

void Connection::onSent(beast::error_code error) {
    if (error) return;  // the client is gone: so is the connection
    if (keepAlive_ && !server_.stopping_) return readHeader();
    close();
}

void Connection::close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    // Nothing of the client's left unread, and none to come: closed now.
    const bool requestRead = !parser_ || parser_->is_done();
    if (requestRead && stream_.socket().available(ignored) == 0) return;
    idle_ = true;
    stream_.expires_after(kLinger);
    drain();
}

// What the client still sends is read and dropped until it closes its side (or kLinger is up).
void Connection::drain() {
    stream_.async_read_some(buffer_.prepare(kLingerChunk),
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                                if (!error) self->drain();
                            });
}

// ---- Server -----------------------------------------------------------------------------------

int Server::bind() {
    beast::error_code error;
    tcp::resolver resolver(io_);
    const auto endpoints =
        resolver.resolve(options_.listen, std::to_string(options_.port),
                         tcp::resolver::passive | tcp::resolver::numeric_service, error);
    if (!error && !options_.listen.empty())
        for (const auto& entry : endpoints)
            if (listenOn(entry.endpoint())) return port_;
    throw ToolError(fmt::format(
        "could not listen on {} port {}: the port is taken or the address is not one of "
        "this machine's; choose another with --port or --listen",
        options_.listen, options_.port));
}

bool Server::listenOn(const tcp::endpoint& endpoint) {
    tcp::acceptor acceptor(io_);
    beast::error_code error;
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(HoldPortAlone(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(kListenBacklog, error);
    if (error) return false;
    port_ = acceptor.local_endpoint().port();
    acceptor_ = std::move(acceptor);
    return true;
}

void Server::start() {
    hub_.onChange([this] { asio::post(io_, [this] { wakeFrameWaiters(); }); });
    accept();
    thread_ = std::thread([this] { run(); });
}

void Server::run() {
    for (;;) {
        try {
            io_.run();
            return;
        } catch (...) {
            // What failed was one request's (its connection is gone): the others are served on.
        }
    }
}

void Server::stop() {
    hub_.close();
    if (thread_.joinable()) {
        asio::post(io_, [this] { shutDown(); });
        thread_.join();
    }
    // The thread has ended (or never ran): nothing new is started from here on.
    stopping_ = true;
    hub_.onChange(nullptr);
    beast::error_code ignored;
    acceptor_.close(ignored);
}

// The thread ends once every connection has: those between two requests are closed now, the
// requests waiting for a frame are answered (the hub is closed) and the others are finished.
void Server::shutDown() {
    stopping_ = true;
    beast::error_code ignored;
    acceptor_.close(ignored);
    acceptRetry_.cancel();
    waiting_.clear();
    for (Connection* connection : connections_) connection->stopIfIdle();
    wakeFrameWaiters();
}

// Serves kServedConnections at once and keeps up to kWaitingConnections waiting (accepted, not
// yet read); with that many, accepting waits for one of them to end.
void Server::accept() {
    if (stopping_ || accepting_ || !acceptor_.is_open() ||
        connections_.size() + waiting_.size() >= kServedConnections + kWaitingConnections)
        return;
    accepting_ = true;
    acceptor_.async_accept([this](beast::error_code error, tcp::socket socket) {
        accepting_ = false;
        if (stopping_) return;
        if (error) {
            acceptRetry_.expires_after(kAcceptRetry);
            acceptRetry_.async_wait([this](beast::error_code cancelled) {
                if (!cancelled) accept();
            });
            return;
        }
        // A frame's headers and body may leave in two writes: without this, the second would
        // wait for the page's acknowledgement of the first (Nagle and delayed ACK, some 40 ms).
        beast::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        if (connections_.size() < kServedConnections) {
            serve(std::move(socket));
        } else {
            waiting_.push_back(std::move(socket));
        }
        accept();
    });
}

void Server::serve(tcp::socket socket) {
    auto connection = std::make_shared<Connection>(*this, std::move(socket));
    connections_.insert(connection.get());
    connection->start();
}

void Server::ended(Connection& connection) {
    connections_.erase(&connection);
    frameWaiters_.erase(&connection);
    if (stopping_) return;
    if (!waiting_.empty()) {
        tcp::socket next = std::move(waiting_.front());
        waiting_.pop_front();
        serve(std::move(next));
    }
    accept();
}

void Server::wakeFrameWaiters() {
    for (Connection* connection : frameWaiters_) connection->frameChanged();
}

std::optional<Response> Server::refusal(const Request& req, const Target& target) const {
    const std::string host = lower(std::string(req[http::field::host]));
    const auto colon = host.rfind(':');
    const bool hasPort = colon != std::string::npos && host.find(']', colon) == std::string::npos;
    const std::string name = hasPort ? host.substr(0, colon) : host;
    const std::string port = hasPort ? host.substr(colon + 1) : "80";
    bool known = name == "localhost" || isIpv4Literal(name) || isIpv6Literal(name);
    for (const auto& allowed : options_.allowedHosts) known = known || name == lower(allowed);
    if (!known || port != std::to_string(port_))
        return sentence(http::status::forbidden,
                        "this server answers only to its IP address, localhost or a name "
                        "allowed with --allow-host, at its own port");

    if (req.find(http::field::origin) != req.end() &&
        lower(std::string(req[http::field::origin])) != "http://" + host)
        return sentence(http::status::forbidden, "requests from other sites are refused");
    const std::string_view site = req["Sec-Fetch-Site"];
    if (!site.empty() && site != "same-origin" && site != "none")
        return sentence(http::status::forbidden, "requests from other sites are refused");

    std::string given = target.param("token");
    if (given.empty()) given = std::string(req[kTokenHeader]);
    if (!sameSecret(given, options_.token))
        return sentence(http::status::unauthorized,
                        "this server needs its token: open the address tarvex view printed, "
                        "with its ?token=...");

    if (req.method() == http::verb::post &&
        !req[http::field::content_type].starts_with("application/json"))
        return sentence(http::status::unsupported_media_type,
                        "a request that changes something sends JSON (Content-Type: "
                        "application/json)");
    return std::nullopt;
}

Response Server::answer(const Request& req, const Target& target) {
    const std::string& path = target.path;
    if (req.method() == http::verb::get || req.method() == http::verb::head) {
        for (const ViewAsset& asset : viewAssets()) {
            if (path != asset.path) continue;
            std::string text(asset.content);
            // The page's own files are asked for with the token too.
            for (std::size_t at; (at = text.find("{{token}}")) != std::string::npos;)
                text.replace(at, 9, options_.token);
            return content(std::move(text), asset.contentType);
        }
        if (path == "/api/config") return content(pageConfig().dump(), "application/json");
        if (path == "/api/state")
            return content(acquisition_.stateJson().dump(), "application/json");
        if (path == "/api/points.csv") {
            const auto frame = hub_.latest();
            if (!frame || !frame->points)
                return sentence(http::status::not_found, "no eye has been captured yet");
            Response res = content(pointsCsv(*frame->points), "text/csv");
            res.set(http::field::content_disposition,
                    fmt::format("attachment; filename=\"eye-{}.csv\"", frame->points->seq));
            return res;
        }
    } else if (req.method() == http::verb::post) {
        if (path == "/api/settings") {
            const auto changed = acquisition_.changeSettings(req.body());
            if (!changed.value) return sentence(http::status::bad_request, changed.error);
            return content(Json{{"settings", settingsJson(*changed.value)}}.dump(),
                           "application/json");
        }
        if (path == "/api/mask") {
            auto mask = parseMaskRequest(req.body());
            if (!mask.value) return sentence(http::status::bad_request, mask.error);
            const Json answer = {{"mask", maskStateJson(*mask.value)}};
            acquisition_.setMask(std::move(*mask.value));
            return content(answer.dump(), "application/json");
        }
    }
    return sentence(http::status::not_found, "there is nothing at this address");
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


struct ViewServer::Impl final : Server {
    using Server::Server;
};

ViewServer::ViewServer(ViewServerOptions options, Acquisition& acquisition, FrameHub& hub)
    : impl_(std::make_unique<Impl>(std::move(options), acquisition, hub)) {}

ViewServer::~ViewServer() = default;

int ViewServer::bind() { return impl_->bind(); }

void ViewServer::start() { impl_->start(); }

void ViewServer::stop() { impl_->stop(); }

int ViewServer::port() const { return impl_->port(); }

std::string ViewServer::url() const {
    std::string host = impl_->options().listen;
    if (host == "0.0.0.0") host = "127.0.0.1";
    if (host == "::") host = "[::1]";
    if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
    return fmt::format("http://{}:{}/?token={}", host, impl_->port(), impl_->options().token);
}

}  // namespace tarvex::cli
