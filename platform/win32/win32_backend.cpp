// The Windows backend: every service is one call of its Win32 namesake, with the library's records
// laid over the system's own.  Nothing here may touch the thread's last-error code beyond what the
// real call does, since the pipe layer reads it after each request.
#ifndef WIN32_LEAN_AND_MEAN
#  define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#  define NOMINMAX
#endif
#include <windows.h>
#include <setupapi.h>

#include <cstddef>

#include "platform/platform.h"

namespace tarvex::platform {

// The library's records are handed to the system as they are, so they must be the system's.
static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(offsetof(Guid, data2) == offsetof(GUID, Data2) &&
              offsetof(Guid, data3) == offsetof(GUID, Data3) &&
              offsetof(Guid, data4) == offsetof(GUID, Data4));

static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(Overlapped, internal) == offsetof(OVERLAPPED, Internal) &&
              offsetof(Overlapped, internalHigh) == offsetof(OVERLAPPED, InternalHigh) &&
              offsetof(Overlapped, offset) == offsetof(OVERLAPPED, Offset) &&
              offsetof(Overlapped, offsetHigh) == offsetof(OVERLAPPED, OffsetHigh) &&
              offsetof(Overlapped, event) == offsetof(OVERLAPPED, hEvent));

static_assert(sizeof(DeviceInterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(offsetof(DeviceInterfaceData, interfaceClassGuid) ==
                  offsetof(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid) &&
              offsetof(DeviceInterfaceData, flags) == offsetof(SP_DEVICE_INTERFACE_DATA, Flags) &&
              offsetof(DeviceInterfaceData, reserved) ==
                  offsetof(SP_DEVICE_INTERFACE_DATA, Reserved));
static_assert(kDetailPathOffset == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));

// SetupAPI packs its records tightly on 32-bit Windows and naturally on 64-bit Windows, and checks
// cbSize against exactly these values: a record sized for the other word width is refused.
#if defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32 &&
              sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28 &&
              sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
#endif

namespace {

const GUID* asGuid(const Guid& g) { return reinterpret_cast<const GUID*>(&g); }
OVERLAPPED* asOverlapped(Overlapped* o) { return reinterpret_cast<OVERLAPPED*>(o); }
SP_DEVICE_INTERFACE_DATA* asInterfaceData(DeviceInterfaceData* d) {
    return reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(d);
}

// A 32-bit count the system writes through a DWORD pointer (DWORD is unsigned long, a type of its
// own).  The caller's value goes in first and whatever the system left comes back, so the count
// behaves exactly as if the caller's own variable had been passed; a null pointer stays null.
class Count {
public:
    explicit Count(std::uint32_t* target) : target_(target), value_(target ? *target : 0) {}
    ~Count() {
        if (target_) *target_ = static_cast<std::uint32_t>(value_);
    }
    Count(const Count&) = delete;
    Count& operator=(const Count&) = delete;
    DWORD* get() { return target_ ? &value_ : nullptr; }

private:
    std::uint32_t* target_;
    DWORD value_;
};

class Win32Backend final : public Backend {
public:
    std::uint32_t deviceInterfaceDataSize() const override {
        return sizeof(SP_DEVICE_INTERFACE_DATA);
    }
    std::uint32_t deviceInterfaceDetailSize() const override {
        return sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    }

    DevInfo getClassDevs(const Guid& interfaceClass, std::uint32_t flags) override {
        return SetupDiGetClassDevsA(asGuid(interfaceClass), nullptr, nullptr, flags);
    }
    bool enumDeviceInterfaces(DevInfo set, const Guid& interfaceClass, std::uint32_t memberIndex,
                              DeviceInterfaceData* data) override {
        return SetupDiEnumDeviceInterfaces(set, nullptr, asGuid(interfaceClass), memberIndex,
                                           asInterfaceData(data)) != FALSE;
    }
    bool getDeviceInterfaceDetail(DevInfo set, DeviceInterfaceData* data, void* detail,
                                  std::uint32_t detailSize, std::uint32_t* requiredSize) override {
        Count required(requiredSize);
        return SetupDiGetDeviceInterfaceDetailA(
                   set, asInterfaceData(data),
                   static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail), detailSize,
                   required.get(), nullptr) != FALSE;
    }
    bool destroyDeviceInfoList(DevInfo set) override {
        return SetupDiDestroyDeviceInfoList(set) != FALSE;
    }

    long regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                    RegKey* key) override {
        HKEY opened = nullptr;
        const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, options, access, &opened);
        *key = opened;
        return result;
    }
    long regQueryValue(RegKey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                       std::uint32_t* size) override {
        Count valueType(type);
        Count valueSize(size);
        return RegQueryValueExA(static_cast<HKEY>(key), valueName, nullptr, valueType.get(), data,
                                valueSize.get());
    }
    long regCloseKey(RegKey key) override { return RegCloseKey(static_cast<HKEY>(key)); }

    Handle createFile(const char* name, std::uint32_t access, std::uint32_t shareMode,
                      std::uint32_t disposition, std::uint32_t flags) override {
        return CreateFileA(name, access, shareMode, nullptr, disposition, flags, nullptr);
    }
    bool readFile(Handle file, void* buffer, std::uint32_t length, std::uint32_t* count,
                  Overlapped* overlapped) override {
        Count moved(count);
        return ReadFile(file, buffer, length, moved.get(), asOverlapped(overlapped)) != FALSE;
    }
    bool writeFile(Handle file, const void* buffer, std::uint32_t length, std::uint32_t* count,
                   Overlapped* overlapped) override {
        Count moved(count);
        return WriteFile(file, buffer, length, moved.get(), asOverlapped(overlapped)) != FALSE;
    }
    bool deviceIoControl(Handle file, std::uint32_t code, void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t* returned,
                         Overlapped* overlapped) override {
        Count moved(returned);
        return DeviceIoControl(file, code, in, inSize, out, outSize, moved.get(),
                               asOverlapped(overlapped)) != FALSE;
    }
    bool getOverlappedResult(Handle file, Overlapped* overlapped, std::uint32_t* count,
                             bool wait) override {
        Count moved(count);
        return GetOverlappedResult(file, asOverlapped(overlapped), moved.get(),
                                   wait ? TRUE : FALSE) != FALSE;
    }
    bool cancelIo(Handle file) override { return CancelIo(file) != FALSE; }
    bool closeHandle(Handle object) override { return CloseHandle(object) != FALSE; }

    Handle createEvent(bool manualReset, bool initialState) override {
        return CreateEventA(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE,
                            nullptr);
    }
    bool resetEvent(Handle event) override { return ResetEvent(event) != FALSE; }
    std::uint32_t waitForSingleObject(Handle object, std::uint32_t timeoutMs) override {
        return WaitForSingleObject(object, timeoutMs);
    }

    std::uint32_t getLastError() override { return GetLastError(); }
    void setLastError(std::uint32_t code) override { SetLastError(code); }

    void sleep(std::uint32_t ms) override { Sleep(ms); }
    int messageBox(const char* text, const char* caption, std::uint32_t style) override {
        return MessageBoxA(nullptr, text, caption, style);
    }
};

}  // namespace

Backend& nativeBackend() {
    static Win32Backend instance;
    return instance;
}

// The device installation functions answer on every Windows: no board is no board.
UsbAccess nativeUsbAccess() { return {}; }

}  // namespace tarvex::platform
