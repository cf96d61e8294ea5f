// Test support for the emulated world's own tests: command packets, and a world with one board
// on the scripted firmware whose data pipe is open both ways.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulated/board.h"
#include "emulated/world.h"
#include "platform/platform.h"
#include "support/scripted_firmware.h"

namespace tarvex::emulated::testing {

using namespace tarvex::platform;

using tarvex::testing::echoing;
using tarvex::testing::kMs;
using tarvex::testing::ScriptedFirmware;

// 64-byte command packets (byte 1: DIR_GET, DIR_SET); the rest zero.
inline Bytes getPacket(std::uint8_t command = 0xF0, std::uint8_t selector = 3) {
    return tarvex::testing::commandPacket(command, 1, selector);
}
inline Bytes setPacket(std::uint8_t command = 0xF0, std::uint8_t selector = 3) {
    return tarvex::testing::commandPacket(command, 0, selector);
}
// What the board's firmware answers to `p` with `n` bytes.
inline Bytes replyTo(const Bytes& p, std::size_t n) { return tarvex::testing::echoOf(p, n); }

inline Overlapped record(Handle event) {
    Overlapped ov{};
    ov.event = event;
    return ov;
}

// A world with one scripted board plugged in and its data pipe open both ways.
class BoardTest : public ::testing::Test {
protected:
    BoardTest() {
        auto fw = std::make_unique<ScriptedFirmware>(echoing(3));
        firmware = fw.get();
        board = &world.plugBoard(std::move(fw));
        id = world.idOf(*board);
        out = openPipe(kGenericWrite);
        in = openPipe(kGenericRead);
    }

    Handle openPipe(std::uint32_t access, bool overlapped = true) {
        return world.createFile((world.interfacePath(id) + "\\MCHP_EP1").c_str(), access, 0,
                                kOpenExisting,
                                kFileAttributeNormal | (overlapped ? kFileFlagOverlapped : 0));
    }

    // Writes `p` on the out pipe; it completes at once.
    void send(const Bytes& p) {
        std::uint32_t written = 0;
        Overlapped ov = record(nullptr);
        ASSERT_TRUE(world.writeFile(out, p.data(), static_cast<std::uint32_t>(p.size()), &written,
                                    &ov));
        ASSERT_EQ(written, p.size());
    }

    bool eventSignalled(Handle event) { return world.waitForSingleObject(event, 0) == kWaitObject0; }

    World world;
    ScriptedFirmware* firmware = nullptr;
    Board* board = nullptr;
    InterfaceId id = 0;
    Handle out = nullptr;
    Handle in = nullptr;
};

}  // namespace tarvex::emulated::testing
