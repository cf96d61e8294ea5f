// The backend's frame: libusb's context, the handle table, events and waits, the thread's
// last-error code, sleep and the message box.
#include "platform/libusb/libusb_backend.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace tarvex::platform::libusb {
namespace {

thread_local std::uint32_t lastError = kErrorSuccess;

using Clock = std::chrono::steady_clock;

// A thread blocked in libusb's event handling notices an event signalled from outside it (a
// control request another thread completed with a transfer record) at the latest after this.
constexpr std::chrono::milliseconds kPumpSlice{50};

}  // namespace

LibusbBackend::LibusbBackend() = default;

LibusbBackend::~LibusbBackend() {
    std::vector<std::shared_ptr<File>> files;
    {
        std::lock_guard lock(mutex_);
        for (auto& [handle, object] : objects_)
            if (auto* file = std::get_if<std::shared_ptr<File>>(&object)) files.push_back(*file);
        objects_.clear();
    }
    for (auto& file : files) closeFile(std::move(file));
    files.clear();
    if (libusb_context* context = startedContext(); context && abandoned_.empty())
        libusb_exit(context);
}

bool LibusbBackend::fail(std::uint32_t code) {
    lastError = code;
    return false;
}

Handle LibusbBackend::failHandle(std::uint32_t code) {
    lastError = code;
    return invalidHandle();
}

std::uint32_t LibusbBackend::getLastError() { return lastError; }
void LibusbBackend::setLastError(std::uint32_t code) { lastError = code; }

// The sizes 64-bit and 32-bit Windows demand of these records.
std::uint32_t LibusbBackend::deviceInterfaceDataSize() const { return sizeof(DeviceInterfaceData); }
std::uint32_t LibusbBackend::deviceInterfaceDetailSize() const {
    return sizeof(void*) == 8 ? 8 : 5;
}

libusb_context* LibusbBackend::context() {
    std::lock_guard lock(contextMutex_);
    if (!context_.load()) {
        // Left unstarted when it fails (no usbfs: no USB on this machine); the next call tries
        // again, so a bus that appears later is found.
        libusb_context* started = nullptr;
        startError_ = libusb_init(&started);
        if (startError_ == LIBUSB_SUCCESS) context_.store(started);
    }
    return context_.load();
}

Handle LibusbBackend::insert(Object object) {
    std::uintptr_t value = nextHandle_;
    nextHandle_ += 4;  // handle values are multiples of four, as on Windows, and never reused
    objects_.emplace(value, std::move(object));
    return reinterpret_cast<Handle>(value);
}

// ---- events and waits ----

Handle LibusbBackend::createEvent(bool manualReset, bool initialState) {
    std::lock_guard lock(mutex_);
    return insert(std::make_shared<Event>(Event{manualReset, initialState}));
}

bool LibusbBackend::resetEvent(Handle event) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Event> found = find<Event>(event);
    if (!found) return fail(kErrorInvalidHandle);
    found->signalled = false;
    return true;
}

void LibusbBackend::signal(Handle event) {
    if (std::shared_ptr<Event> found = find<Event>(event)) {
        found->signalled = true;
        signalled_.notify_all();
    }
}

void LibusbBackend::pumpEvents(std::chrono::milliseconds limit) {
    if (libusb_context* context = startedContext()) {
        auto micros = std::chrono::duration_cast<std::chrono::microseconds>(limit).count();
        timeval tv{static_cast<time_t>(micros / 1000000),
                   static_cast<suseconds_t>(micros % 1000000)};
        libusb_handle_events_timeout_completed(context, &tv, nullptr);
    } else {
        std::unique_lock lock(mutex_);
        signalled_.wait_for(lock, limit);
    }
}

bool LibusbBackend::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    bool endless = limit == std::chrono::milliseconds::max();
    Clock::time_point deadline = endless ? Clock::time_point::max() : Clock::now() + limit;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (done()) return true;
        }
        Clock::time_point now = Clock::now();
        if (!endless && now >= deadline) return false;
        auto left =
            endless ? kPumpSlice : std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        pumpEvents(std::clamp(left, std::chrono::milliseconds{0}, kPumpSlice));
    }
}

std::uint32_t LibusbBackend::waitForSingleObject(Handle object, std::uint32_t timeoutMs) {
    bool endless = timeoutMs == kInfinite;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(endless ? 0 : timeoutMs);
    for (bool first = true;; first = false) {
        {
            std::lock_guard lock(mutex_);
            std::shared_ptr<Event> event = find<Event>(object);
            if (!event) {
                fail(kErrorInvalidHandle);
                return kWaitFailed;
            }
            if (event->signalled) {
                if (!event->manualReset) event->signalled = false;
                return kWaitObject0;
            }
        }
        Clock::time_point now = Clock::now();
        // The first round always handles events once, so a zero time-out still collects a
        // transfer that has already ended.
        if (!first && !endless && now >= deadline) return kWaitTimeout;
        auto left =
            endless ? kPumpSlice : std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        pumpEvents(std::clamp(left, std::chrono::milliseconds{0}, kPumpSlice));
    }
}

// ---- access to USB at all ----

UsbAccess LibusbBackend::usbAccess() {
    using State = UsbAccess::State;
    if (!context()) {
        std::lock_guard lock(contextMutex_);
        return {State::kUnavailable,
                std::string("libusb could not start (") + libusb_strerror(startError_) + ")"};
    }
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(startedContext(), &list);
    if (count < 0)
        return {State::kUnavailable, std::string("libusb could not list the USB devices (") +
                                         libusb_strerror(static_cast<int>(count)) + ")"};
    libusb_free_device_list(list, 1);
    // Every machine with USB has at least its controllers' root hubs.
    if (count == 0)
        return {State::kUnavailable, "no USB device is visible, not even a USB controller"};
    struct stat nodes {};
    if (stat("/dev/bus/usb", &nodes) != 0 || !S_ISDIR(nodes.st_mode))
        return {State::kUnavailable,
                "USB devices are listed, but /dev/bus/usb, where they are opened, is missing"};
    return {};
}

// ---- the rest of the platform ----

void LibusbBackend::sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// No window system is assumed: the message goes to standard error and counts as acknowledged.
int LibusbBackend::messageBox(const char* text, const char* caption, std::uint32_t) {
    std::fprintf(stderr, "%s\n\n%s\n", caption ? caption : "", text ? text : "");
    return 1;  // IDOK
}

}  // namespace tarvex::platform::libusb

namespace tarvex::platform {

Backend& nativeBackend() {
    static libusb::LibusbBackend instance;
    return instance;
}

UsbAccess nativeUsbAccess() {
    return static_cast<libusb::LibusbBackend&>(nativeBackend()).usbAccess();
}

}  // namespace tarvex::platform
