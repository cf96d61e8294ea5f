// Descriptor and configuration requests: one synchronous driver control request each, on a
// handle the host opened with MPUSBOpen.
#include "platform/export_lock.h"
#include "platform/platform.h"
#include "tarvex.h"
#include "usb/usb.h"

namespace tarvex::usb {
namespace {

using platform::backend;
using platform::Handle;

// USB 2.0 standard descriptor types.
constexpr std::uint8_t kDeviceDescriptor = 1;
constexpr std::uint8_t kConfigurationDescriptor = 2;
constexpr std::uint8_t kStringDescriptor = 3;

// One synchronous control request (no transfer record: it waits for the driver, without a
// time-out).  "No handle" fails as a handle that is not open does, with ERROR_INVALID_HANDLE,
// without being handed to the platform (where all bits set is a pseudo-handle).
bool controlRequest(Handle handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                    std::uint32_t outSize, std::uint32_t* returned) {
    auto& os = backend();
    if (handle == platform::invalidHandle()) {
        os.setLastError(platform::kErrorInvalidHandle);
        return false;
    }
    return os.deviceIoControl(handle, code, in, inSize, out, outSize, returned, nullptr);
}

// Sends CTL_GET_DESCRIPTOR with DscParam = type, index, language ID (little-endian).
std::uint32_t getDescriptor(Handle handle, std::uint8_t type, std::uint8_t index,
                            std::uint16_t languageId, void* descriptor, std::uint32_t size,
                            std::uint32_t* length) {
    std::uint8_t DscParam[4] = {type, index, static_cast<std::uint8_t>(languageId & 0xFF),
                                static_cast<std::uint8_t>(languageId >> 8)};
    // A synchronous request needs somewhere to put its byte count even when the caller asks for
    // none; the caller's length is written only with a success, so a failure leaves it 0.
    std::uint32_t received = 0;
    if (!controlRequest(handle, CTL_GET_DESCRIPTOR, DscParam, sizeof DscParam, descriptor, size,
                        &received)) {
        printDiagnostic("Get dsc error: %d");
        return 0;
    }
    if (length) *length = received;
    return 1;
}

}  // namespace
}  // namespace tarvex::usb

using namespace tarvex::usb;

extern "C" TARVEX_API uint32_t TARVEX_CALL MPUSBGetDeviceDescriptor(TARVEX_HANDLE handle,
                                                                    void* descriptor,
                                                                    uint32_t size,
                                                                    uint32_t* length) {
    const tarvex::platform::ExportLock lock;
    if (length) *length = 0;
    if (descriptor == nullptr) return 0;
    return getDescriptor(handle, kDeviceDescriptor, 0, 0, descriptor, size, length);
}

extern "C" TARVEX_API uint32_t TARVEX_CALL MPUSBGetConfigurationDescriptor(TARVEX_HANDLE handle,
                                                                           uint8_t configIndex,
                                                                           void* descriptor,
                                                                           uint32_t size,
                                                                           uint32_t* length) {
    const tarvex::platform::ExportLock lock;
    if (length) *length = 0;
    if (descriptor == nullptr) return 0;
    // The caller counts configurations from 1, the device from 0.
    if (configIndex == 0) return 0;
    return getDescriptor(handle, kConfigurationDescriptor,
                         static_cast<std::uint8_t>(configIndex - 1), 0, descriptor, size, length);
}

extern "C" TARVEX_API uint32_t TARVEX_CALL MPUSBGetStringDescriptor(TARVEX_HANDLE handle,
                                                                    uint8_t stringIndex,
                                                                    uint16_t languageId,
                                                                    void* descriptor,
                                                                    uint32_t size,
                                                                    uint32_t* length) {
    const tarvex::platform::ExportLock lock;
    if (length) *length = 0;
    if (descriptor == nullptr) return 0;
    return getDescriptor(handle, kStringDescriptor, stringIndex, languageId, descriptor, size,
                         length);
}

extern "C" TARVEX_API uint32_t TARVEX_CALL MPUSBSetConfiguration(TARVEX_HANDLE handle,
                                                                 uint16_t configValue) {
    const tarvex::platform::ExportLock lock;
    // Only the configuration value travels; bytes 1 to 3 are sent as zeros.
    std::uint8_t cfgParam[4] = {static_cast<std::uint8_t>(configValue & 0xFF), 0, 0, 0};
    std::uint8_t dwReturnData[4] = {};
    std::uint32_t dwReqLen = 0;
    if (!controlRequest(handle, CTL_SET_CONFIGURATION, cfgParam, sizeof cfgParam, dwReturnData,
                        sizeof dwReturnData, &dwReqLen)) {
        printDiagnostic("Set configuration error: %d");
        return 0;
    }
    return 1;
}

extern "C" TARVEX_API uint32_t TARVEX_CALL MPUSBGetDLLVersion(void) { return MPUSB_DLL_VERSION; }
