#include "reliability/rig.h"

#include <gtest/gtest.h>

#include "port/port_table.h"

namespace tarvex::reliability {

Rig::Rig()
    : EmulatedBoard(emulated::makeDemoFirmware()),
      samples(std::size_t{kRigPackets} * SAMPLES_PER_PACKET, 0xEEEE),
      eyeX(std::size_t{kRigPackets} * SAMPLES_PER_PACKET, 0xEEEE),
      fast(std::size_t{kRigPackets} * FAST_SLOT_BYTES, 0xEE) {
    boardId = world.idOf(*board);
    EXPECT_EQ(openPort(0), 1);
    hostOut = openPipe(0, PIPE_WRITE);
    hostIn = openPipe(0, PIPE_READ);
    EXPECT_NE(hostOut, TARVEX_INVALID_HANDLE);
    EXPECT_NE(hostIn, TARVEX_INVALID_HANDLE);
    seen_ = board->received().size();
    model.assume(outBuff());
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
