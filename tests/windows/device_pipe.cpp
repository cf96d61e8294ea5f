#include "device_pipe.h"

#include <atomic>
#include <cstdio>

#include "tarvex.h"

namespace tarvex::wine {
namespace {

std::string uniquePipeName() {
    static std::atomic<unsigned> next{0};
    return "\\\\.\\pipe\\tarvex-device-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(next++);
}

// Runs one overlapped request on the device's end to its end, or cancels it after `timeoutMs`.
// True with the count when it completed.
template <typename Start>
bool complete(HANDLE pipe, DWORD timeoutMs, DWORD& count, Start start) {
    OVERLAPPED request{};
    request.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool done = start(&request) || GetLastError() == ERROR_IO_PENDING;
    if (done && WaitForSingleObject(request.hEvent, timeoutMs) != WAIT_OBJECT_0) CancelIo(pipe);
    done = done && GetOverlappedResult(pipe, &request, &count, TRUE);
    CloseHandle(request.hEvent);
    return done;
}

}  // namespace

DevicePipe::DevicePipe(std::uint32_t direction, DWORD bufferBytes) {
    const std::string name = uniquePipeName();
    device_ = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                               bufferBytes, bufferBytes, 0, nullptr);
    if (device_ == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "device pipe: cannot create %s (%lu)\n", name.c_str(),
                     GetLastError());
        return;
    }
    const DWORD access = direction == PIPE_READ ? GENERIC_READ : GENERIC_WRITE;
    HANDLE host = CreateFileA(name.c_str(), access, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    hostOpen_ = host != INVALID_HANDLE_VALUE;
    host_ = hostOpen_ ? host : nullptr;
}

DevicePipe::~DevicePipe() {
    for (std::thread& helper : helpers_) helper.join();
    closeHost();
    if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
}

void DevicePipe::closeHost() {
    if (hostOpen_) CloseHandle(host_);
    hostOpen_ = false;
}

void DevicePipe::send(const Bytes& bytes) {
    DWORD count = 0;
    complete(device_, INFINITE, count, [&](OVERLAPPED* request) {
        return WriteFile(device_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                         request) != FALSE;
    });
}

void DevicePipe::later(DWORD delayMs, std::function<void()> action) {
    helpers_.emplace_back([delayMs, action = std::move(action)] {
        Sleep(delayMs);
        action();
    });
}

void DevicePipe::sendLater(DWORD delayMs, const Bytes& bytes) {
    later(delayMs, [this, bytes] { send(bytes); });
}

void DevicePipe::vanishLater(DWORD delayMs) {
    later(delayMs, [this] { DisconnectNamedPipe(device_); });
}

std::optional<Bytes> DevicePipe::receive(DWORD timeoutMs) {
    Bytes buffer(4096);
    DWORD count = 0;
    if (!complete(device_, timeoutMs, count, [&](OVERLAPPED* request) {
            return ReadFile(device_, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr,
                            request) != FALSE;
        }))
        return std::nullopt;
    buffer.resize(count);
    return buffer;
}

DWORD DevicePipe::waiting() const {
    DWORD bytes = 0;
    PeekNamedPipe(host_, nullptr, 0, nullptr, &bytes, nullptr);
    return bytes;
}

}  // namespace tarvex::wine
