// The host's side of the wire for the demo firmware tests: one shared 64-byte packet buffer
// that starts full of leftovers and keeps whatever each request wrote, as the library's command
// buffer does, so every test also checks that the board reads only the bytes a command defines.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "emulated/demo/demo_firmware.h"

namespace tarvex::emulated::demo::testing {

// One byte of a request: its place in the packet and its value.
struct Field {
    std::size_t at;
    std::uint8_t value;
};
inline Field length(std::uint8_t value) { return {2, value}; }
inline Field selector(std::uint8_t value) { return {3, value}; }
inline Field payload(std::size_t n, std::uint8_t value) { return {4 + n, value}; }

class Host {
public:
    // `leftover` seeds the buffer's initial garbage: byte i holds leftover + 37 * i.
    explicit Host(DemoFirmware& firmware, std::uint8_t leftover = 0xA5) : firmware_(firmware) {
        for (std::size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = static_cast<std::uint8_t>(leftover + 37 * i);
    }

    // Writes bytes 0 and 1 and `fields` into the buffer and sends all 64 bytes.
    std::vector<Reply> request(std::uint8_t command, std::uint8_t direction,
                               std::initializer_list<Field> fields) {
        buffer[0] = command;
        buffer[1] = direction;
        for (const Field& field : fields) buffer[field.at] = field.value;
        return transfer(buffer.data(), buffer.size());
    }

    // A DIR_GET request that must get exactly one reply; returns its bytes.
    Bytes get(std::uint8_t command, std::initializer_list<Field> fields) {
        const auto replies = request(command, DIR_GET, fields);
        EXPECT_EQ(replies.size(), 1u) << "command 0x" << std::hex << int(command);
        return replies.empty() ? Bytes{} : replies.front().bytes;
    }

    // A DIR_SET request that must get no reply.
    void set(std::uint8_t command, std::initializer_list<Field> fields) {
        const auto replies = request(command, DIR_SET, fields);
        EXPECT_TRUE(replies.empty()) << "command 0x" << std::hex << int(command);
    }

    // A transfer of its own (a data block, or anything else).
    std::vector<Reply> transfer(const std::uint8_t* data, std::size_t size) {
        std::vector<Reply> replies;
        firmware_.receive(data, size, now, replies);
        return replies;
    }
    std::vector<Reply> block(const Bytes& data) { return transfer(data.data(), data.size()); }

    // ---- the library's port sequences ----
    std::uint16_t getPort(std::uint8_t port) {
        const Bytes reply = get(CMD_PORT, {selector(port)});
        return reply.size() == 3 ? static_cast<std::uint16_t>(reply[1] | (reply[2] << 8)) : 0;
    }
    void setPort(std::uint8_t port, std::uint16_t value) {
        set(CMD_PORT, {selector(port), payload(0, static_cast<std::uint8_t>(value & 0xFF)),
                       payload(1, static_cast<std::uint8_t>(value >> 8))});
    }
    // FIFO reset pulse, capture enable cleared and set again, as a capture starts.
    void startCapture() {
        const std::uint16_t port3 = getPort(3);
        setPort(3, port3 & 0xFFFC);
        now += 50'000;
        setPort(3, port3 | 0x0003);
        now += 50'000;
        setPort(3, getPort(3) & 0xFFDF);
        now += 50'000;
        setPort(3, getPort(3) | 0x0020);
    }
    // `packets` scope packets as sample words (all 16 bits).
    std::vector<std::uint16_t> words(std::size_t packets, std::uint8_t command = CMD_SCOPE) {
        std::vector<std::uint16_t> out;
        for (std::size_t p = 0; p < packets; ++p) {
            const Bytes reply = get(command, {});
            for (std::size_t i = 0; i + 1 < reply.size(); i += 2)
                out.push_back(static_cast<std::uint16_t>(reply[i] | (reply[i + 1] << 8)));
        }
        return out;
    }

    std::array<std::uint8_t, 64> buffer{};
    Micros now = 0;

private:
    DemoFirmware& firmware_;
};

}  // namespace tarvex::emulated::demo::testing
