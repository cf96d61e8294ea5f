// The HTTP side of `tarvex view`: the page, its JSON API and the frames, behind the checks that
// keep other sites and other machines out.
//
// Every request must carry the token (in the query, ?token=..., or the X-Tarvex-Token header):
// 401 without it.  Its Host must name this server by an IP address, "localhost" or a name
// allowed with --allow-host, at this server's port (a DNS name that was made to point here
// cannot be used to reach it), and an Origin or Sec-Fetch-Site header, when a browser sends
// one, must say the request comes from the page itself: 403 otherwise.  Requests that change
// anything are POSTs of JSON (415 for another type) whose fields are all checked (400 and one
// sentence); bodies are limited to 64 KiB (413), a request's line and headers to 8 KiB (431),
// and connections to 8 served at once with 16 waiting.  The page can reach only what it offers:
// settings, the mask, frames, the points and its own files.
//
// The server is Boost.Beast over Boost.Asio, the same code on Linux and on Windows (Winsock):
// one thread of its own serves every connection, none of them blocking it (a request for a
// frame waits on a timer, not on the thread).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tarvex::cli {

class Acquisition;
class FrameHub;

// The port `tarvex view` listens on unless told otherwise ("TV" on a phone keypad is 88; 8427
// is free of the well-known services).
constexpr int kDefaultViewPort = 8427;

struct ViewServerOptions {
    std::string listen = "127.0.0.1";  // the address to listen on
    int port = kDefaultViewPort;       // 0: any free port
    std::string token;                 // required on every request
    std::vector<std::string> allowedHosts;  // host names besides IP addresses and localhost
};

// A random token: 128 bits as 32 hex digits.
std::string makeViewToken();
// Empty when `token` can serve as a token, else why not.
std::string tokenProblem(const std::string& token);

class ViewServer {
public:
    ViewServer(ViewServerOptions options, Acquisition& acquisition, FrameHub& hub);
    ~ViewServer();
    ViewServer(const ViewServer&) = delete;
    ViewServer& operator=(const ViewServer&) = delete;

    // Takes the address and port; throws a ToolError that says why when it cannot.  Returns
    // the port.
    int bind();
    // Serves on a thread of its own until stop().
    void start();
    // Ends the requests waiting for frames, closes the listening socket and joins.
    void stop();

    int port() const;
    // The address to open, token included.
    std::string url() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarvex::cli
