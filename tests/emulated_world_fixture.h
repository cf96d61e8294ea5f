// Test support for the emulated world's own tests: a scripted firmware, command packets, and a
// world with one board whose data pipe is open both ways.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulated/board.h"
#include "emulated/firmware.h"
#include "emulated/world.h"
#include "platform/platform.h"

namespace tarvex::emulated::testing {

using namespace tarvex::platform;

constexpr Micros kMs = 1000;

// Answers every packet whose byte 1 is 1 (DIR_GET) with `replyBytes` bytes, byte i being packet
// byte i plus one; an interrupt read gets `interrupt` from `interruptFrom` on.
class ScriptedFirmware final : public Firmware {
public:
    explicit ScriptedFirmware(std::size_t replyBytes = 3) : replyBytes(replyBytes) {}

    void receive(const std::uint8_t* data, std::size_t length, Micros /*now*/,
                 std::vector<Reply>& replies) override {
        if (length < 2 || data[1] != 1) return;
        Bytes reply(replyBytes);
        for (std::size_t i = 0; i < replyBytes; ++i)
            reply[i] = static_cast<std::uint8_t>((i < length ? data[i] : 0) + 1);
        replies.push_back({reply, replyDelay});
    }
    std::optional<Bytes> interruptData(Micros now) override {
        if (now < interruptFrom) return std::nullopt;
        return interrupt;
    }

    std::size_t replyBytes;
    Micros replyDelay = 0;
    std::optional<Bytes> interrupt;
    Micros interruptFrom = 0;
};

// A 64-byte command packet: command, direction (1 get, 0 set), selector; the rest zero.
inline Bytes packet(std::uint8_t command, std::uint8_t direction, std::uint8_t selector = 0) {
    Bytes p(64, 0);
    p[0] = command;
    p[1] = direction;
    p[3] = selector;
    return p;
}
inline Bytes getPacket(std::uint8_t command = 0xF0, std::uint8_t selector = 3) {
    return packet(command, 1, selector);
}
inline Bytes setPacket(std::uint8_t command = 0xF0, std::uint8_t selector = 3) {
    return packet(command, 0, selector);
}
// What ScriptedFirmware answers to `p` with `n` bytes.
inline Bytes replyTo(const Bytes& p, std::size_t n) {
    Bytes r(n);
    for (std::size_t i = 0; i < n; ++i) r[i] = static_cast<std::uint8_t>(p[i] + 1);
    return r;
}

inline Overlapped record(Handle event) {
    Overlapped ov{};
    ov.event = event;
    return ov;
}

// A world with one scripted board plugged in and its data pipe open both ways.
class BoardTest : public ::testing::Test {
protected:
    BoardTest() {
        auto fw = std::make_unique<ScriptedFirmware>(3);
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
