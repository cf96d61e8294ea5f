// Test support for the board commands: a board on the scripted firmware, open at index 0, with
// the command buffer full of what an earlier command might have left there.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "commands/packet.h"
#include "emulated/board.h"
#include "support/board_fixture.h"
#include "tarvex.h"

namespace tarvex::testing {

using emulated::Fault;
using emulated::FaultKind;

// A fault that changes nothing: lets a test aim a real fault at a later transfer.
inline Fault noFault() { return {FaultKind::kLateReply, 0}; }

// Fills bytes 2 to 63 of the command buffer as an earlier command might have left them, so a
// command that writes a byte it should not is caught.
inline void leaveBytesBehind(std::uint8_t seed = 0x80) {
    commands::outBuff.length = 0x5C;
    commands::outBuff.selector = 0x77;
    for (int i = 0; i < 60; ++i) commands::outBuff.payload[i] = static_cast<std::uint8_t>(seed + i);
}

// `before` with the bytes at the given offsets replaced.
inline Bytes with(Bytes before, std::initializer_list<std::pair<int, std::uint8_t>> bytes) {
    for (const auto& [at, value] : bytes) before[static_cast<std::size_t>(at)] = value;
    return before;
}

// Index 0 open on the board, nothing received yet.
class CommandTest : public EmulatedBoardTest {
protected:
    void SetUp() override {
        ASSERT_EQ(openPort(0), 1);
        board->clearReceived();
        spy.clear();
        leaveBytesBehind();
    }

    const emulated::BoundedLog<emulated::Transfer>& received() const { return board->received(); }
    // The transfer n, which must exist.
    const Bytes& sent(std::size_t n) const {
        EXPECT_LT(n, board->received().size());
        return board->received().at(n).bytes;
    }
};

}  // namespace tarvex::testing
