#include "view/view_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

namespace tarvex::cli::test {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

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

std::string Response::header(const std::string& name) const {
    for (const auto& [field, value] : headers)
        if (beast::iequals(field, name)) return value;
    return {};
}

Result ViewClient::get(const std::string& path, Headers headers, bool withToken) {
    if (withToken) headers.emplace("X-Tarvex-Token", token_);
    return request(false, path, {}, {}, headers);
}

Result ViewClient::post(const std::string& path, const std::string& body,
                        const std::string& contentType, Headers headers) {
    headers.emplace("X-Tarvex-Token", token_);
    return request(true, path, body, contentType, headers);
}

Result ViewClient::request(bool post, const std::string& path, const std::string& body,
                           const std::string& contentType, const Headers& headers) {
    asio::io_context io;
    beast::tcp_stream stream(io);
    // Every step within the one deadline: a server that does not answer fails the request.
    stream.expires_after(std::chrono::seconds(5));
    beast::error_code error;
    const auto done = [&](beast::error_code result, auto&&...) { error = result; };
    const auto step = [&] {
        io.run();
        io.restart();
        return !error;
    };

    stream.async_connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port_)},
                         done);
    if (!step()) return std::nullopt;
    http::request<http::string_body> req{post ? http::verb::post : http::verb::get, path, 11};
    req.set(http::field::host, "127.0.0.1:" + std::to_string(port_));
    for (const auto& [name, value] : headers) {
        if (beast::iequals(name, "Host")) {
            req.set(http::field::host, value);
        } else {
            req.insert(name, value);
        }
    }
    if (post) {
        req.set(http::field::content_type, contentType);
        req.body() = body;
    }
    req.keep_alive(false);
    req.prepare_payload();
    http::async_write(stream, req, done);
    // A server that refuses a request early may stop reading it: its answer is read all the
    // same.
    step();
    beast::flat_buffer buffer;
    http::response<http::string_body> res;
    http::async_read(stream, buffer, res, done);
    if (!step()) return std::nullopt;
    Response response;
    response.status = static_cast<int>(res.result_int());
    response.body = std::move(res.body());
    for (const auto& field : res)
        response.headers.emplace(std::string(field.name_string()), std::string(field.value()));
    return response;
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
