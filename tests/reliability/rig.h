// The bench for the reliability tests: the shared emulated board (a demo board at member index
// 0 on a virtual clock) with its index open in the port table, the same board's pipes also
// opened by the host itself, the buffers the exports write into, and the command buffer model
// kept in step with what the board receives.
#pragma once

#include <cstdint>
#include <vector>

#include "commands/packet.h"
#include "reliability/command_buffer_model.h"
#include "support/board_fixture.h"
#include "tarvex.h"

namespace tarvex::reliability {

using emulated::Fault;
using emulated::FaultKind;
using emulated::Micros;
using tarvex::testing::kMs;

// A fault that changes nothing: lets a test aim a real fault at a later transfer.
inline Fault noFault() { return {FaultKind::kLateReply, 0}; }

// The capture length of the matrix; long captures have tests of their own.
constexpr std::uint16_t kRigPackets = 8;

struct Rig : tarvex::testing::EmulatedBoard {
    Rig();

    // Transfers the board received since the last call of this (or since the rig was made).
    std::vector<Bytes> takeReceived();
    // The shared command buffer as it is now.
    static const std::uint8_t* outBuff() {
        return reinterpret_cast<const std::uint8_t*>(&commands::outBuff);
    }
    // Row 0 of the port table dropped (both entries "no handle").
    bool rowDropped() const;

    emulated::InterfaceId boardId = 0;
    // The board's data pipe, opened by the host through MPUSBOpen.
    TARVEX_HANDLE hostOut = TARVEX_INVALID_HANDLE;
    TARVEX_HANDLE hostIn = TARVEX_INVALID_HANDLE;
    CommandBufferModel model;

    // What the exports write into.
    std::uint8_t bytes[1024] = {};
    std::uint16_t value16 = 0;
    std::uint8_t value8 = 0;
    std::uint32_t count = 0;
    float floats[7] = {};
    ScopeStats stats{};
    std::vector<std::uint16_t> samples;
    std::vector<std::uint16_t> eyeX;
    std::vector<std::uint8_t> fast;

private:
    std::size_t seen_ = 0;
};

}  // namespace tarvex::reliability
