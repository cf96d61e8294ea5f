// The port table: per board index, the pipe the library writes packets on and the pipe it reads
// replies from, and the send / send-and-receive primitives every board command goes through.
#include "port/port_table.h"

#include <initializer_list>

#include "platform/export_lock.h"
#include "tarvex.h"
#include "usb/usb.h"

namespace tarvex::port {
namespace {

using platform::Handle;
using platform::invalidHandle;

// Every entry holds 0 at load: "never opened".  A transfer on such a row reaches the pipe layer
// with the handle 0, which the system rejects as an invalid handle, and the row is dropped.
Handle outPipe[kPortCount] = {};
Handle inPipe[kPortCount] = {};

// Only the low 16 bits of an index count.  Indexes 32 and above have no row: every operation
// refuses them with its failure result before any I/O.
bool rowOf(std::uint32_t index, std::uint16_t& row) {
    row = static_cast<std::uint16_t>(index & 0xFFFF);
    return row < kPortCount;
}

// A row with either pipe missing takes no transfer (the read pipe is checked even for a send).
bool usable(std::uint16_t row) {
    return outPipe[row] != invalidHandle() && inPipe[row] != invalidHandle();
}

}  // namespace

void InvalidateUSBPort(std::uint32_t index) {
    std::uint16_t row;
    if (!rowOf(index, row)) return;
    auto& os = platform::backend();
    const std::uint32_t code = os.getLastError();
    // Only a handle the system no longer accepts drops the row; a time-out or any other error
    // leaves the pipes open for the next command.
    if (code != platform::kErrorInvalidHandle) return;
    MPUSBClose(outPipe[row]);
    MPUSBClose(inPipe[row]);
    inPipe[row] = invalidHandle();
    outPipe[row] = invalidHandle();
    os.setLastError(code);
}

Handle outPipeOf(std::uint32_t index) {
    std::uint16_t row;
    return rowOf(index, row) ? outPipe[row] : invalidHandle();
}

Handle inPipeOf(std::uint32_t index) {
    std::uint16_t row;
    return rowOf(index, row) ? inPipe[row] : invalidHandle();
}

int sendPacket(std::uint32_t index, const std::uint8_t* data, std::uint32_t dataLength,
               std::uint32_t writeTimeoutMs) {
    std::uint16_t row;
    if (!rowOf(index, row) || !usable(row)) return 0;
    // Bytes that are not there are not sent (an empty packet with no data is passed on).
    if (data == nullptr && dataLength != 0) return 0;

    std::uint32_t SentDataLength = 0;
    if (usb::pipeWrite(outPipe[row], data, dataLength, &SentDataLength, writeTimeoutMs)) return 1;
    InvalidateUSBPort(row);
    return 0;
}

int sendReceivePacket(std::uint32_t index, const std::uint8_t* data, std::uint32_t dataLength,
                      std::uint8_t* reply, std::uint32_t* replyLength,
                      std::uint32_t writeTimeoutMs, std::uint32_t readTimeoutMs) {
    // Without a count there is no expected length to ask for and nowhere to report one.
    if (replyLength == nullptr) return XFER_FAIL;
    const std::uint32_t expected = *replyLength;

    std::uint16_t row;
    if (!rowOf(index, row) || !usable(row)) return XFER_FAIL;
    if ((data == nullptr && dataLength != 0) || (reply == nullptr && expected != 0))
        return XFER_FAIL;

    std::uint32_t SentDataLength = 0;
    if (!usb::pipeWrite(outPipe[row], data, dataLength, &SentDataLength, writeTimeoutMs)) {
        InvalidateUSBPort(row);
        return XFER_FAIL;
    }
    // The reply lands straight in the caller's buffer; *replyLength becomes the count received
    // (0 after a failed read).
    if (!usb::pipeRead(inPipe[row], reply, expected, replyLength, readTimeoutMs)) {
        InvalidateUSBPort(row);
        return XFER_FAIL;
    }
    if (*replyLength == expected) return XFER_OK;
    if (*replyLength < expected) return XFER_SHORT;
    return XFER_FAIL;
}

}  // namespace tarvex::port

using namespace tarvex::port;

extern "C" TARVEX_API int TARVEX_CALL OpenUSBPort(uint32_t index) {
    const tarvex::platform::ExportLock lock;
    std::uint16_t row;
    if (!rowOf(index, row)) return 0;
    // Pipes the row still holds belong to the table and nobody else can close them: left open
    // they would leak and, with a driver that refuses a second open, keep the board from ever
    // opening again in this process.  So they are closed first (results ignored, as the open's
    // outcome is what counts); a never-opened or already dropped entry has nothing to close.
    for (Handle* entry : {&outPipe[row], &inPipe[row]}) {
        if (*entry != nullptr && *entry != invalidHandle()) MPUSBClose(*entry);
        *entry = invalidHandle();
    }
    // The read pipe is opened even when the write pipe did not open, so a half-open row records
    // which half failed.
    outPipe[row] = MPUSBOpen(row, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, PIPE_WRITE, 0);
    inPipe[row] = MPUSBOpen(row, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, PIPE_READ, 0);
    return usable(row) ? 1 : 0;
}

extern "C" TARVEX_API int TARVEX_CALL CloseUSBPort(uint32_t index) {
    const tarvex::platform::ExportLock lock;
    std::uint16_t row;
    if (!rowOf(index, row)) return 0;
    const int r1 = MPUSBClose(outPipe[row]);
    const int r2 = MPUSBClose(inPipe[row]);
    // A closed row reads as an invalidated one, so a later transfer or a second close never
    // reaches the closed handles (which the system may already have given to someone else).
    inPipe[row] = invalidHandle();
    outPipe[row] = invalidHandle();
    return r1 & r2;
}

extern "C" TARVEX_API int TARVEX_CALL SendUSBPacket(uint32_t index, const uint8_t* data,
                                                    uint32_t dataLength,
                                                    uint32_t writeTimeoutMs) {
    const tarvex::platform::ExportLock lock;
    return sendPacket(index, data, dataLength, writeTimeoutMs);
}

extern "C" TARVEX_API int TARVEX_CALL SendReceiveUSBPacket(uint32_t index, const uint8_t* data,
                                                           uint32_t dataLength, uint8_t* reply,
                                                           uint32_t* replyLength,
                                                           uint32_t writeTimeoutMs,
                                                           uint32_t readTimeoutMs) {
    const tarvex::platform::ExportLock lock;
    return sendReceivePacket(index, data, dataLength, reply, replyLength, writeTimeoutMs,
                             readTimeoutMs);
}
