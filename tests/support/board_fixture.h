// What a test of the library on one board stands on.  BoardFixture is the library's side, the
// same whatever the board sits behind: the rows of the port table and the pipes a test opens
// through the exports are closed again when it ends, however its checks went, so no test leaves
// a row or a handle to the next.  EmulatedBoard puts the board in an emulated world on a virtual
// clock; the libusb suite puts it behind libusb instead (libusb/libusb_fixture.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "emulated/board.h"
#include "emulated/world.h"
#include "platform/platform.h"
#include "support/scripted_firmware.h"
#include "support/spy_backend.h"
#include "tarvex.h"

namespace tarvex::testing {

class BoardFixture {
public:
    BoardFixture(const BoardFixture&) = delete;
    BoardFixture& operator=(const BoardFixture&) = delete;

    // OpenUSBPort(index), its row closed again at the end.
    int openPort(std::uint32_t index = 0);
    // MPUSBOpen of the board's data pipe (or of `pipe`) at member index `index`; an open handle
    // is closed again at the end.
    TARVEX_HANDLE openPipe(std::uint32_t index, std::uint32_t direction,
                           const char* pipe = TARVEX_BOARD_PIPE);
    // Closes what was opened so far, rows first.
    void closeOpened();
    static std::uint32_t lastError() { return platform::backend().getLastError(); }

protected:
    BoardFixture() = default;
    ~BoardFixture() = default;  // the one that owns the backend closes, while it is in place

private:
    std::vector<std::uint32_t> ports_;
    std::vector<TARVEX_HANDLE> pipes_;
};

// One board at member index 0 of an emulated world, running a ScriptedFirmware unless given
// another firmware.  The library's platform calls reach the world through `spy`.
class EmulatedBoard : public BoardFixture {
public:
    explicit EmulatedBoard(std::unique_ptr<emulated::Firmware> firmware = nullptr);
    ~EmulatedBoard() { closeOpened(); }

    // Milliseconds of virtual time since `start`.
    double msSince(Micros start) const;

    emulated::World world;
    SpyBackend spy{world};
    platform::ScopedBackend use{spy};
    ScriptedFirmware* firmware = nullptr;  // null when the board runs another firmware
    emulated::Board* board = nullptr;
};

// As a GoogleTest fixture.  When a test ends, what it opened is closed, and then no request may
// still be running and no handle (file, event, snapshot, registry key) may be left open.
class EmulatedBoardTest : public ::testing::Test, public EmulatedBoard {
protected:
    void TearDown() override;
};

// The 64 bytes of the library's shared command buffer as they are now.
Bytes commandBuffer();

}  // namespace tarvex::testing
