// A backend that replays a recording (see recorder.h): it answers each call of the seam as the
// recording says the system answered it (results, bytes, counts, last-error codes), without
// waiting, so that a program can be run again, anywhere, against a session recorded elsewhere.
//
// The program must make the same calls in the same order.  Where it departs (another call, other
// arguments, other bytes written, or a call past the recording's end), the replayer says so in
// one sentence on standard error, naming the call number, what was called and what the
// recording holds; from then on every call fails with kErrorReplayDeparted (50,
// ERROR_NOT_SUPPORTED), as does every call when the recording cannot be read.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "record/call_inputs.h"

namespace tarvex::record {

class Replayer final : public platform::Backend {
public:
    explicit Replayer(const std::string& path);

    // Why the recording cannot be replayed at all (empty when it can).
    const std::string& loadProblem() const { return loadProblem_; }
    // The sentence said when the program departed (empty while it has not).
    std::string departure() const;
    // Calls of the recording not replayed yet.
    std::size_t callsLeft() const;

    std::uint32_t deviceInterfaceDataSize() const override { return dataSize_; }
    std::uint32_t deviceInterfaceDetailSize() const override { return detailSize_; }
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
    std::uint32_t getLastError() override;
    void setLastError(std::uint32_t code) override;
    void sleep(std::uint32_t ms) override;
    int messageBox(const char* text, const char* caption, std::uint32_t style) override;

private:
    // The recorded line of the next call, if the program's call is that one; otherwise the
    // departure is said and nothing is returned.  Sets the thread's last-error code to the
    // recorded one, or to kErrorReplayDeparted.
    std::optional<Json> next(const char* call, const std::function<Json()>& in);
    // A handle the replay hands out for the one the recording names: a value of its own, given
    // the recording's name.
    platform::Handle handOut(const Json& recorded);
    bool failed();  // sets kErrorReplayDeparted; returns false
    void depart(std::string sentence);

    struct Target {
        void* buffer;
        std::uint32_t length;
    };
    void remember(platform::Overlapped* overlapped, void* buffer, std::uint32_t length);
    static void restore(const Json& out, platform::Overlapped* overlapped);
    static void copyBytes(const Json& out, const char* field, void* buffer, std::uint32_t room);

    std::string path_;
    std::string loadProblem_;
    std::uint32_t dataSize_ = sizeof(platform::DeviceInterfaceData);
    std::uint32_t detailSize_ = sizeof(void*) == 8 ? 8 : 5;
    std::vector<Json> calls_;
    mutable std::mutex mutex_;  // everything below
    std::size_t cursor_ = 0;
    std::string departure_;
    HandleNames names_;
    std::uintptr_t nextValue_ = 0x7A000000;
    std::unordered_map<platform::Overlapped*, Target> targets_;
};

}  // namespace tarvex::record
