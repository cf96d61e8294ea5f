#include "support/board_fixture.h"

#include "commands/packet.h"

namespace tarvex::testing {

int BoardFixture::openPort(std::uint32_t index) {
    ports_.push_back(index);
    return OpenUSBPort(index);
}

TARVEX_HANDLE BoardFixture::openPipe(std::uint32_t index, std::uint32_t direction,
                                     const char* pipe) {
    const TARVEX_HANDLE handle = MPUSBOpen(index, TARVEX_BOARD_VID_PID, pipe, direction, 0);
    if (handle != TARVEX_INVALID_HANDLE) pipes_.push_back(handle);
    return handle;
}

void BoardFixture::closeOpened() {
    for (std::uint32_t index : ports_) CloseUSBPort(index);
    for (TARVEX_HANDLE handle : pipes_) MPUSBClose(handle);
    ports_.clear();
    pipes_.clear();
}

EmulatedBoard::EmulatedBoard(std::unique_ptr<emulated::Firmware> owned) {
    if (!owned) {
        auto scripted = std::make_unique<ScriptedFirmware>();
        firmware = scripted.get();
        owned = std::move(scripted);
    }
    board = &world.plugBoard(std::move(owned));
}

double EmulatedBoard::msSince(Micros start) const {
    return static_cast<double>(world.now() - start) / static_cast<double>(kMs);
}

void EmulatedBoardTest::TearDown() {
    closeOpened();
    EXPECT_EQ(world.pendingRequestCount(), 0u) << "a request outlived the test";
    EXPECT_EQ(world.openHandleCount(), 0u) << "a handle was left open";
}

Bytes commandBuffer() {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&commands::outBuff);
    return Bytes(bytes, bytes + sizeof commands::outBuff);
}

}  // namespace tarvex::testing
