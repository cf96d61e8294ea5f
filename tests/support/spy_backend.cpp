#include "support/spy_backend.h"

namespace tarvex::testing {

using platform::Handle;

std::size_t SpyBackend::count(const std::string& op) const {
    std::size_t n = 0;
    for (const auto& c : calls) n += c.op == op;
    return n;
}

std::vector<Call> SpyBackend::of(const std::string& op) const {
    std::vector<Call> found;
    for (const auto& c : calls)
        if (c.op == op) found.push_back(c);
    return found;
}

bool SpyBackend::sawInvalidHandle() const {
    for (const auto& c : calls)
        if (c.handle == platform::invalidHandle() && c.op != "getClassDevs") return true;
    return false;
}

std::size_t SpyBackend::fileCalls() const {
    return count("createFile") + count("readFile") + count("writeFile") +
           count("deviceIoControl") + count("cancelIo") + count("getOverlappedResult");
}

Call& SpyBackend::note(const char* op, Handle handle) {
    Call& c = calls.emplace_back();
    c.op = op;
    c.handle = handle;
    return c;
}

Call& SpyBackend::noteTransfer(const char* op, Handle file, const void* buffer,
                               std::uint32_t length, const platform::Overlapped* overlapped) {
    Call& c = note(op, file);
    c.out = buffer;
    c.length = length;
    c.overlapped = overlapped != nullptr;
    return c;
}

}  // namespace tarvex::testing
