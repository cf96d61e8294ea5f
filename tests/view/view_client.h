// A client of the view's server for the tests: requests with or without the token, and the
// frames it sends decoded independently of the server's code.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <functional>
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

class ViewClient {
public:
    ViewClient(int port, std::string token) : client_("127.0.0.1", port), token_(std::move(token)) {
        client_.set_read_timeout(std::chrono::seconds(5));
    }

    httplib::Result get(const std::string& path, httplib::Headers headers = {}, bool withToken = true);
    httplib::Result post(const std::string& path, const std::string& body,
                         const std::string& contentType = "application/json",
                         httplib::Headers headers = {});
    nlohmann::json state();
    // The first frame after `after` that `wanted` accepts, within 10 s (fails the test if none).
    Frame frameWhere(const std::function<bool(const Frame&)>& wanted, std::uint64_t after = 0);

private:
    httplib::Client client_;
    std::string token_;
};

}  // namespace tarvex::cli::test
