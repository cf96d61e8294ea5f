// Test support for the board commands: a firmware whose replies each test sets, and a world with
// that board open at index 0 on a virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "commands/packet.h"
#include "core_test_support.h"  // kMs, SpyBackend
#include "emulated/board.h"
#include "emulated/firmware.h"
#include "emulated/world.h"
#include "platform/platform.h"
#include "tarvex.h"

namespace tarvex::testing {

using emulated::Fault;
using emulated::FaultKind;

// A fault that changes nothing: lets a test aim a real fault at a later transfer.
inline Fault NoFault() { return {FaultKind::kLateReply, 0}; }

// Port registers answered and written through CMD_PORT; other DIR_GET packets answered from
// `script` (per command code, in order) and then `standing` (per command code); anything else
// gets no reply, so its read times out.
class CommandFirmware final : public emulated::Firmware {
public:
    std::map<std::uint8_t, std::uint16_t> ports;
    std::map<std::uint8_t, std::deque<Bytes>> script;
    std::map<std::uint8_t, Bytes> standing;

    void receive(const std::uint8_t* data, std::size_t length, Micros /*now*/,
                 std::vector<emulated::Reply>& replies) override {
        if (length != COMMAND_PACKET_BYTES) return;  // a data block: nothing to answer
        const std::uint8_t command = data[0];
        if (command == CMD_PORT && data[1] == DIR_SET) {
            ports[data[3]] = static_cast<std::uint16_t>(data[4] | (data[5] << 8));
            return;
        }
        if (data[1] != DIR_GET) return;
        if (auto& queue = script[command]; !queue.empty()) {
            replies.push_back({queue.front()});
            queue.pop_front();
        } else if (command == CMD_PORT) {
            const std::uint16_t value = ports[data[3]];
            replies.push_back({{0x00, static_cast<std::uint8_t>(value & 0xFF),
                                static_cast<std::uint8_t>(value >> 8)}});
        } else if (auto it = standing.find(command); it != standing.end()) {
            replies.push_back({it->second});
        }
    }
};

// The 64 bytes of the shared command buffer as they are now.
inline Bytes OutBuff() {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&commands::outBuff);
    return Bytes(bytes, bytes + sizeof commands::outBuff);
}

// Fills bytes 2 to 63 of the command buffer as an earlier command might have left them, so a
// command that writes a byte it should not is caught.
inline void LeaveBytesBehind(std::uint8_t seed = 0x80) {
    commands::outBuff.length = 0x5C;
    commands::outBuff.selector = 0x77;
    for (int i = 0; i < 60; ++i) commands::outBuff.payload[i] = static_cast<std::uint8_t>(seed + i);
}

// `before` with the bytes at the given offsets replaced.
inline Bytes With(Bytes before, std::initializer_list<std::pair<int, std::uint8_t>> bytes) {
    for (const auto& [at, value] : bytes) before[static_cast<std::size_t>(at)] = value;
    return before;
}

// Board at index 0 running CommandFirmware, open, nothing received yet.
class CommandTest : public ::testing::Test {
protected:
    emulated::World world;
    platform::ScopedBackend use{world};
    CommandFirmware* firmware = nullptr;
    emulated::Board* board = nullptr;

    void SetUp() override {
        auto owned = std::make_unique<CommandFirmware>();
        firmware = owned.get();
        board = &world.plugBoard(std::move(owned));
        ASSERT_EQ(OpenUSBPort(0), 1);
        board->clearReceived();
        LeaveBytesBehind();
    }
    void TearDown() override { CloseUSBPort(0); }

    const emulated::BoundedLog<emulated::Transfer>& received() const { return board->received(); }
    // The transfer n, which must exist.
    const Bytes& sent(std::size_t n) const {
        EXPECT_LT(n, board->received().size());
        return board->received().at(n).bytes;
    }
    // Milliseconds of virtual time since `start`.
    double msSince(Micros start) const { return static_cast<double>(world.now() - start) / 1000.0; }
};

}  // namespace tarvex::testing
