// Requests on open handles: overlapped transfers on the data pipe, control requests, and the
// outcome, wait and cancel of a request.
#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/libusb/errors.h"
#include "platform/libusb/libusb_backend.h"
#include "platform/driver.h"

namespace tarvex::platform::libusb {
namespace {

// A standard request must be answered within five seconds; a device that does not is broken,
// and the request fails with ERROR_SEM_TIMEOUT instead of blocking for ever.
constexpr unsigned kControlTimeoutMs = 5000;

// bmRequestType of a standard request to the device with data to the host.
constexpr std::uint8_t kStandardDeviceIn = 0x80;

// usbfs refuses a control request with more data than this.  No descriptor is longer (the
// longest a configuration descriptor can say of itself is 65535, but no real one comes near).
constexpr std::uint32_t kControlDataLimit = 4096;

// How long a device has to answer the request that tells whether it is still there.
constexpr unsigned kPresenceTimeoutMs = 250;

// The access a control code demands of the handle, from its access bits.
bool accessAllows(std::uint32_t code, bool canRead, bool canWrite) {
    std::uint32_t required = (code >> 14) & 3;
    return (!(required & 1) || canRead) && (!(required & 2) || canWrite);
}

}  // namespace

bool LibusbBackend::readFile(Handle file, void* buffer, std::uint32_t length, std::uint32_t* count,
                             Overlapped* overlapped) {
    return startTransfer(file, Direction::kIn, buffer, length, count, overlapped);
}

bool LibusbBackend::writeFile(Handle file, const void* buffer, std::uint32_t length,
                              std::uint32_t* count, Overlapped* overlapped) {
    // libusb takes one buffer type for both directions; an OUT transfer only reads it.
    return startTransfer(file, Direction::kOut, const_cast<void*>(buffer), length, count,
                         overlapped);
}

bool LibusbBackend::deviceIoControl(Handle file, std::uint32_t code, void* in, std::uint32_t inSize,
                                    void* out, std::uint32_t outSize, std::uint32_t* returned,
                                    Overlapped* overlapped) {
    std::shared_ptr<File> found;
    {
        std::lock_guard lock(mutex_);
        found = find<File>(file);
    }
    if (!found) return fail(kErrorInvalidHandle);
    if (!accessAllows(code, found->canRead, found->canWrite)) return fail(kErrorAccessDenied);
    switch (code) {
        // The interrupt read is a read of the IN data endpoint.  Windows' USB stack moves bulk and
        // interrupt data with the same request, so it works whichever type the endpoint has; so it
        // does here, where the transfer takes the endpoint's own type.
        case driver::CTL_READ_INTERRUPT:
            return startTransfer(file, Direction::kIn, out, outSize, returned, overlapped);
        case driver::CTL_GET_DESCRIPTOR:
            return getDescriptor(*found, in, inSize, out, outSize, returned, overlapped);
        case driver::CTL_SET_CONFIGURATION:
            return setConfiguration(*found, in, inSize, returned, overlapped);
        default:
            return fail(kErrorInvalidFunction);
    }
}

// ---- overlapped transfers on the data pipe ----

bool LibusbBackend::startTransfer(Handle file, Direction direction, void* buffer,
                                  std::uint32_t length, std::uint32_t* count,
                                  Overlapped* overlapped) {
    if (count) *count = 0;
    if (!overlapped) {
        // A blocking request is an overlapped one waited for to its end.
        Overlapped own{};
        if (startTransfer(file, direction, buffer, length, nullptr, &own)) return true;
        if (getLastError() != kErrorIoPending) return false;
        return getOverlappedResult(file, &own, count, true);
    }

    std::shared_ptr<File> found;
    {
        std::lock_guard lock(mutex_);
        found = find<File>(file);
    }
    if (!found) return fail(kErrorInvalidHandle);
    if (found->kind != FileKind::kDataPipe) return fail(kErrorInvalidFunction);
    bool in = direction == Direction::kIn;
    if (in ? !found->canRead : !found->canWrite) return fail(kErrorAccessDenied);
    if (length > INT_MAX) return fail(kErrorInvalidParameter);
    if (!buffer && length > 0) return fail(kErrorNoAccess);

    Device& device = *found->device;
    unsigned char endpoint = in ? kDataInEndpoint : kDataOutEndpoint;
    // A stall leaves the endpoint halted until it is cleared; an overflow or a transaction error
    // can leave the data toggles of host and device out of step, so that the next packet is
    // dropped as a repeat.  Clearing the halt before the next request mends both.
    if ((in ? device.clearInFirst : device.clearOutFirst).exchange(false))
        libusb_clear_halt(device.handle, endpoint);

    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (!transfer) return fail(kErrorNotEnoughMemory);
    auto* request =
        new Request{this, found.get(), overlapped, overlapped->event, std::this_thread::get_id(),
                    0,    transfer,    endpoint, {}, nullptr, 0};
    auto* bytes = static_cast<unsigned char*>(buffer);
    int size = static_cast<int>(length);
    if (in) {
        // The device sends whole packets, and a board may pad a 3-byte reply to a full one: a
        // read of fewer bytes than the packet would end in an overflow.  So the read takes whole
        // packets, and the caller gets the bytes it asked for, as from the Windows driver.
        std::uint64_t packet = device.pipes.inPacketSize;
        std::uint64_t whole = (std::uint64_t{length} + packet - 1) / packet * packet;
        if (whole <= INT_MAX) {
            request->packets.resize(static_cast<std::size_t>(whole));
            request->buffer = bytes;
            request->length = length;
            bytes = request->packets.data();
            size = static_cast<int>(whole);
        }
    }
    unsigned char type = in ? device.pipes.inType : device.pipes.outType;
    if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT)
        libusb_fill_interrupt_transfer(transfer, device.handle, endpoint, bytes, size,
                                       &LibusbBackend::onTransferEnded, request, 0);
    else
        libusb_fill_bulk_transfer(transfer, device.handle, endpoint, bytes, size,
                                  &LibusbBackend::onTransferEnded, request, 0);

    std::uint32_t error = kErrorSuccess;
    {
        std::lock_guard lock(mutex_);
        // Closed by another thread meanwhile: its close no longer waits for new requests.
        if (find<File>(file) != found) {
            error = kErrorInvalidHandle;
        } else {
            overlapped->internal = kStatusPending;
            overlapped->internalHigh = 0;
            int result = libusb_submit_transfer(transfer);
            if (result == LIBUSB_SUCCESS) {
                request->serial = nextSerial_++;
                found->pending.push_back(request);
            } else {
                error = win32FromLibusb(result);  // ERROR_DEVICE_NOT_CONNECTED once unplugged
                overlapped->internal = ntStatusFromWin32(error);
            }
        }
    }
    if (error != kErrorSuccess) {
        libusb_free_transfer(transfer);
        delete request;
        return fail(error);
    }
    return fail(kErrorIoPending);
}

void LIBUSB_CALL LibusbBackend::onTransferEnded(libusb_transfer* transfer) {
    auto* request = static_cast<Request*>(transfer->user_data);
    request->backend->finish(request);
}

void LibusbBackend::finish(Request* request) {
    libusb_transfer* transfer = request->transfer;
    std::uint32_t error = win32FromTransferStatus(transfer->status);
    auto moved = static_cast<std::uint32_t>(std::max(transfer->actual_length, 0));
    if (request->buffer) {
        moved = std::min(moved, request->length);
        if (moved > 0) std::memcpy(request->buffer, request->packets.data(), moved);
    }
    {
        std::lock_guard lock(mutex_);
        File& file = *request->file;
        if (transfer->status == LIBUSB_TRANSFER_STALL ||
            transfer->status == LIBUSB_TRANSFER_OVERFLOW ||
            transfer->status == LIBUSB_TRANSFER_ERROR)
            (request->endpoint == kDataInEndpoint ? file.device->clearInFirst
                                                  : file.device->clearOutFirst) = true;
        Overlapped& overlapped = *request->overlapped;
        overlapped.internalHigh = moved;
        overlapped.internal = transfer->status == LIBUSB_TRANSFER_ERROR ? kStatusTransactionError
                                                                        : ntStatusFromWin32(error);
        signal(request->event);
        std::erase(file.pending, request);
    }
    libusb_free_transfer(transfer);
    delete request;
}

bool LibusbBackend::isPending(const File& file, const Overlapped* overlapped) const {
    return std::any_of(file.pending.begin(), file.pending.end(),
                       [&](const Request* request) { return request->overlapped == overlapped; });
}

bool LibusbBackend::getOverlappedResult(Handle file, Overlapped* overlapped, std::uint32_t* count,
                                        bool wait) {
    std::shared_ptr<File> found;
    bool pending = false;
    {
        std::lock_guard lock(mutex_);
        found = find<File>(file);
        if (!found) return fail(kErrorInvalidHandle);
        if (!overlapped) return fail(kErrorInvalidParameter);
        pending = isPending(*found, overlapped);
    }
    if (pending) {
        if (!wait) return fail(kErrorIoIncomplete);
        waitUntil([&] { return !isPending(*found, overlapped); });
    }
    bool askDevice = false;
    {
        std::lock_guard lock(mutex_);
        askDevice = overlapped->internal == kStatusTransactionError;
    }
    if (askDevice) {
        // Pulled out in the middle of a transfer, a device usually ends it with a transaction
        // error before the kernel notices that it has gone.  One that no longer answers on its
        // control pipe is reported gone, as Windows reports it.
        std::uint32_t error =
            stillPresent(*found->device) ? kErrorGenFailure : kErrorDeviceNotConnected;
        std::lock_guard lock(mutex_);
        if (overlapped->internal == kStatusTransactionError)
            overlapped->internal = ntStatusFromWin32(error);
    }
    std::lock_guard lock(mutex_);
    if (overlapped->internal == kStatusPending) return fail(kErrorIoIncomplete);
    if (count) *count = static_cast<std::uint32_t>(overlapped->internalHigh);
    std::uint32_t error = win32FromNtStatus(overlapped->internal);
    return error == kErrorSuccess ? true : fail(error);
}

bool LibusbBackend::stillPresent(Device& device) {
    unsigned char status[2];
    int result =
        libusb_control_transfer(device.handle, kStandardDeviceIn, LIBUSB_REQUEST_GET_STATUS, 0, 0,
                                status, sizeof status, kPresenceTimeoutMs);
    return result >= 0 || result == LIBUSB_ERROR_PIPE;  // a stall is an answer too
}

// Cancels the requests the calling thread started on the handle, as Windows' CancelIo does, and
// returns once they have ended, so the caller's buffer and transfer record are free again.
bool LibusbBackend::cancelIo(Handle file) {
    std::shared_ptr<File> found;
    std::vector<std::uint64_t> cancelled;
    {
        std::lock_guard lock(mutex_);
        found = find<File>(file);
        if (!found) return fail(kErrorInvalidHandle);
        for (Request* request : found->pending) {
            if (request->thread != std::this_thread::get_id()) continue;
            libusb_cancel_transfer(request->transfer);
            cancelled.push_back(request->serial);
        }
    }
    if (!cancelled.empty())
        waitUntil(
            [&] {
                return std::none_of(
                    found->pending.begin(), found->pending.end(), [&](const Request* request) {
                        return std::find(cancelled.begin(), cancelled.end(), request->serial) !=
                               cancelled.end();
                    });
            },
            kCancelLimit);
    return true;
}

// ---- control requests ----

// A request the device answered at once: with a transfer record it is complete and its event
// signalled, as Windows does for a request that does not pend.
bool LibusbBackend::completeAtOnce(Overlapped* overlapped, std::uint32_t count,
                                   std::uint32_t* returned) {
    if (returned) *returned = count;
    if (overlapped) {
        std::lock_guard lock(mutex_);
        overlapped->internal = ntStatusFromWin32(kErrorSuccess);
        overlapped->internalHigh = count;
        signal(overlapped->event);
    }
    return true;
}

// Input: descriptor type, index, language id (little-endian).  A GET_DESCRIPTOR request to the
// device for up to the output size, or up to the most usbfs takes; the device's answer, however
// long, is the result.
bool LibusbBackend::getDescriptor(File& file, const void* in, std::uint32_t inSize, void* out,
                                  std::uint32_t outSize, std::uint32_t* returned,
                                  Overlapped* overlapped) {
    if (returned) *returned = 0;
    if (!in || inSize < 4) return fail(kErrorInvalidParameter);
    if (!out && outSize > 0) return fail(kErrorNoAccess);
    const auto* param = static_cast<const std::uint8_t*>(in);
    auto value = static_cast<std::uint16_t>(param[0] << 8 | param[1]);
    auto language = static_cast<std::uint16_t>(param[2] | param[3] << 8);
    auto length = static_cast<std::uint16_t>(std::min(outSize, kControlDataLimit));
    int result = libusb_control_transfer(
        file.device->handle, kStandardDeviceIn, LIBUSB_REQUEST_GET_DESCRIPTOR, value, language,
        static_cast<unsigned char*>(out), length, kControlTimeoutMs);
    if (result < 0) return fail(win32FromLibusb(result));  // a stall: ERROR_GEN_FAILURE
    return completeAtOnce(overlapped, static_cast<std::uint32_t>(result), returned);
}

// Input byte 0: the configuration value.  The kernel refuses to change the configuration while
// any interface is claimed, by this program or by a kernel driver, so the data interface is
// released around the change (without handing it back to a kernel driver) and claimed again for
// the pipes still open.  Nothing is written to the output.
bool LibusbBackend::setConfiguration(File& file, const void* in, std::uint32_t inSize,
                                     std::uint32_t* returned, Overlapped* overlapped) {
    if (returned) *returned = 0;
    if (!in || inSize < 1) return fail(kErrorInvalidParameter);
    int value = static_cast<const std::uint8_t*>(in)[0];
    Device& device = *file.device;
    int result = LIBUSB_SUCCESS;
    int claim = LIBUSB_SUCCESS;
    {
        std::lock_guard lock(device.claimMutex);
        if (device.claimed) {
            libusb_set_auto_detach_kernel_driver(device.handle, 0);
            libusb_release_interface(device.handle, kDataInterface);
            libusb_set_auto_detach_kernel_driver(device.handle, 1);
            device.claimed = false;
        }
        result = libusb_set_configuration(device.handle, value);
        // The kernel binds its drivers to the interfaces of the configuration it sets; the
        // claim detaches the one on the data interface again.
        if (device.pipeHandles > 0) {
            claim = libusb_claim_interface(device.handle, kDataInterface);
            device.claimed = claim == LIBUSB_SUCCESS;
        }
    }
    if (result == LIBUSB_ERROR_NOT_FOUND) return fail(kErrorInvalidParameter);  // no such value
    if (result != LIBUSB_SUCCESS) return fail(win32FromLibusb(result));
    // The pipes still open are of no use without the interface.
    if (claim != LIBUSB_SUCCESS) return fail(win32FromClaim(claim));
    return completeAtOnce(overlapped, 0, returned);
}

}  // namespace tarvex::platform::libusb
