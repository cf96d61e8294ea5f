// What every benchmark stands on: an emulated world on the virtual clock (so the settle sleeps of
// a capture cost nothing), a demo board in it, and the bare transport that reaches that board
// through the world's own calls with no library code in between.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "emulated/board.h"
#include "emulated/firmware.h"
#include "emulated/world.h"
#include "platform/platform.h"

namespace tarvex::bench {

// What answers on the board's data pipe.
enum class BoardKind {
    kDemo,  // the demo board: a believable scope, whose scope packets carry a modelled signal
    kLean,  // port registers and scope packets served from a ready-made block of samples, so a
            // capture's cost is the transport's and the library's, not the signal model's
};

// A firmware for BoardKind::kLean.
std::unique_ptr<emulated::Firmware> makeLeanFirmware();

// A world with one board at member index 0, installed as the library's platform.  With
// `openPort` the library's port 0 is open on the board (and closed again at the end, while this
// world is still installed: its handle values mean nothing to the next benchmark's world).
class BoardWorld {
public:
    explicit BoardWorld(bool openPort, BoardKind kind = BoardKind::kDemo);
    ~BoardWorld();
    BoardWorld(const BoardWorld&) = delete;
    BoardWorld& operator=(const BoardWorld&) = delete;

    emulated::World world;
    emulated::Board& board;

    // The board keeps every transfer it receives for the tests to look at; a benchmark of a
    // million round trips would pile them up, so they are dropped every `kForgetEvery` rounds,
    // in the library's loops and the bare ones alike.
    static constexpr std::uint64_t kForgetEvery = 1024;
    void forgetNow(std::uint64_t& round) {
        if (++round % kForgetEvery == 0) board.clearReceived();
    }

    bool portOpen() const { return portOpen_; }

private:
    platform::ScopedBackend use_;
    bool portOpen_ = false;
};

// The board's data pipe opened on the world directly, and the transfers the library makes on it,
// call for call as the driver sees them: an event, the request on a transfer record, the wait
// if it runs on, the release of the event.  The library's bookkeeping (port table, command
// buffer, last-error care, results) is what it adds on top.
class BareTransport {
public:
    BareTransport(emulated::World& world, const std::string& interfacePath);
    ~BareTransport();
    BareTransport(const BareTransport&) = delete;
    BareTransport& operator=(const BareTransport&) = delete;

    bool open() const;
    // Bytes moved, 0 after a failure.
    std::uint32_t write(const void* data, std::uint32_t length);
    std::uint32_t read(void* data, std::uint32_t length);

private:
    std::uint32_t transfer(bool writing, void* data, std::uint32_t length);

    emulated::World& world_;
    platform::Handle out_;
    platform::Handle in_;
};

}  // namespace tarvex::bench
