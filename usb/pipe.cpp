// Pipe access: open a pipe of a board's interface, move data through it with a time-out, close
// it.  Each transfer is one overlapped request: start it, look at the last-error code, wait on
// the event for the time-out, cancel on expiry.
#include <cstring>

#include "platform/export_lock.h"
#include "platform/platform.h"
#include "tarvex.h"
#include "usb/usb.h"

namespace tarvex::usb {
namespace {

using platform::backend;
using platform::Handle;
using platform::Overlapped;

// The interface path and the name opened (path plus pipe name), 259 characters at most each.
constexpr std::size_t kPathSize = 260;

enum class Request { kRead, kWrite, kReadInt };

bool startRequest(Request kind, Handle handle, void* data, std::uint32_t dataLength,
                  std::uint32_t* count, Overlapped* overlapped) {
    auto& os = backend();
    switch (kind) {
        case Request::kRead:
            return os.readFile(handle, data, dataLength, count, overlapped);
        case Request::kWrite:
            return os.writeFile(handle, data, dataLength, count, overlapped);
        case Request::kReadInt:
            return os.deviceIoControl(handle, CTL_READ_INTERRUPT, nullptr, 0, data, dataLength,
                                      count, overlapped);
    }
    return false;
}

// After a cancel the driver may still complete the request; it must have ended before the call
// returns, or it would write into the caller's buffer, the transfer record or a closed event.
// Waiting for its outcome (whatever it is: a cancelled request ends without data, one that won
// the race ends with it) settles that; the outcome itself is not reported.
void cancelAndSettle(Handle handle, Overlapped* gOverlapped) {
    KeepLastError keep;
    auto& os = backend();
    os.cancelIo(handle);
    std::uint32_t settled = 0;
    os.getOverlappedResult(handle, gOverlapped, &settled, true);
}

// The timed transfer shared by MPUSBRead, MPUSBWrite and MPUSBReadInt.
std::uint32_t timedTransfer(Request kind, Handle handle, void* data, std::uint32_t dataLength,
                            std::uint32_t* length, std::uint32_t timeoutMs) {
    auto& os = backend();
    std::uint32_t result = 0;

    Overlapped gOverlapped{};
    gOverlapped.event = os.createEvent(false, false);

    if (length) *length = 0;

    std::uint32_t count = 0;  // nBytesRead / nBytesWritten
    if (kind == Request::kReadInt && data == nullptr) {
        os.setLastError(platform::kErrorNoAccess);
    } else if (data == nullptr && dataLength != 0) {
        // A read or write of bytes that are not there is refused like an interrupt read into no
        // buffer, before anything reaches the driver.
        os.setLastError(platform::kErrorNoAccess);
    } else if (handle == platform::invalidHandle()) {
        // "No handle" is not a usable open handle: it fails as such a request does, with
        // ERROR_INVALID_HANDLE, without being handed to the platform (where all bits set is a
        // pseudo-handle on which some calls succeed).
        os.setLastError(platform::kErrorInvalidHandle);
    } else if (startRequest(kind, handle, data, dataLength, &count, &gOverlapped)) {
        if (length) *length = count;
        result = 1;
    } else {
        std::uint32_t code = os.getLastError();
        if (code == platform::kErrorHandleEof) {
            // End of data: the request is over; nothing to wait for or cancel.
        } else if (code == platform::kErrorIoPending) {
            const std::uint32_t wait = os.waitForSingleObject(gOverlapped.event, timeoutMs);
            if (wait == platform::kWaitObject0) {
                if (os.getOverlappedResult(handle, &gOverlapped, &count, false)) {
                    if (length) *length = count;
                    result = 1;
                } else {
                    code = os.getLastError();
                    printDiagnostic("Error: %d");
                    // Our event was signalled by someone else while the request still runs: it
                    // must end before the record and the buffer go away.
                    if (code == platform::kErrorIoIncomplete) cancelAndSettle(handle, &gOverlapped);
                }
            } else {
                // A time-out leaves ERROR_IO_PENDING for the caller; a failed wait its own code.
                if (wait == platform::kWaitFailed) code = os.getLastError();
                cancelAndSettle(handle, &gOverlapped);
                os.setLastError(code);
            }
        } else {
            // Refused at once: nothing is in flight, but the request is cancelled all the same.
            KeepLastError keep;
            os.cancelIo(handle);
        }
    }

    // The event goes on every path, without touching the code the caller is to see.  Without an
    // event (its creation failed) there is nothing to release.
    if (gOverlapped.event != nullptr) {
        KeepLastError keep;
        os.resetEvent(gOverlapped.event);
        os.closeHandle(gOverlapped.event);
    }
    return result;
}

}  // namespace

std::uint32_t pipeRead(Handle handle, void* data, std::uint32_t dataLength, std::uint32_t* length,
                       std::uint32_t timeoutMs) {
    return timedTransfer(Request::kRead, handle, data, dataLength, length, timeoutMs);
}

std::uint32_t pipeWrite(Handle handle, const void* data, std::uint32_t dataLength,
                        std::uint32_t* length, std::uint32_t timeoutMs) {
    // The write only reads from `data`; the shared transfer takes it as a plain buffer.
    return timedTransfer(Request::kWrite, handle, const_cast<void*>(data), dataLength, length,
                         timeoutMs);
}

}  // namespace tarvex::usb

using namespace tarvex::usb;

extern "C" TARVEX_API TARVEX_HANDLE TARVEX_CALL MPUSBOpen(uint32_t instance, const char* vidPid,
                                                          const char* pipeName,
                                                          uint32_t direction,
                                                          uint32_t /*reserved*/) {
    const tarvex::platform::ExportLock lock;
    namespace platform = tarvex::platform;
    Handle result = platform::invalidHandle();
    if (vidPid == nullptr || (direction != PIPE_WRITE && direction != PIPE_READ)) return result;

    char path[kPathSize];
    std::uint32_t dwReqLen = 0;
    if (GetInterfacePath(instance, vidPid, path, sizeof path, &dwReqLen) != PATH_OK)
        return result;

    // A name that does not fit path_io (260 characters or more) could only be opened cut short,
    // which would name another file: refused.
    const std::size_t pathChars = std::strlen(path);
    const std::size_t pipeChars = pipeName ? std::strlen(pipeName) : 0;
    if (pathChars + pipeChars >= kPathSize) return result;
    char path_io[kPathSize];
    std::memcpy(path_io, path, pathChars);
    if (pipeName) std::memcpy(path_io + pathChars, pipeName, pipeChars);
    path_io[pathChars + pipeChars] = '\0';

    const std::uint32_t access =
        direction == PIPE_READ ? platform::kGenericRead : platform::kGenericWrite;
    return platform::backend().createFile(
        path_io, access, 0, platform::kOpenExisting,
        platform::kFileFlagOverlapped | platform::kFileAttributeNormal);
}

extern "C" TARVEX_API uint32_t TARVEX_CALL MPUSBRead(TARVEX_HANDLE handle, void* data,
                                                     uint32_t dataLength, uint32_t* length,
                                                     uint32_t timeoutMs) {
    const tarvex::platform::ExportLock lock;
    return pipeRead(handle, data, dataLength, length, timeoutMs);
}

extern "C" TARVEX_API uint32_t TARVEX_CALL MPUSBWrite(TARVEX_HANDLE handle, const void* data,
                                                      uint32_t dataLength, uint32_t* length,
                                                      uint32_t timeoutMs) {
    const tarvex::platform::ExportLock lock;
    return pipeWrite(handle, data, dataLength, length, timeoutMs);
}

extern "C" TARVEX_API uint32_t TARVEX_CALL MPUSBReadInt(TARVEX_HANDLE handle, void* data,
                                                        uint32_t dataLength, uint32_t* length,
                                                        uint32_t timeoutMs) {
    const tarvex::platform::ExportLock lock;
    return timedTransfer(Request::kReadInt, handle, data, dataLength, length, timeoutMs);
}

extern "C" TARVEX_API int TARVEX_CALL MPUSBClose(TARVEX_HANDLE handle) {
    const tarvex::platform::ExportLock lock;
    if (handle == tarvex::platform::invalidHandle()) return 1;
    return tarvex::platform::backend().closeHandle(handle) ? 1 : 0;
}
