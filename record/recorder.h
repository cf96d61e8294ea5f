// A backend that records: it passes every call to the backend underneath (the native one, or an
// emulated world) and writes what went in and what came back (bytes, counts, results, last-error
// codes, times) to a recording, one JSON line per call (docs/record-format.md).
//
//   record::Recorder recorder(platform::backend(), "session.jsonl", "tarvex 1.0.0 ping");
//   if (!recorder.ok()) ... recorder.problem() says why ...
//   platform::ScopedBackend use(recorder);
//
// The recording is written as the calls return, a line at a time, so it holds every call made up
// to a crash.  Calls from several threads are written in the order they return.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/platform.h"
#include "record/call_inputs.h"

namespace tarvex::record {

class Recorder final : public platform::Backend {
public:
    // `program` names what is recorded, for whoever reads the recording ("tarvex 1.0.0 ping").
    Recorder(platform::Backend& inner, const std::string& path, const std::string& program);
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // False once the recording could not be opened or written; problem() says why.
    bool ok() const;
    std::string problem() const;
    std::size_t calls() const;

    std::uint32_t deviceInterfaceDataSize() const override;
    std::uint32_t deviceInterfaceDetailSize() const override;
    platform::DevInfo getClassDevs(const platform::Guid& interfaceClass,
                                   std::uint32_t flags) override;
    bool enumDeviceInterfaces(platform::DevInfo set, const platform::Guid& interfaceClass,
                              std::uint32_t memberIndex,
                              platform::DeviceInterfaceData* data) override;
    bool getDeviceInterfaceDetail(platform::DevInfo set, platform::DeviceInterfaceData* data,
                                  void* detail, std::uint32_t detailSize,
                                  std::uint32_t* requiredSize) override;
    bool destroyDeviceInfoList(platform::DevInfo set) override;
    long regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                    platform::RegKey* key) override;
    long regQueryValue(platform::RegKey key, const char* valueName, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* size) override;
    long regCloseKey(platform::RegKey key) override;
    platform::Handle createFile(const char* name, std::uint32_t access, std::uint32_t shareMode,
                                std::uint32_t disposition, std::uint32_t flags) override;
    bool readFile(platform::Handle file, void* buffer, std::uint32_t length, std::uint32_t* count,
                  platform::Overlapped* overlapped) override;
    bool writeFile(platform::Handle file, const void* buffer, std::uint32_t length,
                   std::uint32_t* count, platform::Overlapped* overlapped) override;
    bool deviceIoControl(platform::Handle file, std::uint32_t code, void* in,
                         std::uint32_t inSize, void* out, std::uint32_t outSize,
                         std::uint32_t* returned, platform::Overlapped* overlapped) override;
    bool getOverlappedResult(platform::Handle file, platform::Overlapped* overlapped,
                             std::uint32_t* count, bool wait) override;
    bool cancelIo(platform::Handle file) override;
    bool closeHandle(platform::Handle object) override;
    platform::Handle createEvent(bool manualReset, bool initialState) override;
    bool resetEvent(platform::Handle event) override;
    std::uint32_t waitForSingleObject(platform::Handle object, std::uint32_t timeoutMs) override;
    // The thread's last-error code is not a call of its own: each call's line holds the code it
    // left.
    std::uint32_t getLastError() override;
    void setLastError(std::uint32_t code) override;
    void sleep(std::uint32_t ms) override;
    int messageBox(const char* text, const char* caption, std::uint32_t style) override;

private:
    using Clock = std::chrono::steady_clock;

    // One call on its way through: its inputs are taken before the call (with the names lock
    // held), its outputs after, and `write` puts the line out.
    struct Call {
        const char* name;
        Json in;
        Clock::time_point start;
    };
    Call begin(const char* name, const std::function<Json()>& in) const;
    // `fill` sets the result and the outputs, with the names lock held.
    void write(const Call& call, const std::function<void(Json& result, Json& out)>& fill);

    // A read whose bytes arrive after its start: where they go, until its outcome is fetched.
    struct Target {
        const void* buffer;
        std::uint32_t length;
    };
    void remember(const platform::Overlapped* overlapped, const void* buffer,
                  std::uint32_t length);
    static Json overlappedState(const platform::Overlapped* overlapped);

    platform::Backend& inner_;
    std::FILE* file_ = nullptr;
    Clock::time_point started_;
    mutable std::mutex mutex_;  // the names, the targets, the file and the count
    HandleNames names_;
    std::unordered_map<const platform::Overlapped*, Target> targets_;
    std::size_t calls_ = 0;
    std::string problem_;
};

}  // namespace tarvex::record
