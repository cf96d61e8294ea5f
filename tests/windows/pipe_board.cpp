#include "pipe_board.h"

#include <cstdio>

namespace tarvex::wine {

namespace {
constexpr DWORD kPipeBufferBytes = 4096;
}

PipeBoard::PipeBoard(std::string pipeName, std::unique_ptr<emulated::Firmware> firmware)
    : pipeName_(std::move(pipeName)),
      firmware_(std::move(firmware)),
      stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      startedMs_(GetTickCount64()) {
    // The pipe exists before the constructor returns: the host may open it right away.
    const std::string name = "\\\\.\\pipe\\" + pipeName_;
    for (Instance& instance : instances_) {
        instance.pipe = CreateNamedPipeA(
            name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 2, kPipeBufferBytes,
            kPipeBufferBytes, 0, nullptr);
        if (instance.pipe == INVALID_HANDLE_VALUE)
            std::fprintf(stderr, "board: cannot create pipe %s (%lu)\n", name.c_str(),
                         GetLastError());
        instance.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    listening_ = 2;
    server_ = std::thread([this] { serve(); });
}

PipeBoard::~PipeBoard() {
    stop();
    CloseHandle(stopEvent_);
}

std::vector<emulated::Bytes> PipeBoard::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void PipeBoard::stop() {
    SetEvent(stopEvent_);
    if (server_.joinable()) server_.join();
}

bool PipeBoard::awaitingHost(DWORD timeoutMs) const {
    const ULONGLONG start = GetTickCount64();
    while (listening_ < 2) {
        if (GetTickCount64() - start >= timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

void PipeBoard::startConnect(Instance& instance) {
    if (instance.state != Instance::State::kConnecting) ++listening_;
    instance.state = Instance::State::kConnecting;
    instance.connectedAtOnce = false;
    instance.request = OVERLAPPED{};
    instance.request.hEvent = instance.event;
    ResetEvent(instance.event);
    if (ConnectNamedPipe(instance.pipe, &instance.request)) return;  // the event tells
    switch (GetLastError()) {
        case ERROR_IO_PENDING:
            return;
        case ERROR_PIPE_CONNECTED:
            // A host that opened before this call is connected already; no request is pending.
            instance.connectedAtOnce = true;
            SetEvent(instance.event);
            return;
        default:
            // A host that opened and closed again before this call: free the instance and wait
            // for the next one.
            DisconnectNamedPipe(instance.pipe);
            if (ConnectNamedPipe(instance.pipe, &instance.request) ||
                GetLastError() == ERROR_IO_PENDING)
                return;
            std::fprintf(stderr, "board: cannot wait for a host on %s (%lu)\n",
                         pipeName_.c_str(), GetLastError());
    }
}

void PipeBoard::startRead(Instance& instance) {
    if (instance.state == Instance::State::kConnecting) --listening_;
    instance.state = Instance::State::kReading;
    instance.connectedAtOnce = false;
    instance.request = OVERLAPPED{};
    instance.request.hEvent = instance.event;
    ResetEvent(instance.event);
    // Done at once or pending, the event tells; anything else is a host that went away.
    if (!ReadFile(instance.pipe, instance.buffer.data(), kPipeBufferBytes, nullptr,
                  &instance.request) &&
        GetLastError() != ERROR_IO_PENDING) {
        DisconnectNamedPipe(instance.pipe);
        startConnect(instance);
    }
}

void PipeBoard::transfer(const emulated::Bytes& bytes, Instance& replySide) {
    std::vector<emulated::Reply> replies;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(bytes);
        const emulated::Micros now = (GetTickCount64() - startedMs_) * 1000;
        firmware_->receive(bytes.data(), bytes.size(), now, replies);
    }
    for (const emulated::Reply& reply : replies) {
        if (reply.delay) Sleep(static_cast<DWORD>(reply.delay / 1000));
        // The reply instance has its own read pending; the write takes a record of its own.
        OVERLAPPED write{};
        write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD written = 0;
        if (WriteFile(replySide.pipe, reply.bytes.data(), static_cast<DWORD>(reply.bytes.size()),
                      nullptr, &write) ||
            GetLastError() == ERROR_IO_PENDING)
            GetOverlappedResult(replySide.pipe, &write, &written, TRUE);
        CloseHandle(write.hEvent);
    }
}

// Connects, reads and cancels are all started on this thread, which is the one CancelIo cancels
// for.
void PipeBoard::serve() {
    Instance (&instances)[2] = instances_;
    for (Instance& instance : instances) startConnect(instance);

    for (;;) {
        HANDLE waits[3] = {stopEvent_, instances[0].event, instances[1].event};
        const DWORD woke = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
        Instance& instance = instances[woke - WAIT_OBJECT_0 - 1];
        Instance& other = instances[woke - WAIT_OBJECT_0 == 1 ? 1 : 0];
        if (instance.state == Instance::State::kConnecting && instance.connectedAtOnce) {
            startRead(instance);
            continue;
        }
        DWORD bytes = 0;
        const bool ok = GetOverlappedResult(instance.pipe, &instance.request, &bytes, FALSE);
        if (instance.state == Instance::State::kConnecting) {
            if (ok)
                startRead(instance);
            else
                startConnect(instance);
            continue;
        }
        if (!ok) {
            // The host closed its handle: wait for the next open.
            DisconnectNamedPipe(instance.pipe);
            startConnect(instance);
            continue;
        }
        transfer(emulated::Bytes(instance.buffer.begin(), instance.buffer.begin() + bytes), other);
        startRead(instance);
    }

    for (Instance& instance : instances) {
        CancelIo(instance.pipe);
        DWORD ignored = 0;
        if (!instance.connectedAtOnce)
            GetOverlappedResult(instance.pipe, &instance.request, &ignored, TRUE);
        CloseHandle(instance.pipe);
        CloseHandle(instance.event);
    }
}

}  // namespace tarvex::wine
