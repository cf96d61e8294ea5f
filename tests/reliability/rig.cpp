#include "reliability/rig.h"

#include <gtest/gtest.h>

#include "port/port_table.h"

namespace tarvex::reliability {

Rig::Rig()
    : samples(std::size_t{kRigPackets} * SAMPLES_PER_PACKET, 0xEEEE),
      eyeX(std::size_t{kRigPackets} * SAMPLES_PER_PACKET, 0xEEEE),
      fast(std::size_t{kRigPackets} * FAST_SLOT_BYTES, 0xEE) {
    board = &world.plugBoard();
    boardId = world.idOf(*board);
    EXPECT_EQ(OpenUSBPort(0), 1);
    hostOut = MPUSBOpen(0, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, PIPE_WRITE, 0);
    hostIn = MPUSBOpen(0, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, PIPE_READ, 0);
    EXPECT_NE(hostOut, TARVEX_INVALID_HANDLE);
    EXPECT_NE(hostIn, TARVEX_INVALID_HANDLE);
    seen_ = board->received().size();
    model.assume(outBuff());
}

Rig::~Rig() {
    CloseUSBPort(0);
    MPUSBClose(hostOut);
    MPUSBClose(hostIn);
}

std::vector<Bytes> Rig::takeReceived() {
    std::vector<Bytes> taken;
    const auto& received = board->received();
    for (std::size_t i = seen_; i < received.size(); ++i) taken.push_back(received[i].bytes);
    seen_ = received.size();
    return taken;
}

bool Rig::rowDropped() const {
    return port::outPipeOf(0) == platform::invalidHandle() &&
           port::inPipeOf(0) == platform::invalidHandle();
}

}  // namespace tarvex::reliability
