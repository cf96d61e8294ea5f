#include "record/recorder.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace tarvex::record {
namespace {

constexpr const char* kSystem =
#if defined(_WIN32)
    "windows";
#elif defined(__linux__)
    "linux";
#elif defined(__APPLE__)
    "macos";
#else
    "other";
#endif

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    char text[32] = "";
    if (const std::tm* utc = std::gmtime(&now))
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    return text;
}

long long micros(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
}

std::string dumped(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

Recorder::Recorder(platform::Backend& inner, const std::string& path, const std::string& program)
    : inner_(inner), started_(Clock::now()) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        problem_ = "cannot write the recording " + path + ": " + std::strerror(errno);
        return;
    }
    const Json header = {{"format", kFormatName},
                         {"version", kFormatVersion},
                         {"system", kSystem},
                         {"pointerBits", 8 * sizeof(void*)},
                         {"deviceInterfaceDataSize", inner_.deviceInterfaceDataSize()},
                         {"deviceInterfaceDetailSize", inner_.deviceInterfaceDetailSize()},
                         {"program", program},
                         {"started", utcNow()}};
    const std::string line = dumped(header) + '\n';
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0)
        problem_ = "cannot write the recording " + path + ": " + std::strerror(errno);
}

Recorder::~Recorder() {
    if (file_) std::fclose(file_);
}

bool Recorder::ok() const {
    std::lock_guard lock(mutex_);
    return problem_.empty();
}

std::string Recorder::problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

std::size_t Recorder::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

Recorder::Call Recorder::begin(const char* name, const std::function<Json()>& in) const {
    std::lock_guard lock(mutex_);
    return {name, in(), Clock::now()};
}

void Recorder::write(const Call& call, const std::function<void(Json&, Json&)>& fill) {
    const Clock::time_point end = Clock::now();
    const std::uint32_t error = inner_.getLastError();
    {
        std::lock_guard lock(mutex_);
        Json result;
        Json out = Json::object();
        fill(result, out);
        Json line = {{"n", ++calls_},
                     {"call", call.name},
                     {"in", call.in},
                     {"result", result},
                     {"error", error},
                     {"t", micros(call.start - started_)},
                     {"us", micros(end - call.start)}};
        if (!out.empty()) line["out"] = std::move(out);
        if (file_ && problem_.empty()) {
            const std::string text = dumped(line) + '\n';
            if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() ||
                std::fflush(file_) != 0)
                problem_ = std::string("cannot write the recording: ") + std::strerror(errno);
        }
    }
    // Writing may have touched the thread's last-error code (it does on Windows).
    inner_.setLastError(error);
}

void Recorder::remember(const platform::Overlapped* overlapped, const void* buffer,
                        std::uint32_t length) {
    if (overlapped) targets_[overlapped] = {buffer, length};
}

Json Recorder::overlappedState(const platform::Overlapped* overlapped) {
    return {overlapped->internal, overlapped->internalHigh};
}

// ---- sizes: facts of the platform, in the recording's first line ----

std::uint32_t Recorder::deviceInterfaceDataSize() const { return inner_.deviceInterfaceDataSize(); }
std::uint32_t Recorder::deviceInterfaceDetailSize() const {
    return inner_.deviceInterfaceDetailSize();
}

// ---- device-interface snapshots ----

platform::DevInfo Recorder::getClassDevs(const platform::Guid& interfaceClass,
                                         std::uint32_t flags) {
    const Call call = begin("getClassDevs", [&] { return inputs::getClassDevs(interfaceClass, flags); });
    platform::DevInfo set = inner_.getClassDevs(interfaceClass, flags);
    write(call, [&](Json& result, Json&) { result = names_.add(set); });
    return set;
}

bool Recorder::enumDeviceInterfaces(platform::DevInfo set, const platform::Guid& interfaceClass,
                                    std::uint32_t memberIndex,
                                    platform::DeviceInterfaceData* data) {
    const Call call = begin("enumDeviceInterfaces", [&] {
        return inputs::enumDeviceInterfaces(names_, set, interfaceClass, memberIndex, data);
    });
    const bool done = inner_.enumDeviceInterfaces(set, interfaceClass, memberIndex, data);
    write(call, [&](Json& result, Json& out) {
        result = done;
        if (done && data) {
            out["class"] = guidText(data->interfaceClassGuid);
            out["flags"] = data->flags;
        }
    });
    return done;
}

bool Recorder::getDeviceInterfaceDetail(platform::DevInfo set, platform::DeviceInterfaceData* data,
                                        void* detail, std::uint32_t detailSize,
                                        std::uint32_t* requiredSize) {
    const Call call = begin("getDeviceInterfaceDetail", [&] {
        return inputs::getDeviceInterfaceDetail(names_, set, data, detail, detailSize,
                                                requiredSize);
    });
    const bool done = inner_.getDeviceInterfaceDetail(set, data, detail, detailSize, requiredSize);
    write(call, [&](Json& result, Json& out) {
        result = done;
        if (requiredSize) out["requiredSize"] = *requiredSize;
        if (done && detail && detailSize > platform::kDetailPathOffset) {
            const char* path = static_cast<const char*>(detail) + platform::kDetailPathOffset;
            out["path"] = std::string(path, strnlen(path, detailSize - platform::kDetailPathOffset));
        }
    });
    return done;
}

bool Recorder::destroyDeviceInfoList(platform::DevInfo set) {
    const Call call = begin("destroyDeviceInfoList", [&] { return inputs::handle(names_, set); });
    const bool done = inner_.destroyDeviceInfoList(set);
    write(call, [&](Json& result, Json&) { result = done; });
    return done;
}

// ---- registry ----

long Recorder::regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                          platform::RegKey* key) {
    const Call call =
        begin("regOpenKey", [&] { return inputs::regOpenKey(subKey, options, access, key); });
    const long code = inner_.regOpenKey(subKey, options, access, key);
    write(call, [&](Json& result, Json& out) {
        result = code;
        if (code == 0 && key) out["key"] = names_.add(*key);
    });
    return code;
}

long Recorder::regQueryValue(platform::RegKey key, const char* valueName, std::uint32_t* type,
                             std::uint8_t* data, std::uint32_t* size) {
    const std::uint32_t room = size ? *size : 0;
    const Call call = begin("regQueryValue", [&] {
        return inputs::regQueryValue(names_, key, valueName, type, data, size);
    });
    const long code = inner_.regQueryValue(key, valueName, type, data, size);
    write(call, [&](Json& result, Json& out) {
        result = code;
        if (type) out["type"] = *type;
        if (size) out["size"] = *size;
        if (code == 0 && data && size) out["data"] = hex(data, std::min(*size, room));
    });
    return code;
}

long Recorder::regCloseKey(platform::RegKey key) {
    const Call call = begin("regCloseKey", [&] { return inputs::handle(names_, key); });
    const long code = inner_.regCloseKey(key);
    write(call, [&](Json& result, Json&) { result = code; });
    return code;
}

// ---- files and overlapped I/O ----

platform::Handle Recorder::createFile(const char* name, std::uint32_t access,
                                      std::uint32_t shareMode, std::uint32_t disposition,
                                      std::uint32_t flags) {
    const Call call = begin("createFile", [&] {
        return inputs::createFile(name, access, shareMode, disposition, flags);
    });
    platform::Handle file = inner_.createFile(name, access, shareMode, disposition, flags);
    write(call, [&](Json& result, Json&) { result = names_.add(file); });
    return file;
}

bool Recorder::readFile(platform::Handle file, void* buffer, std::uint32_t length,
                        std::uint32_t* count, platform::Overlapped* overlapped) {
    const Call call = begin("readFile", [&] {
        return inputs::transfer(names_, file, buffer, length, nullptr, count, overlapped);
    });
    const bool done = inner_.readFile(file, buffer, length, count, overlapped);
    write(call, [&](Json& result, Json& out) {
        result = done;
        if (count) out["count"] = *count;
        if (overlapped) out["overlapped"] = overlappedState(overlapped);
        if (done && buffer) {
            const std::uint32_t moved = count ? *count
                                        : overlapped ? static_cast<std::uint32_t>(overlapped->internalHigh)
                                                     : 0;
            out["data"] = hex(buffer, std::min(moved, length));
        }
        if (!done) remember(overlapped, buffer, length);
    });
    return done;
}

bool Recorder::writeFile(platform::Handle file, const void* buffer, std::uint32_t length,
                         std::uint32_t* count, platform::Overlapped* overlapped) {
    const Call call = begin("writeFile", [&] {
        return inputs::transfer(names_, file, buffer, length, buffer, count, overlapped);
    });
    const bool done = inner_.writeFile(file, buffer, length, count, overlapped);
    write(call, [&](Json& result, Json& out) {
        result = done;
        if (count) out["count"] = *count;
        if (overlapped) out["overlapped"] = overlappedState(overlapped);
    });
    return done;
}

bool Recorder::deviceIoControl(platform::Handle file, std::uint32_t code, void* in,
                               std::uint32_t inSize, void* out, std::uint32_t outSize,
                               std::uint32_t* returned, platform::Overlapped* overlapped) {
    const Call call = begin("deviceIoControl", [&] {
        return inputs::deviceIoControl(names_, file, code, in, inSize, out, outSize, returned,
                                       overlapped);
    });
    const bool done =
        inner_.deviceIoControl(file, code, in, inSize, out, outSize, returned, overlapped);
    write(call, [&](Json& result, Json& outputs) {
        result = done;
        if (returned) outputs["returned"] = *returned;
        if (overlapped) outputs["overlapped"] = overlappedState(overlapped);
        if (done && out) {
            const std::uint32_t moved = returned ? *returned
                                        : overlapped ? static_cast<std::uint32_t>(overlapped->internalHigh)
                                                     : 0;
            outputs["data"] = hex(out, std::min(moved, outSize));
        }
        if (!done) remember(overlapped, out, outSize);
    });
    return done;
}

bool Recorder::getOverlappedResult(platform::Handle file, platform::Overlapped* overlapped,
                                   std::uint32_t* count, bool wait) {
    const Call call = begin("getOverlappedResult", [&] {
        return inputs::getOverlappedResult(names_, file, overlapped, count, wait);
    });
    const bool done = inner_.getOverlappedResult(file, overlapped, count, wait);
    const std::uint32_t error = inner_.getLastError();
    write(call, [&](Json& result, Json& out) {
        result = done;
        if (count) out["count"] = *count;
        if (!overlapped) return;
        out["overlapped"] = overlappedState(overlapped);
        if (!done && error == platform::kErrorIoIncomplete) return;  // still running
        // The request has ended: the bytes it moved into the reader's buffer are its answer.
        auto target = targets_.find(overlapped);
        if (target == targets_.end()) return;
        const auto moved = std::min(static_cast<std::uint32_t>(overlapped->internalHigh),
                                    target->second.length);
        if (target->second.buffer && moved > 0) out["data"] = hex(target->second.buffer, moved);
        targets_.erase(target);
    });
    return done;
}

bool Recorder::cancelIo(platform::Handle file) {
    const Call call = begin("cancelIo", [&] { return inputs::handle(names_, file); });
    const bool done = inner_.cancelIo(file);
    write(call, [&](Json& result, Json&) { result = done; });
    return done;
}

bool Recorder::closeHandle(platform::Handle object) {
    const Call call = begin("closeHandle", [&] { return inputs::handle(names_, object); });
    const bool done = inner_.closeHandle(object);
    write(call, [&](Json& result, Json&) { result = done; });
    return done;
}

// ---- events, waits, the rest ----

platform::Handle Recorder::createEvent(bool manualReset, bool initialState) {
    const Call call =
        begin("createEvent", [&] { return inputs::createEvent(manualReset, initialState); });
    platform::Handle event = inner_.createEvent(manualReset, initialState);
    write(call, [&](Json& result, Json&) { result = names_.add(event); });
    return event;
}

bool Recorder::resetEvent(platform::Handle event) {
    const Call call = begin("resetEvent", [&] { return inputs::handle(names_, event); });
    const bool done = inner_.resetEvent(event);
    write(call, [&](Json& result, Json&) { result = done; });
    return done;
}

std::uint32_t Recorder::waitForSingleObject(platform::Handle object, std::uint32_t timeoutMs) {
    const Call call = begin("waitForSingleObject", [&] {
        return inputs::waitForSingleObject(names_, object, timeoutMs);
    });
    const std::uint32_t outcome = inner_.waitForSingleObject(object, timeoutMs);
    write(call, [&](Json& result, Json&) { result = outcome; });
    return outcome;
}

std::uint32_t Recorder::getLastError() { return inner_.getLastError(); }
void Recorder::setLastError(std::uint32_t code) { inner_.setLastError(code); }

void Recorder::sleep(std::uint32_t ms) {
    const Call call = begin("sleep", [&] { return inputs::sleep(ms); });
    inner_.sleep(ms);
    write(call, [](Json&, Json&) {});
}

int Recorder::messageBox(const char* text, const char* caption, std::uint32_t style) {
    const Call call = begin("messageBox", [&] { return inputs::messageBox(text, caption, style); });
    const int answer = inner_.messageBox(text, caption, style);
    write(call, [&](Json& result, Json&) { result = answer; });
    return answer;
}

}  // namespace tarvex::record
