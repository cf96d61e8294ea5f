// The native backend on Linux and other systems without the board vendor's driver: real boards
// through libusb-1.0, with the Win32 behaviour the library was written against.
//
// - Interfaces of the driver's class are the USB devices that offer the board's data pipe pair
//   (see present_devices.h), each with a "\\?\usb#vid_....#<location>#{class}" path and a
//   registry "DeviceInstance" text naming its vendor and product.
// - "<path>\MCHP_EP1" opened for reading is endpoint 1 IN, for writing endpoint 1 OUT, of
//   interface 0; the bare path opens the device for its control requests only.
// - Overlapped requests are libusb asynchronous transfers.  Nothing runs in the background:
//   transfers make progress while a caller waits (waitForSingleObject, getOverlappedResult with
//   wait, cancelIo, closeHandle), which run libusb's event handling.
// - Handles are numbers handed out once and never reused, so a closed or unknown handle fails
//   with ERROR_INVALID_HANDLE.
//
// A board is listed whatever its permissions; opening it needs write access to its node under
// /dev/bus/usb (without it, the open fails with ERROR_ACCESS_DENIED).  For users other than root,
// the udev rule packaging/udev/70-tarvex.rules grants it (see docs/real-boards.md).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <variant>
#include <vector>

#include <libusb.h>

#include "platform/libusb/present_devices.h"
#include "platform/platform.h"

namespace tarvex::platform::libusb {

class LibusbBackend final : public Backend {
public:
    LibusbBackend();
    ~LibusbBackend() override;
    LibusbBackend(const LibusbBackend&) = delete;
    LibusbBackend& operator=(const LibusbBackend&) = delete;

    std::uint32_t deviceInterfaceDataSize() const override;
    std::uint32_t deviceInterfaceDetailSize() const override;

    DevInfo getClassDevs(const Guid& interfaceClass, std::uint32_t flags) override;
    bool enumDeviceInterfaces(DevInfo set, const Guid& interfaceClass, std::uint32_t memberIndex,
                              DeviceInterfaceData* data) override;
    bool getDeviceInterfaceDetail(DevInfo set, DeviceInterfaceData* data, void* detail,
                                  std::uint32_t detailSize, std::uint32_t* requiredSize) override;
    bool destroyDeviceInfoList(DevInfo set) override;

    long regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                    RegKey* key) override;
    long regQueryValue(RegKey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                       std::uint32_t* size) override;
    long regCloseKey(RegKey key) override;

    Handle createFile(const char* name, std::uint32_t access, std::uint32_t shareMode,
                      std::uint32_t disposition, std::uint32_t flags) override;
    bool readFile(Handle file, void* buffer, std::uint32_t length, std::uint32_t* count,
                  Overlapped* overlapped) override;
    bool writeFile(Handle file, const void* buffer, std::uint32_t length, std::uint32_t* count,
                   Overlapped* overlapped) override;
    bool deviceIoControl(Handle file, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                         std::uint32_t outSize, std::uint32_t* returned,
                         Overlapped* overlapped) override;
    bool getOverlappedResult(Handle file, Overlapped* overlapped, std::uint32_t* count,
                             bool wait) override;
    bool cancelIo(Handle file) override;
    bool closeHandle(Handle object) override;

    Handle createEvent(bool manualReset, bool initialState) override;
    bool resetEvent(Handle event) override;
    std::uint32_t waitForSingleObject(Handle object, std::uint32_t timeoutMs) override;

    std::uint32_t getLastError() override;
    void setLastError(std::uint32_t code) override;

    void sleep(std::uint32_t ms) override;
    int messageBox(const char* text, const char* caption, std::uint32_t style) override;

    // Whether libusb starts and sees the system's USB devices, and can open them.
    UsbAccess usbAccess();

private:
    struct Event {
        bool manualReset;
        bool signalled;
    };

    // An opened USB device, shared by every handle open on it.  Interface 0 is claimed while a
    // data pipe handle is open.
    struct Device {
        libusb_device* device = nullptr;  // referenced
        libusb_device_handle* handle = nullptr;
        DataPipes pipes;
        std::mutex claimMutex;  // orders claims, releases and configuration changes
        int pipeHandles = 0;
        bool claimed = false;
        // Set when a request on the endpoint ended in a stall, an overflow or a transaction
        // error; the next request on it clears the endpoint's halt first, which also puts the
        // data toggles of host and device back in step.
        std::atomic<bool> clearInFirst{false};
        std::atomic<bool> clearOutFirst{false};
    };

    struct Request;

    enum class FileKind { kInterface, kDataPipe };
    struct File {
        std::shared_ptr<Device> device;
        FileKind kind;
        bool canRead;
        bool canWrite;
        std::vector<Request*> pending;  // requests in flight, in the order started
    };

    // One overlapped transfer in flight.
    struct Request {
        LibusbBackend* backend;
        File* file;  // kept alive until the request ends
        Overlapped* overlapped;
        Handle event;
        std::thread::id thread;
        std::uint64_t serial;
        libusb_transfer* transfer;
        unsigned char endpoint;
        // A read takes whole packets into `packets`; the caller's buffer gets at most the
        // `length` bytes it asked for.
        std::vector<unsigned char> packets;
        unsigned char* buffer = nullptr;
        std::uint32_t length = 0;
    };

    struct Snapshot {
        std::vector<std::string> paths;
    };
    struct RegistryKey {
        std::string deviceInstance;
    };

    using Object = std::variant<std::shared_ptr<Event>, std::shared_ptr<File>,
                                std::shared_ptr<Snapshot>, std::shared_ptr<RegistryKey>>;

    enum class Direction { kIn, kOut };

    // How long closing a handle or cancelling waits for the device to end the cancelled
    // requests.  The kernel ends a discarded request at once; this bounds the wait on a device
    // that does not.
    static constexpr std::chrono::milliseconds kCancelLimit{2000};

    // Sets the thread's last-error code and returns false (or the invalid handle).
    static bool fail(std::uint32_t code);
    static Handle failHandle(std::uint32_t code);

    // libusb, started on first need; null while it cannot start (no USB on this machine).
    libusb_context* context();
    libusb_context* startedContext() const { return context_.load(std::memory_order_acquire); }

    // Handle table; call with mutex_ held.
    Handle insert(Object object);
    template <class T>
    std::shared_ptr<T> find(void* handle) const {
        auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == objects_.end()) return nullptr;
        const auto* object = std::get_if<std::shared_ptr<T>>(&it->second);
        return object ? *object : nullptr;
    }
    void signal(Handle event);

    // Runs libusb's event handling (transfers end and signal their events) for at most `limit`;
    // without libusb, waits for a signal for that long.
    void pumpEvents(std::chrono::milliseconds limit);
    // Pumps events until `done` (checked with mutex_ held) holds, or `limit` has passed.
    bool waitUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::milliseconds::max());

    // Devices and their claims.
    std::uint32_t openDevice(libusb_device* usbDevice, std::shared_ptr<Device>& device);
    void closeDevice(Device* device);
    std::uint32_t acquireDataPipes(Device& device);
    void releaseDataPipes(Device& device);
    bool closeFile(std::shared_ptr<File> file);

    // Requests.
    bool startTransfer(Handle file, Direction direction, void* buffer, std::uint32_t length,
                       std::uint32_t* count, Overlapped* overlapped);
    static void LIBUSB_CALL onTransferEnded(libusb_transfer* transfer);
    void finish(Request* request);
    bool isPending(const File& file, const Overlapped* overlapped) const;
    // Whether the device still answers a standard request on its control pipe.
    bool stillPresent(Device& device);
    bool completeAtOnce(Overlapped* overlapped, std::uint32_t count, std::uint32_t* returned);
    bool getDescriptor(File& file, const void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned, Overlapped* overlapped);
    bool setConfiguration(File& file, const void* in, std::uint32_t inSize, std::uint32_t* returned,
                          Overlapped* overlapped);

    std::mutex contextMutex_;
    std::atomic<libusb_context*> context_{nullptr};
    int startError_ = LIBUSB_SUCCESS;  // of the last attempt to start libusb

    // Guards the handle table, the requests and the events.  Never held while libusb handles
    // events or closes a device: transfer callbacks take it.
    mutable std::mutex mutex_;
    std::condition_variable signalled_;
    std::unordered_map<std::uintptr_t, Object> objects_;
    std::uintptr_t nextHandle_ = 0x1000;
    std::uint64_t nextSerial_ = 1;
    // Files closed while the device never ended their cancelled requests: kept, with their
    // device, for those requests to end into.
    std::vector<std::shared_ptr<File>> abandoned_;

    // Guards the open devices (opening, claiming for the first time, closing).
    std::recursive_mutex devicesMutex_;
    std::map<libusb_device*, std::weak_ptr<Device>> devices_;
};

}  // namespace tarvex::platform::libusb
