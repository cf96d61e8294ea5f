#include "record/replayer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace tarvex::record {
namespace {

thread_local std::uint32_t lastError = platform::kErrorSuccess;

// A field of a recorded line, or `fallback` when it is missing or of another type (a recording
// edited by hand must not crash the program that replays it).
template <class T>
T field(const Json& object, const char* key, T fallback) {
    if (!object.is_object()) return fallback;
    const auto it = object.find(key);
    if (it == object.end()) return fallback;
    try {
        return it->get<T>();
    } catch (const Json::exception&) {
        return fallback;
    }
}

std::string dumped(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A call as a sentence shows it: its name and its inputs, cut short.
std::string described(const std::string& call, const Json& in) {
    constexpr std::size_t kLongest = 240;
    std::string text = call + " " + dumped(in);
    if (text.size() > kLongest) text = text.substr(0, kLongest) + "...";
    return text;
}

const Json& outputs(const Json& line) {
    static const Json kNone = Json::object();
    const auto it = line.find("out");
    return it != line.end() && it->is_object() ? *it : kNone;
}

}  // namespace

Replayer::Replayer(const std::string& path) : path_(path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        loadProblem_ = "cannot replay " + path + ": it cannot be read";
        return;
    }
    std::string text;
    for (std::size_t number = 1; std::getline(file, text); ++number) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.empty()) continue;
        Json line = Json::parse(text, nullptr, false);
        if (line.is_discarded() || !line.is_object()) {
            loadProblem_ = "cannot replay " + path + ": line " + std::to_string(number) +
                           " is not a JSON object";
            return;
        }
        if (number == 1) {
            if (field<std::string>(line, "format", "") != kFormatName) {
                loadProblem_ = "cannot replay " + path + ": it is not a recording of Tarvex's "
                               "platform calls (its first line names no format " +
                               std::string(kFormatName) + ")";
                return;
            }
            const int version = field<int>(line, "version", 0);
            if (version < 1 || version > kFormatVersion) {
                loadProblem_ = "cannot replay " + path + ": it is in version " +
                               std::to_string(version) + " of the format, and this replay reads "
                               "version " + std::to_string(kFormatVersion);
                return;
            }
            dataSize_ = field<std::uint32_t>(line, "deviceInterfaceDataSize", dataSize_);
            detailSize_ = field<std::uint32_t>(line, "deviceInterfaceDetailSize", detailSize_);
            continue;
        }
        if (field<std::size_t>(line, "n", 0) != calls_.size() + 1 || !line.contains("call")) {
            loadProblem_ = "cannot replay " + path + ": line " + std::to_string(number) +
                           " is not call " + std::to_string(calls_.size() + 1);
            return;
        }
        calls_.push_back(std::move(line));
    }
    if (calls_.empty() && loadProblem_.empty() && file.bad())
        loadProblem_ = "cannot replay " + path + ": it cannot be read";
}

std::string Replayer::departure() const {
    std::lock_guard lock(mutex_);
    return departure_;
}

std::size_t Replayer::callsLeft() const {
    std::lock_guard lock(mutex_);
    return calls_.size() - cursor_;
}

void Replayer::depart(std::string sentence) {
    departure_ = "tarvex replay: " + sentence + "; every call from here on fails with error " +
                 std::to_string(kErrorReplayDeparted);
    std::fprintf(stderr, "%s\n", departure_.c_str());
    std::fflush(stderr);
}

std::optional<Json> Replayer::next(const char* call, const std::function<Json()>& in) {
    std::lock_guard lock(mutex_);
    lastError = kErrorReplayDeparted;
    if (!departure_.empty()) return std::nullopt;
    if (!loadProblem_.empty()) {
        depart(loadProblem_);
        return std::nullopt;
    }
    const Json asked = in();
    const std::size_t number = cursor_ + 1;
    if (cursor_ >= calls_.size()) {
        depart("the program departs from the recording at call " + std::to_string(number) +
               ": it called " + described(call, asked) + " where the recording holds no call (it "
               "ends at call " + std::to_string(calls_.size()) + ")");
        return std::nullopt;
    }
    const Json& recorded = calls_[cursor_];
    const std::string recordedCall = field<std::string>(recorded, "call", "");
    const Json recordedIn = recorded.contains("in") ? recorded["in"] : Json();
    if (recordedCall != call || dumped(recordedIn) != dumped(asked)) {
        depart("the program departs from the recording at call " + std::to_string(number) +
               ": it called " + described(call, asked) + " where the recording holds " +
               described(recordedCall, recordedIn));
        return std::nullopt;
    }
    ++cursor_;
    lastError = field<std::uint32_t>(recorded, "error", platform::kErrorSuccess);
    return recorded;
}

platform::Handle Replayer::handOut(const Json& recorded) {
    const std::string name = recorded.is_string() ? recorded.get<std::string>() : "null";
    if (name == "null") return nullptr;
    if (name == "invalid") return platform::invalidHandle();
    std::lock_guard lock(mutex_);
    nextValue_ += 8;
    auto* handle = reinterpret_cast<platform::Handle>(nextValue_);
    names_.add(handle);
    return handle;
}

bool Replayer::failed() {
    lastError = kErrorReplayDeparted;
    return false;
}

void Replayer::remember(platform::Overlapped* overlapped, void* buffer, std::uint32_t length) {
    if (!overlapped) return;
    std::lock_guard lock(mutex_);
    targets_[overlapped] = {buffer, length};
}

void Replayer::restore(const Json& out, platform::Overlapped* overlapped) {
    const auto it = out.find("overlapped");
    if (!overlapped || it == out.end() || !it->is_array() || it->size() != 2) return;
    try {
        overlapped->internal = (*it)[0].get<std::uintptr_t>();
        overlapped->internalHigh = (*it)[1].get<std::uintptr_t>();
    } catch (const Json::exception&) {
    }
}

void Replayer::copyBytes(const Json& out, const char* name, void* buffer, std::uint32_t room) {
    if (!buffer) return;
    const auto bytes = bytesOf(field<std::string>(out, name, ""));
    if (!bytes || bytes->empty()) return;
    std::memcpy(buffer, bytes->data(), std::min<std::size_t>(bytes->size(), room));
}

// ---- device-interface snapshots ----

platform::DevInfo Replayer::getClassDevs(const platform::Guid& interfaceClass,
                                         std::uint32_t flags) {
    const auto line =
        next("getClassDevs", [&] { return inputs::getClassDevs(interfaceClass, flags); });
    if (!line) return platform::invalidHandle();
    return handOut((*line)["result"]);
}

bool Replayer::enumDeviceInterfaces(platform::DevInfo set, const platform::Guid& interfaceClass,
                                    std::uint32_t memberIndex,
                                    platform::DeviceInterfaceData* data) {
    const auto line = next("enumDeviceInterfaces", [&] {
        return inputs::enumDeviceInterfaces(names_, set, interfaceClass, memberIndex, data);
    });
    if (!line) return failed();
    const bool done = field<bool>(*line, "result", false);
    if (done && data) {
        data->interfaceClassGuid = interfaceClass;
        data->flags = field<std::uint32_t>(outputs(*line), "flags", 0);
        data->reserved = std::uintptr_t{memberIndex} + 1;
    }
    return done;
}

bool Replayer::getDeviceInterfaceDetail(platform::DevInfo set, platform::DeviceInterfaceData* data,
                                        void* detail, std::uint32_t detailSize,
                                        std::uint32_t* requiredSize) {
    const auto line = next("getDeviceInterfaceDetail", [&] {
        return inputs::getDeviceInterfaceDetail(names_, set, data, detail, detailSize,
                                                requiredSize);
    });
    if (!line) return failed();
    const Json& out = outputs(*line);
    if (requiredSize) *requiredSize = field<std::uint32_t>(out, "requiredSize", *requiredSize);
    const bool done = field<bool>(*line, "result", false);
    if (done && detail && detailSize > platform::kDetailPathOffset) {
        const std::string path = field<std::string>(out, "path", "");
        const std::size_t room = detailSize - platform::kDetailPathOffset - 1;
        char* target = static_cast<char*>(detail) + platform::kDetailPathOffset;
        const std::size_t n = std::min(path.size(), room);
        std::memcpy(target, path.data(), n);
        target[n] = '\0';
    }
    return done;
}

bool Replayer::destroyDeviceInfoList(platform::DevInfo set) {
    const auto line =
        next("destroyDeviceInfoList", [&] { return inputs::handle(names_, set); });
    return line ? field<bool>(*line, "result", false) : failed();
}

// ---- registry ----

long Replayer::regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                          platform::RegKey* key) {
    const auto line =
        next("regOpenKey", [&] { return inputs::regOpenKey(subKey, options, access, key); });
    if (!line) return static_cast<long>(kErrorReplayDeparted);
    const long code = field<long>(*line, "result", static_cast<long>(kErrorReplayDeparted));
    const Json& out = outputs(*line);
    if (code == 0 && key && out.contains("key")) *key = handOut(out["key"]);
    return code;
}

long Replayer::regQueryValue(platform::RegKey key, const char* valueName, std::uint32_t* type,
                             std::uint8_t* data, std::uint32_t* size) {
    const std::uint32_t room = size ? *size : 0;
    const auto line = next("regQueryValue", [&] {
        return inputs::regQueryValue(names_, key, valueName, type, data, size);
    });
    if (!line) return static_cast<long>(kErrorReplayDeparted);
    const Json& out = outputs(*line);
    if (type) *type = field<std::uint32_t>(out, "type", *type);
    if (size) *size = field<std::uint32_t>(out, "size", *size);
    copyBytes(out, "data", data, room);
    return field<long>(*line, "result", static_cast<long>(kErrorReplayDeparted));
}

long Replayer::regCloseKey(platform::RegKey key) {
    const auto line = next("regCloseKey", [&] { return inputs::handle(names_, key); });
    if (!line) return static_cast<long>(kErrorReplayDeparted);
    return field<long>(*line, "result", static_cast<long>(kErrorReplayDeparted));
}

// ---- files and overlapped I/O ----

platform::Handle Replayer::createFile(const char* name, std::uint32_t access,
                                      std::uint32_t shareMode, std::uint32_t disposition,
                                      std::uint32_t flags) {
    const auto line = next("createFile", [&] {
        return inputs::createFile(name, access, shareMode, disposition, flags);
    });
    if (!line) return platform::invalidHandle();
    return handOut((*line)["result"]);
}

bool Replayer::readFile(platform::Handle file, void* buffer, std::uint32_t length,
                        std::uint32_t* count, platform::Overlapped* overlapped) {
    const auto line = next("readFile", [&] {
        return inputs::transfer(names_, file, buffer, length, nullptr, count, overlapped);
    });
    if (!line) return failed();
    const Json& out = outputs(*line);
    if (count) *count = field<std::uint32_t>(out, "count", 0);
    restore(out, overlapped);
    const bool done = field<bool>(*line, "result", false);
    if (done)
        copyBytes(out, "data", buffer, length);
    else
        remember(overlapped, buffer, length);
    return done;
}

bool Replayer::writeFile(platform::Handle file, const void* buffer, std::uint32_t length,
                         std::uint32_t* count, platform::Overlapped* overlapped) {
    const auto line = next("writeFile", [&] {
        return inputs::transfer(names_, file, buffer, length, buffer, count, overlapped);
    });
    if (!line) return failed();
    const Json& out = outputs(*line);
    if (count) *count = field<std::uint32_t>(out, "count", 0);
    restore(out, overlapped);
    return field<bool>(*line, "result", false);
}

bool Replayer::deviceIoControl(platform::Handle file, std::uint32_t code, void* in,
                               std::uint32_t inSize, void* out, std::uint32_t outSize,
                               std::uint32_t* returned, platform::Overlapped* overlapped) {
    const auto line = next("deviceIoControl", [&] {
        return inputs::deviceIoControl(names_, file, code, in, inSize, out, outSize, returned,
                                       overlapped);
    });
    if (!line) return failed();
    const Json& outputs = record::outputs(*line);
    if (returned) *returned = field<std::uint32_t>(outputs, "returned", 0);
    restore(outputs, overlapped);
    const bool done = field<bool>(*line, "result", false);
    if (done)
        copyBytes(outputs, "data", out, outSize);
    else
        remember(overlapped, out, outSize);
    return done;
}

bool Replayer::getOverlappedResult(platform::Handle file, platform::Overlapped* overlapped,
                                   std::uint32_t* count, bool wait) {
    const auto line = next("getOverlappedResult", [&] {
        return inputs::getOverlappedResult(names_, file, overlapped, count, wait);
    });
    if (!line) return failed();
    const Json& out = outputs(*line);
    if (count) *count = field<std::uint32_t>(out, "count", 0);
    restore(out, overlapped);
    const bool done = field<bool>(*line, "result", false);
    if (overlapped && (done || lastError != platform::kErrorIoIncomplete)) {
        std::optional<Target> target;
        {
            std::lock_guard lock(mutex_);
            if (auto it = targets_.find(overlapped); it != targets_.end()) {
                target = it->second;
                targets_.erase(it);
            }
        }
        if (target) copyBytes(out, "data", target->buffer, target->length);
    }
    return done;
}

bool Replayer::cancelIo(platform::Handle file) {
    const auto line = next("cancelIo", [&] { return inputs::handle(names_, file); });
    return line ? field<bool>(*line, "result", false) : failed();
}

bool Replayer::closeHandle(platform::Handle object) {
    const auto line = next("closeHandle", [&] { return inputs::handle(names_, object); });
    return line ? field<bool>(*line, "result", false) : failed();
}

// ---- events, waits, the rest ----

platform::Handle Replayer::createEvent(bool manualReset, bool initialState) {
    const auto line =
        next("createEvent", [&] { return inputs::createEvent(manualReset, initialState); });
    if (!line) return nullptr;
    return handOut((*line)["result"]);
}

bool Replayer::resetEvent(platform::Handle event) {
    const auto line = next("resetEvent", [&] { return inputs::handle(names_, event); });
    return line ? field<bool>(*line, "result", false) : failed();
}

std::uint32_t Replayer::waitForSingleObject(platform::Handle object, std::uint32_t timeoutMs) {
    const auto line = next("waitForSingleObject", [&] {
        return inputs::waitForSingleObject(names_, object, timeoutMs);
    });
    if (!line) return platform::kWaitFailed;
    return field<std::uint32_t>(*line, "result", platform::kWaitFailed);
}

std::uint32_t Replayer::getLastError() { return lastError; }
void Replayer::setLastError(std::uint32_t code) { lastError = code; }

// The recorded time passes at once: a replay does not wait.
void Replayer::sleep(std::uint32_t ms) {
    next("sleep", [&] { return inputs::sleep(ms); });
}

int Replayer::messageBox(const char* text, const char* caption, std::uint32_t style) {
    const auto line = next("messageBox", [&] { return inputs::messageBox(text, caption, style); });
    if (!line) return 0;
    return field<int>(*line, "result", 0);
}

}  // namespace tarvex::record
