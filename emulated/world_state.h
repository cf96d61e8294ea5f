// The inside of the emulated world, shared by its source files: the handle table, the device
// interfaces, the requests in flight, the clock and the registry.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "emulated/clock.h"
#include "emulated/registry.h"
#include "emulated/world.h"
#include "platform/driver.h"

namespace tarvex::emulated {

// Win32 numbers the world uses beyond those of the platform seam.
namespace win32 {
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorKeyDeleted = 1018;
constexpr std::uint32_t kErrorPossibleDeadlock = 1131;
constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;
constexpr std::uint32_t kDigcfAllClasses = 0x04;
constexpr std::uint32_t kSpintActive = 0x1;
constexpr std::uint32_t kSpintRemoved = 0x4;
constexpr std::uint32_t kRegSz = 1;
}  // namespace win32

// Status word of a transfer record: pending while the request runs; once it ended, 0 for
// success or the Win32 error code marked with the two top bits (an NTSTATUS-like error).
constexpr std::uintptr_t kStatusPending = 0x103;
constexpr std::uintptr_t kStatusErrorMark = 0xC0000000;
inline std::uintptr_t statusOf(std::uint32_t error) {
    return error == 0 ? 0 : (kStatusErrorMark | error);
}
std::uint32_t errorOfStatus(std::uintptr_t status);

// The calling thread's last-error code.
void setLastErrorCode(std::uint32_t code);
std::uint32_t lastErrorCode();
// Sets the last-error code and returns false, the way a failing Win32 call ends.
inline bool fail(std::uint32_t code) {
    setLastErrorCode(code);
    return false;
}

// ---- objects behind handles ----

struct FileObject {
    InterfaceId interfaceId;
    std::uint32_t generation;  // the plug-in it was opened on; dead once the device left
    bool pipe;                 // the data pipe; else the bare interface
    bool canRead;              // device-to-host
    bool canWrite;             // host-to-device
    bool overlapped;           // opened for overlapped requests
};

struct EventObject {
    bool manualReset;
    bool signalled;
};

struct SnapshotObject {
    struct Entry {
        std::string path;
        std::uint32_t flags;
    };
    std::vector<Entry> entries;
};

struct KeyObject {
    std::string name;
    std::uint32_t access;
};

using Object = std::variant<FileObject, EventObject, SnapshotObject, KeyObject>;

// ---- devices ----

struct Interface {
    InterfaceId id = 0;
    DeviceIdentity identity;       // of a device without a board
    std::unique_ptr<Board> board;  // null: another vendor's device, whose pipe answers nothing
    std::string path;
    std::string registryKey;
    Bytes deviceInstance;
    bool plugged = false;
    std::uint32_t generation = 0;
    std::uint8_t configuration = 1;

    const DeviceIdentity& usb() const { return board ? board->identity() : identity; }
};

// ---- requests in flight ----

enum class RequestKind { kRead, kInterruptRead, kStalledWrite };

struct Request {
    RequestKind kind;
    std::uintptr_t file;
    InterfaceId interfaceId;
    std::uint8_t* buffer;             // the caller's, written when the request completes
    std::uint32_t length;
    platform::Overlapped* overlapped;  // the caller's record; null for a synchronous request
    std::uintptr_t event;
    bool cancelling = false;
    bool ended = false;
    std::uint32_t error = 0;
    std::uint32_t count = 0;
};

struct World::State {
    State(World& w, ClockMode mode) : world(w), clock(mode) {}

    World& world;
    Clock clock;
    Registry registry;
    std::vector<std::unique_ptr<Interface>> interfaces;  // every interface ever plugged, id - 1
    std::vector<InterfaceId> present;                    // in member-index order
    std::map<std::uintptr_t, Object> objects;
    std::uintptr_t nextHandle = 0x40;
    std::list<std::shared_ptr<Request>> pending;
    BoundedLog<ControlRequest> controlRequests{kDefaultRecordCapacity};
    bool interruptPollScheduled = false;

    // handles (world.cpp)
    static std::uintptr_t key(platform::Handle h) { return reinterpret_cast<std::uintptr_t>(h); }
    platform::Handle add(Object object);
    template <class T>
    T* find(platform::Handle h) {
        auto it = objects.find(key(h));
        return it == objects.end() ? nullptr : std::get_if<T>(&it->second);
    }
    void signal(std::uintptr_t event);
    void reset(std::uintptr_t event);

    // devices (world_devices.cpp)
    Interface* interface(InterfaceId id);
    // The device behind a file handle, or null once it has left (unplugged, even if back).
    Interface* liveInterface(const FileObject& file);
    Interface& addInterface(DeviceIdentity identity, std::unique_ptr<Firmware> firmware);
    void plug(Interface& in);

    // requests (world_requests.cpp)
    // Starts a request that may not complete at once; returns as the Win32 call does.
    bool submit(const std::shared_ptr<Request>& request, const FileObject& file,
                std::uint32_t* count);
    // A request that completed as it was made.
    bool completeAtOnce(platform::Overlapped* overlapped, std::uint32_t* count, std::uint32_t n);
    // A request refused as it was made.
    bool refuse(platform::Overlapped* overlapped, std::uint32_t error);
    void finish(Request& request, std::uint32_t error, std::uint32_t count);
    std::shared_ptr<Request> pendingFor(const platform::Overlapped* overlapped);
    void cancel(std::uintptr_t file);
    void endRequestsOf(InterfaceId id, std::uint32_t error);
    void queueRepliesFrom(Interface& in, std::size_t firstNew);
    void pumpReplies(Interface& in);
    void pollInterrupts();
};

}  // namespace tarvex::emulated
