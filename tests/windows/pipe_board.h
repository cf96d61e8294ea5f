// An emulated board behind a named pipe, served from the test process by a thread of its own.
//
// The library opens the board's data pipe twice, once for writing and once for reading; a named
// pipe gives each open an instance of its own, so the board offers two duplex instances.  Which
// open lands on which instance is Wine's business: the instance that receives a transfer is the
// host-to-device side, and the firmware's replies go out on the other one.  Each transfer is one
// pipe message, as each write is one transfer on the real pipe.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulated/firmware.h"

namespace tarvex::wine {

class PipeBoard {
public:
    // Serves \\.\pipe\<pipeName> at once.
    PipeBoard(std::string pipeName, std::unique_ptr<emulated::Firmware> firmware);
    ~PipeBoard();
    PipeBoard(const PipeBoard&) = delete;
    PipeBoard& operator=(const PipeBoard&) = delete;

    const std::string& pipeName() const { return pipeName_; }
    // Every transfer the board received, in order.
    std::vector<emulated::Bytes> received() const;
    // True once no host has the pipe open and both instances wait for the next opens, within
    // `timeoutMs`.  A host's close reaches the board a moment after the host's call returns; a
    // real driver takes a new open at once, this stand-in only when its instances are free.
    bool awaitingHost(DWORD timeoutMs) const;
    // The board goes away: its pipe ends close, and requests on the host's handles fail.
    void stop();

private:
    // One duplex instance of the board's pipe, with its pending connect or read.
    struct Instance {
        enum class State { kConnecting, kReading };
        HANDLE pipe = INVALID_HANDLE_VALUE;
        HANDLE event = nullptr;
        OVERLAPPED request{};
        State state = State::kConnecting;
        bool connectedAtOnce = false;  // a host opened before the connect was asked for
        emulated::Bytes buffer = emulated::Bytes(4096);
    };

    void serve();
    void startConnect(Instance& instance);
    void startRead(Instance& instance);
    void transfer(const emulated::Bytes& bytes, Instance& replySide);

    std::string pipeName_;
    std::unique_ptr<emulated::Firmware> firmware_;
    mutable std::mutex mutex_;
    std::vector<emulated::Bytes> received_;
    HANDLE stopEvent_;
    Instance instances_[2];
    std::atomic<int> listening_{0};  // instances waiting for a host to open them
    std::thread server_;
    ULONGLONG startedMs_;
};

}  // namespace tarvex::wine
