#include "support/scripted_firmware.h"

#include "tarvex.h"

namespace tarvex::testing {

Bytes pattern(std::size_t count, std::uint8_t first) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

Bytes commandPacket(std::uint8_t command, std::uint8_t direction, std::uint8_t selector) {
    Bytes packet(COMMAND_PACKET_BYTES, 0);
    packet[0] = command;
    packet[1] = direction;
    packet[3] = selector;
    return packet;
}

void ScriptedFirmware::receive(const std::uint8_t* data, std::size_t length, Micros /*now*/,
                               std::vector<emulated::Reply>& replies) {
    if (answer) {
        for (Bytes& reply : answer(Bytes(data, data + length))) replies.push_back({reply, delay});
        return;
    }
    if (length != COMMAND_PACKET_BYTES) return;  // a data block: nothing to answer
    const std::uint8_t command = data[0];
    const std::uint8_t selector = data[3];
    if (command == CMD_PORT && data[1] == DIR_SET) {
        ports[selector] = static_cast<std::uint16_t>(data[4] | (data[5] << 8));
        return;
    }
    if (data[1] != DIR_GET) return;
    if (auto& queue = script[command]; !queue.empty()) {
        replies.push_back({queue.front(), delay});
        queue.pop_front();
    } else if (command == CMD_PORT) {
        const std::uint16_t value = ports[selector];
        replies.push_back({{0x00, static_cast<std::uint8_t>(value & 0xFF),
                            static_cast<std::uint8_t>(value >> 8)},
                           delay});
    } else if (auto it = standing.find(command); it != standing.end()) {
        replies.push_back({it->second, delay});
    }
}

std::optional<Bytes> ScriptedFirmware::interruptData(Micros now) {
    if (now < interruptFrom) return std::nullopt;
    return interrupt;
}

ScriptedFirmware::Answer always(Bytes reply) {
    return [reply](const Bytes&) { return std::vector<Bytes>{reply}; };
}

Bytes echoOf(const Bytes& packet, std::size_t count) {
    Bytes reply(count);
    for (std::size_t i = 0; i < count; ++i)
        reply[i] = static_cast<std::uint8_t>((i < packet.size() ? packet[i] : 0) + 1);
    return reply;
}

ScriptedFirmware::Answer echoing(std::size_t count) {
    return [count](const Bytes& received) {
        if (received.size() < 2 || received[1] != DIR_GET) return std::vector<Bytes>{};
        return std::vector<Bytes>{echoOf(received, count)};
    };
}

}  // namespace tarvex::testing
