#include "platform/libusb/errors.h"

#include "platform/platform.h"

namespace tarvex::platform::libusb {

std::uint32_t win32FromLibusb(int error) {
    switch (error) {
        case LIBUSB_SUCCESS:
            return kErrorSuccess;
        case LIBUSB_ERROR_INVALID_PARAM:
            return kErrorInvalidParameter;
        case LIBUSB_ERROR_ACCESS:
            return kErrorAccessDenied;
        case LIBUSB_ERROR_NO_DEVICE:
            return kErrorDeviceNotConnected;
        case LIBUSB_ERROR_NOT_FOUND:
            return kErrorFileNotFound;
        case LIBUSB_ERROR_BUSY:
            return kErrorBusy;
        case LIBUSB_ERROR_TIMEOUT:
            return kErrorSemTimeout;
        case LIBUSB_ERROR_OVERFLOW:
            return kErrorMoreData;
        case LIBUSB_ERROR_INTERRUPTED:
            return kErrorOperationAborted;
        case LIBUSB_ERROR_NO_MEM:
            return kErrorNotEnoughMemory;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return kErrorNotSupported;
        case LIBUSB_ERROR_PIPE:
        case LIBUSB_ERROR_IO:
        default:
            return kErrorGenFailure;
    }
}

std::uint32_t win32FromClaim(int error) {
    if (error == LIBUSB_ERROR_BUSY) return kErrorSharingViolation;
    if (error == LIBUSB_ERROR_NO_DEVICE || error == LIBUSB_ERROR_NOT_FOUND)
        return kErrorFileNotFound;
    return win32FromLibusb(error);
}

std::uint32_t win32FromTransferStatus(libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return kErrorSuccess;
        case LIBUSB_TRANSFER_CANCELLED:
            return kErrorOperationAborted;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return kErrorDeviceNotConnected;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return kErrorSemTimeout;
        case LIBUSB_TRANSFER_OVERFLOW:
            return kErrorMoreData;  // the device sent more than asked for
        case LIBUSB_TRANSFER_STALL:
        case LIBUSB_TRANSFER_ERROR:
        default:
            return kErrorGenFailure;
    }
}

namespace {

struct StatusPair {
    std::uintptr_t ntStatus;
    std::uint32_t win32;
};

// Each status as Windows translates it to a Win32 code.
constexpr StatusPair kStatuses[] = {
    {0x00000000, kErrorSuccess},
    {0xC0000120, kErrorOperationAborted},    // STATUS_CANCELLED
    {0xC000009D, kErrorDeviceNotConnected},  // STATUS_DEVICE_NOT_CONNECTED
    {0xC00000B5, kErrorSemTimeout},          // STATUS_IO_TIMEOUT
    {0x80000005, kErrorMoreData},            // STATUS_BUFFER_OVERFLOW
    {0xC0000017, kErrorNotEnoughMemory},     // STATUS_NO_MEMORY
    {0xC000000D, kErrorInvalidParameter},    // STATUS_INVALID_PARAMETER
    {0xC00000BB, kErrorNotSupported},        // STATUS_NOT_SUPPORTED
    {0xC0000022, kErrorAccessDenied},        // STATUS_ACCESS_DENIED
    {0xC0000001, kErrorGenFailure},          // STATUS_UNSUCCESSFUL
};
constexpr std::uintptr_t kStatusUnsuccessful = 0xC0000001;

}  // namespace

std::uintptr_t ntStatusFromWin32(std::uint32_t error) {
    for (const StatusPair& pair : kStatuses)
        if (pair.win32 == error) return pair.ntStatus;
    return kStatusUnsuccessful;
}

std::uint32_t win32FromNtStatus(std::uintptr_t status) {
    for (const StatusPair& pair : kStatuses)
        if (pair.ntStatus == status) return pair.win32;
    return kErrorGenFailure;
}

}  // namespace tarvex::platform::libusb
