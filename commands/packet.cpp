// The shared command packet and the two ways of sending it.
#include "commands/packet.h"

#include "port/port_table.h"

namespace tarvex::commands {

// Zero at load (static storage) and never cleared afterwards: every byte a command does not
// write travels with the value the last command left in it.
CommandPacket outBuff{};

int sendSet(std::uint16_t index, std::uint32_t timeoutMs) {
    return port::sendPacket(index, reinterpret_cast<const std::uint8_t*>(&outBuff),
                            COMMAND_PACKET_BYTES, timeoutMs);
}

int sendGet(std::uint16_t index, std::uint8_t* reply, std::uint32_t expected,
            std::uint32_t timeoutMs) {
    std::uint32_t RLen = expected;
    return port::sendReceivePacket(index, reinterpret_cast<const std::uint8_t*>(&outBuff),
                                   COMMAND_PACKET_BYTES, reply, &RLen, timeoutMs, timeoutMs);
}

int sendBlock(std::uint16_t index, const std::uint8_t* data, std::uint32_t length,
              std::uint32_t timeoutMs) {
    return port::sendPacket(index, data, length, timeoutMs);
}

}  // namespace tarvex::commands
