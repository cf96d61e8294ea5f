// A named pipe standing in for one of the board's data pipes.  The test holds the device's end;
// the host's end is opened the way MPUSBOpen opens a pipe (one direction, no sharing, overlapped)
// and handed to the library's transfers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvex::wine {

using Bytes = std::vector<std::uint8_t>;

class DevicePipe {
public:
    // PIPE_READ: the host reads what the device end sends.  PIPE_WRITE: the host writes and the
    // device end receives; with `bufferBytes` 0 a host write waits until the device end reads.
    explicit DevicePipe(std::uint32_t direction, DWORD bufferBytes = 4096);
    ~DevicePipe();
    DevicePipe(const DevicePipe&) = delete;
    DevicePipe& operator=(const DevicePipe&) = delete;

    // The host's end (null if the pipe could not be made).
    HANDLE host() const { return host_; }
    // Closes the host's end; host() keeps the value, which now names no open handle.
    void closeHost();
    // The host's end is someone else's to close from now on.
    HANDLE takeHost() {
        hostOpen_ = false;
        return host_;
    }

    // ---- the device's end ----
    // One message to the host.
    void send(const Bytes& bytes);
    // One message to the host `delayMs` from now, from a thread of the pipe's own.
    void sendLater(DWORD delayMs, const Bytes& bytes);
    // The device goes away `delayMs` from now: its end closes.
    void vanishLater(DWORD delayMs);
    // One message from the host, if one comes within `timeoutMs`.
    std::optional<Bytes> receive(DWORD timeoutMs);
    // Bytes sent to the host and not read yet (a PIPE_READ pipe whose host end is open).
    DWORD waiting() const;

private:
    void later(DWORD delayMs, std::function<void()> action);

    HANDLE device_ = INVALID_HANDLE_VALUE;
    HANDLE host_ = nullptr;
    bool hostOpen_ = false;
    std::vector<std::thread> helpers_;
};

}  // namespace tarvex::wine
