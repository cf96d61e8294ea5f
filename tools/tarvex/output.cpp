#include "output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fmt/format.h>

#include "console.h"
#include "errors.h"

namespace tarvex::cli {

namespace {
std::FILE* resultStream = nullptr;
}

std::FILE* results() { return resultStream != nullptr ? resultStream : stdout; }

void keepResultsApart() {
    if (resultStream != nullptr) return;
    std::fflush(stdout);
    std::FILE* stream = divertStandardOutput();
    if (stream == nullptr) return;
    resultStream = stream;
    // The library's diagnostics have no line end: unbuffered, they show when they happen.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void Output::result(const Json& record, const std::function<void()>& text) const {
    if (json_) {
        // One compact line per result, so that a stream of them (ping --count) reads as JSON Lines.
        fmt::print(results(), "{}\n", record.dump(-1, ' ', false, Json::error_handler_t::replace));
    } else if (text) {
        text();
    }
    std::fflush(results());
}

void Output::line(const std::string& text) { fmt::print(results(), "{}\n", text); }

void Output::fields(const Fields& fields) {
    std::size_t width = 0;
    for (const auto& [name, value] : fields) width = std::max(width, name.size());
    for (const auto& [name, value] : fields)
        fmt::print(results(), "{:<{}}  {}\n", name, width, value);
}

OutputFile::OutputFile(std::string path, bool binary) : path_(std::move(path)) {
    if (isStdout()) {
        file_ = results();
        return;
    }
    file_ = std::fopen(path_.c_str(), binary ? "wb" : "w");
    if (file_ == nullptr)
        throw ToolError(fmt::format("cannot write {}: {}", path_, std::strerror(errno)));
}

OutputFile::~OutputFile() {
    if (isStdout()) return;
    if (file_ != nullptr) std::fclose(file_);
    if (!kept_) std::remove(path_.c_str());
}

void OutputFile::close() {
    if (isStdout()) {
        std::fflush(results());
        return;
    }
    if (file_ == nullptr) return;
    const bool failed = std::ferror(file_) != 0;
    const bool closeFailed = std::fclose(file_) != 0;
    file_ = nullptr;
    if (failed || closeFailed)
        throw ToolError(fmt::format("could not write {}: {}", path_, std::strerror(errno)));
}

void OutputFile::keep() {
    close();
    kept_ = true;
}

void note(const std::string& text) {
    std::fflush(results());
    fmt::print(stderr, "tarvex: {}\n", text);
}

}  // namespace tarvex::cli
