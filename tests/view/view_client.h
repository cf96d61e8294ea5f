// A client of the view's server for the tests: requests with or without the token, and the
// frames it sends decoded independently of the server's code.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace tarvex::cli::test {

struct Frame {
    nlohmann::json header;
    std::uint64_t hitTotal = 0;   // hits summed over the grid
    std::uint64_t failTotal = 0;  // hits of the samples inside the mask
    std::size_t cells = 0;        // cells with hits
    std::size_t lastCell = 0;     // index of the last one
};

// The frame message decoded ("TVX1", three lengths, JSON, two packed grids); fails the test if
// it is malformed.
Frame decodeFrame(const std::string& body);

// Header fields to send (a Host among them replaces the client's own).
using Headers = std::multimap<std::string, std::string>;

struct Response {
    int status = 0;
    std::string body;
    Headers headers;  // names as the server wrote them

    // The first field called `name` (in any case), or "".
    std::string header(const std::string& name) const;
};

// No value when the server could not be reached or sent no whole answer within 5 s.
using Result = std::optional<Response>;

// Each request on a connection of its own, which the client closes after the answer.
class ViewClient {
public:
    ViewClient(int port, std::string token) : port_(port), token_(std::move(token)) {}

    Result get(const std::string& path, Headers headers = {}, bool withToken = true);
    Result post(const std::string& path, const std::string& body,
                const std::string& contentType = "application/json", Headers headers = {});
    nlohmann::json state();
    // The first frame after `after` that `wanted` accepts, within 10 s (fails the test if none).
    Frame frameWhere(const std::function<bool(const Frame&)>& wanted, std::uint64_t after = 0);

private:
    Result request(bool post, const std::string& path, const std::string& body,
                   const std::string& contentType, const Headers& headers);

    int port_;
    std::string token_;
};

}  // namespace tarvex::cli::test
