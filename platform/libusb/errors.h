// How libusb's outcomes read in the library's error vocabulary, the Win32 error numbers.
#pragma once

#include <cstdint>

#include <libusb.h>

namespace tarvex::platform::libusb {

// Win32 codes this backend gives besides those of the seam.
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;

// A failed libusb call.  LIBUSB_ERROR_PIPE (the device stalled) reads as ERROR_GEN_FAILURE, as
// a stalled pipe does on Windows; a vanished device as ERROR_DEVICE_NOT_CONNECTED.
std::uint32_t win32FromLibusb(int error);

// A failed claim of the board's data interface: held by another program, ERROR_SHARING_VIOLATION;
// gone, ERROR_FILE_NOT_FOUND.
std::uint32_t win32FromClaim(int error);

// How an asynchronous transfer ended; 0 for a completed one, short or not.
std::uint32_t win32FromTransferStatus(libusb_transfer_status status);

// The transfer record keeps a request's state as Windows keeps it, an NTSTATUS: pending while
// the request runs, then the status it ended with.
constexpr std::uintptr_t kStatusPending = 0x103;
// A request that ended in a transaction error, until the one who asks for its outcome has looked
// whether the device is still there (STATUS_IO_DEVICE_ERROR).
constexpr std::uintptr_t kStatusTransactionError = 0xC0000185;
std::uintptr_t ntStatusFromWin32(std::uint32_t error);
std::uint32_t win32FromNtStatus(std::uintptr_t status);

}  // namespace tarvex::platform::libusb
