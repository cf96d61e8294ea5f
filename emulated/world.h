// The emulated world: a portable platform backend with an emulated driver and emulated boards
// behind it, so the library runs and is tested on any machine without hardware.
//
//   tarvex::emulated::World world;               // virtual clock, no devices
//   auto& board = world.plugBoard();             // a demo board at member index 0
//   tarvex::platform::ScopedBackend use(world);  // the library now talks to it
//
// Time: in ClockMode::kVirtual, sleeps and waits advance a virtual clock instantly and
// deterministically; in ClockMode::kRealTime they take as long as they say (the demo).
// The world is used from one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulated/board.h"
#include "emulated/bounded_log.h"
#include "emulated/clock.h"
#include "emulated/firmware.h"
#include "platform/platform.h"

namespace tarvex::emulated {

// Identifies a plugged interface for later unplug / replug.
using InterfaceId = std::uint32_t;

// One driver control request (deviceIoControl) as the driver received it.
struct ControlRequest {
    InterfaceId interfaceId;
    std::uint32_t code;
    Bytes input;
    std::uint32_t outputSize;
    Micros at;
};

struct MessageBoxCall {
    std::string text;
    std::string caption;
    std::uint32_t style;
};

// Firmware of the demo board (all commands); defined with the demo board.
std::unique_ptr<Firmware> makeDemoFirmware();

class World final : public platform::Backend {
public:
    explicit World(ClockMode mode = ClockMode::kVirtual);
    ~World() override;
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // ---- time ----
    Micros now() const;
    double nowMs() const { return static_cast<double>(now()) / 1000.0; }
    // Runs `action` when the clock reaches `at` (during a sleep, a wait or a blocking call).
    void schedule(Micros at, std::function<void()> action);
    // Advances the clock by `ms` as a Sleep would.
    void advance(std::uint32_t ms) { sleep(ms); }

    // ---- devices (appended at the end of the member-index order) ----
    // A board of vendor/product 04D8/0030 running `firmware` (the demo firmware if null).
    Board& plugBoard(std::unique_ptr<Firmware> firmware = nullptr, DeviceIdentity identity = {});
    // Another device of the same driver (its data pipe answers nothing).
    InterfaceId plugDevice(std::uint16_t vendorId, std::uint16_t productId,
                           std::string serial = {});
    InterfaceId idOf(const Board& board) const;
    Board* board(InterfaceId id);
    // Removes the interface: it leaves the list, its registry key goes, its pending requests
    // fail and its open handles fail every new request with vanishedError() (the handles stay
    // valid handles until closed).
    void unplug(InterfaceId id);
    void unplug(const Board& board) { unplug(idOf(board)); }
    // Brings an unplugged interface back at the end of the list (old handles stay dead).
    void replug(InterfaceId id);
    std::size_t interfaceCount() const;
    std::string interfacePath(InterfaceId id) const;  // "\\?\usb#vid_...#...#{guid}"

    // ---- driver behaviour knobs ----
    // Error code of requests on the handles of an unplugged device (ERROR_DEVICE_NOT_CONNECTED).
    void setVanishedError(std::uint32_t code) { vanishedError_ = code; }
    std::uint32_t vanishedError() const { return vanishedError_; }
    // Refuse a second open of a pipe already open in the same direction (ERROR_SHARING_VIOLATION).
    void setExclusiveOpen(bool exclusive) { exclusiveOpen_ = exclusive; }
    // A cancelled request ends this long after the cancel (0: at once).  If its reply becomes
    // ready before then, it completes with the data instead, as a real cancel can lose the race.
    void setCancelLatency(Micros latency) { cancelLatency_ = latency; }
    // The next `count` event creations fail.
    void failEventCreation(std::uint32_t count) { failEvents_ = count; }
    // The next `count` snapshot requests (getClassDevs) fail.
    void failSnapshots(std::uint32_t count) { failSnapshots_ = count; }
    // Every detail request that fills a record for member index `memberIndex` fails from now
    // on (the request for its size still answers); nullopt ends it.
    void failDetailAt(std::optional<std::uint32_t> memberIndex) { failDetailAt_ = memberIndex; }

    // ---- registry (keys under HKEY_LOCAL_MACHINE, names compared without case) ----
    void setRegistryValue(const std::string& key, const std::string& name, const Bytes& data,
                          std::uint32_t type = 1 /* REG_SZ */);
    void removeRegistryValue(const std::string& key, const std::string& name);
    void removeRegistryKey(const std::string& key);
    std::string registryKeyOf(InterfaceId id) const;

    // ---- observation ----
    const std::vector<MessageBoxCall>& messageBoxes() const { return messageBoxes_; }
    // The control requests made on handles of plugged devices, in order (the newest
    // kDefaultRecordCapacity, like a board's transfers).
    const BoundedLog<ControlRequest>& controlRequests() const;
    std::size_t openHandleCount() const;  // files, events, snapshots and registry keys open
    std::size_t pendingRequestCount() const;

    // ---- platform::Backend ----
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
    bool deviceIoControl(platform::Handle file, std::uint32_t code, void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t* returned,
                         platform::Overlapped* overlapped) override;
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
    struct State;
    std::unique_ptr<State> state_;
    std::vector<MessageBoxCall> messageBoxes_;  // one per u_About: a person clicks each
    std::uint32_t vanishedError_ = platform::kErrorDeviceNotConnected;
    bool exclusiveOpen_ = false;
    Micros cancelLatency_ = 0;
    std::uint32_t failEvents_ = 0;
    std::uint32_t failSnapshots_ = 0;
    std::optional<std::uint32_t> failDetailAt_;
};

}  // namespace tarvex::emulated
