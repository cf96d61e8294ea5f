// The native backend of a build that has no way to reach real boards: it lists no devices and
// refuses every request with ERROR_NOT_SUPPORTED.  Events, waits, sleeps and the last-error code
// still work, so the library behaves as on a machine with no board plugged in.
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/platform.h"

namespace tarvex::platform {
namespace {

thread_local std::uint32_t lastError = 0;

class NullBackend final : public Backend {
public:
    std::uint32_t deviceInterfaceDataSize() const override { return sizeof(DeviceInterfaceData); }
    std::uint32_t deviceInterfaceDetailSize() const override { return 8; }

    DevInfo getClassDevs(const Guid&, std::uint32_t) override { return &snapshot_; }
    bool enumDeviceInterfaces(DevInfo, const Guid&, std::uint32_t, DeviceInterfaceData*) override {
        return fail(kErrorNoMoreItems);
    }
    bool getDeviceInterfaceDetail(DevInfo, DeviceInterfaceData*, void*, std::uint32_t,
                                  std::uint32_t*) override {
        return fail(kErrorNoMoreItems);
    }
    bool destroyDeviceInfoList(DevInfo) override { return true; }
    long regOpenKey(const char*, std::uint32_t, std::uint32_t, RegKey*) override {
        return kErrorFileNotFound;
    }
    long regQueryValue(RegKey, const char*, std::uint32_t*, std::uint8_t*,
                       std::uint32_t*) override {
        return kErrorInvalidHandle;
    }
    long regCloseKey(RegKey) override { return kErrorInvalidHandle; }
    Handle createFile(const char*, std::uint32_t, std::uint32_t, std::uint32_t,
                      std::uint32_t) override {
        fail(kErrorFileNotFound);
        return invalidHandle();
    }
    bool readFile(Handle, void*, std::uint32_t, std::uint32_t*, Overlapped*) override {
        return fail(kErrorInvalidHandle);
    }
    bool writeFile(Handle, const void*, std::uint32_t, std::uint32_t*, Overlapped*) override {
        return fail(kErrorInvalidHandle);
    }
    bool deviceIoControl(Handle, std::uint32_t, void*, std::uint32_t, void*, std::uint32_t,
                         std::uint32_t*, Overlapped*) override {
        return fail(kErrorInvalidHandle);
    }
    bool getOverlappedResult(Handle, Overlapped*, std::uint32_t*, bool) override {
        return fail(kErrorInvalidHandle);
    }
    bool cancelIo(Handle) override { return fail(kErrorInvalidHandle); }
    bool closeHandle(Handle h) override {
        // Events are the only objects this backend hands out.
        if (h == &event_) return true;
        return fail(kErrorInvalidHandle);
    }
    Handle createEvent(bool, bool) override { return &event_; }
    bool resetEvent(Handle h) override { return h == &event_ ? true : fail(kErrorInvalidHandle); }
    std::uint32_t waitForSingleObject(Handle h, std::uint32_t timeoutMs) override {
        if (h != &event_) {
            fail(kErrorInvalidHandle);
            return kWaitFailed;
        }
        // Nothing ever signals the event: wait out the time-out.
        if (timeoutMs != kInfinite) sleep(timeoutMs);
        return kWaitTimeout;
    }
    std::uint32_t getLastError() override { return lastError; }
    void setLastError(std::uint32_t code) override { lastError = code; }
    void sleep(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    int messageBox(const char* text, const char* caption, std::uint32_t) override {
        std::printf("%s\n\n%s\n", caption ? caption : "", text ? text : "");
        return 1;  // IDOK
    }

private:
    bool fail(std::uint32_t code) {
        lastError = code;
        return false;
    }
    int snapshot_ = 0;
    int event_ = 0;
};

}  // namespace

Backend& nativeBackend() {
    static NullBackend instance;
    return instance;
}

UsbAccess nativeUsbAccess() {
    return {UsbAccess::State::kNotBuiltIn, "this build was made without libusb-1.0"};
}

}  // namespace tarvex::platform
