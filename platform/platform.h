// The platform seam: the only road from the library to the operating system.
//
// Shaped after the Win32 calls the pipe layer makes, one method per call, so the Windows backend
// is a thin pass-through.  Win32 error numbers are the library's error vocabulary on every OS.
// One backend is current at a time; the shipped library starts with the native one, and tests
// and the command-line tool's demo mode install the emulated one.  Nothing else selects it.
#pragma once

#include <cstdint>
#include <string>

namespace tarvex::platform {

using Handle = void*;
using DevInfo = void*;  // a device-information snapshot (HDEVINFO)
using RegKey = void*;   // an open registry key (HKEY)

inline Handle invalidHandle() { return reinterpret_cast<Handle>(~std::uintptr_t{0}); }

// Win32 error codes.
constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorHandleEof = 38;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorSemTimeout = 121;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorBusy = 170;
constexpr std::uint32_t kErrorMoreData = 234;
constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kErrorOperationAborted = 995;
constexpr std::uint32_t kErrorIoIncomplete = 996;
constexpr std::uint32_t kErrorIoPending = 997;
constexpr std::uint32_t kErrorNoAccess = 998;
constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

// Wait results and the endless time-out.
constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 0x102;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

// createFile arguments.
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kFileAttributeNormal = 0x80;
constexpr std::uint32_t kFileFlagOverlapped = 0x40000000;

// getClassDevs flags, registry access, message box styles.
constexpr std::uint32_t kDigcfPresent = 0x02;
constexpr std::uint32_t kDigcfDeviceInterface = 0x10;
constexpr std::uint32_t kKeyQueryValue = 1;
constexpr std::uint32_t kMbOk = 0x00;
constexpr std::uint32_t kMbIconInformation = 0x40;

struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

inline bool operator==(const Guid& a, const Guid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}

// The transfer record of an overlapped request; laid out as Win32's OVERLAPPED.
struct Overlapped {
    std::uintptr_t internal;      // status of the request while it runs
    std::uintptr_t internalHigh;  // bytes moved once it ended
    std::uint32_t offset;
    std::uint32_t offsetHigh;
    Handle event;                 // signalled when the request ends
};

// One entry of a device-interface snapshot; laid out as Win32's SP_DEVICE_INTERFACE_DATA.
struct DeviceInterfaceData {
    std::uint32_t cbSize;
    Guid interfaceClassGuid;
    std::uint32_t flags;
    std::uintptr_t reserved;
};

// A device interface's detail record starts with a 32-bit size field; the interface path, a
// NUL-terminated text, starts at byte 4.
constexpr std::uint32_t kDetailPathOffset = 4;

// The operations of one backend.  Each returns what its Win32 namesake returns and leaves the
// thread's last-error code as its namesake would.
class Backend {
public:
    virtual ~Backend() = default;

    // Record sizes the platform demands in the cbSize fields of its records (they differ between
    // 32-bit and 64-bit Windows).
    virtual std::uint32_t deviceInterfaceDataSize() const = 0;
    virtual std::uint32_t deviceInterfaceDetailSize() const = 0;

    // Device-interface snapshots (SetupDiGetClassDevsA, SetupDiEnumDeviceInterfaces,
    // SetupDiGetDeviceInterfaceDetailA, SetupDiDestroyDeviceInfoList).  getClassDevs returns
    // invalidHandle() on failure.  getDeviceInterfaceDetail with a null detail reports the size
    // needed through requiredSize and fails with ERROR_INSUFFICIENT_BUFFER.
    virtual DevInfo getClassDevs(const Guid& interfaceClass, std::uint32_t flags) = 0;
    virtual bool enumDeviceInterfaces(DevInfo set, const Guid& interfaceClass,
                                      std::uint32_t memberIndex, DeviceInterfaceData* data) = 0;
    virtual bool getDeviceInterfaceDetail(DevInfo set, DeviceInterfaceData* data, void* detail,
                                          std::uint32_t detailSize,
                                          std::uint32_t* requiredSize) = 0;
    virtual bool destroyDeviceInfoList(DevInfo set) = 0;

    // Registry, under HKEY_LOCAL_MACHINE (RegOpenKeyExA, RegQueryValueExA, RegCloseKey).  They
    // return a Win32 error code, 0 on success; they do not set the last-error code.
    virtual long regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                            RegKey* key) = 0;
    virtual long regQueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                               std::uint8_t* data, std::uint32_t* size) = 0;
    virtual long regCloseKey(RegKey key) = 0;

    // Files and overlapped I/O (CreateFileA, ReadFile, WriteFile, DeviceIoControl,
    // GetOverlappedResult, CancelIo, CloseHandle).  createFile returns invalidHandle() on
    // failure.  A request started with a transfer record either completes at once (true) or
    // fails; ERROR_IO_PENDING then means it runs on and signals the record's event when it ends.
    virtual Handle createFile(const char* name, std::uint32_t access, std::uint32_t shareMode,
                              std::uint32_t disposition, std::uint32_t flags) = 0;
    virtual bool readFile(Handle file, void* buffer, std::uint32_t length, std::uint32_t* count,
                          Overlapped* overlapped) = 0;
    virtual bool writeFile(Handle file, const void* buffer, std::uint32_t length,
                           std::uint32_t* count, Overlapped* overlapped) = 0;
    virtual bool deviceIoControl(Handle file, std::uint32_t code, void* in, std::uint32_t inSize,
                                 void* out, std::uint32_t outSize, std::uint32_t* returned,
                                 Overlapped* overlapped) = 0;
    virtual bool getOverlappedResult(Handle file, Overlapped* overlapped, std::uint32_t* count,
                                     bool wait) = 0;
    virtual bool cancelIo(Handle file) = 0;
    virtual bool closeHandle(Handle object) = 0;

    // Events and waits (CreateEventA, ResetEvent, WaitForSingleObject).  createEvent returns
    // null on failure.
    virtual Handle createEvent(bool manualReset, bool initialState) = 0;
    virtual bool resetEvent(Handle event) = 0;
    virtual std::uint32_t waitForSingleObject(Handle object, std::uint32_t timeoutMs) = 0;

    // The calling thread's last-error code (GetLastError, SetLastError).
    virtual std::uint32_t getLastError() = 0;
    virtual void setLastError(std::uint32_t code) = 0;

    // Sleep and MessageBoxA (no owner window).
    virtual void sleep(std::uint32_t ms) = 0;
    virtual int messageBox(const char* text, const char* caption, std::uint32_t style) = 0;
};

// The current backend.
Backend& backend();

// Makes `b` current; null makes the native backend current again.  The caller keeps `b` alive
// while it is current.  Not to be called while another thread is inside the library.
void install(Backend* b);

// The backend this build ships with: Win32 on Windows; elsewhere the best one built in.
Backend& nativeBackend();

// Whether the native backend reaches the system's USB devices at all, and if not, why.  Asked
// when a listing found nothing, to tell "no USB access" from "no board found", which the
// exports cannot tell apart (a count of 0 is a count of 0).  Each native backend answers it.
struct UsbAccess {
    enum class State {
        kAvailable,    // the USB devices can be listed (whether or not a board is among them)
        kNotBuiltIn,   // this build has no way to reach USB devices
        kUnavailable,  // the system gives this program no USB access
    };
    State state = State::kAvailable;
    std::string reason;  // why not, in a few words for a person
};
UsbAccess nativeUsbAccess();

// Installs a backend for one scope and restores the previous one after.
class ScopedBackend {
public:
    explicit ScopedBackend(Backend& b) : previous_(&backend()) { install(&b); }
    ~ScopedBackend() { install(previous_); }
    ScopedBackend(const ScopedBackend&) = delete;
    ScopedBackend& operator=(const ScopedBackend&) = delete;

private:
    Backend* previous_;
};

}  // namespace tarvex::platform
