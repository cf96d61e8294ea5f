#include "view/view_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace tarvex::cli::test {

namespace {

std::uint32_t uint32At(const std::string& body, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(body[at + i]);
    return value;
}

std::uint64_t leb128(const std::string& bytes, std::size_t& at) {
    std::uint64_t value = 0;
    for (int shift = 0; at < bytes.size(); shift += 7) {
        const auto byte = static_cast<std::uint8_t>(bytes[at++]);
        value |= std::uint64_t{byte & 0x7Fu} << shift;
        if ((byte & 0x80) == 0) return value;
    }
    ADD_FAILURE() << "a packed number runs past its grid";
    return value;
}

}  // namespace

Frame decodeFrame(const std::string& body) {
    Frame frame;
    if (body.size() < 16 || body.compare(0, 4, "TVX1") != 0) {
        ADD_FAILURE() << "not a frame";
        return frame;
    }
    const std::size_t json = uint32At(body, 4), hits = uint32At(body, 8), fails = uint32At(body, 12);
    EXPECT_EQ(body.size(), 16 + json + hits + fails);
    frame.header = nlohmann::json::parse(body.substr(16, json));
    const std::string grid = body.substr(16 + json, hits);
    std::size_t cell = 0;
    for (std::size_t at = 0; at < grid.size();) {
        cell += leb128(grid, at) + (frame.cells == 0 ? 0 : 1);
        const std::uint64_t n = leb128(grid, at);
        EXPECT_GT(n, 0u) << "an empty cell was sent";
        frame.hitTotal += n;
        ++frame.cells;
    }
    frame.lastCell = cell;
    const std::string inside = body.substr(16 + json + hits, fails);
    for (std::size_t at = 0; at < inside.size();) {
        leb128(inside, at);
        frame.failTotal += leb128(inside, at);
    }
    return frame;
}

httplib::Result ViewClient::get(const std::string& path, httplib::Headers headers, bool withToken) {
    if (withToken) headers.emplace("X-Tarvex-Token", token_);
    return client_.Get(path, headers);
}

httplib::Result ViewClient::post(const std::string& path, const std::string& body,
                                 const std::string& contentType, httplib::Headers headers) {
    headers.emplace("X-Tarvex-Token", token_);
    return client_.Post(path, headers, body, contentType);
}

nlohmann::json ViewClient::state() {
    const auto result = get("/api/state");
    if (!result || result->status != 200) {
        ADD_FAILURE() << "no state";
        return {};
    }
    return nlohmann::json::parse(result->body);
}

Frame ViewClient::frameWhere(const std::function<bool(const Frame&)>& wanted, std::uint64_t after) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto result = get("/api/frame?after=" + std::to_string(after));
        if (!result) continue;
        if (result->status == 204) continue;
        EXPECT_EQ(result->status, 200);
        Frame frame = decodeFrame(result->body);
        after = frame.header.value("seq", after);
        if (wanted(frame)) return frame;
    }
    ADD_FAILURE() << "no frame as wanted within 10 s";
    return {};
}

}  // namespace tarvex::cli::test
