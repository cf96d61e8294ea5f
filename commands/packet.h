// The command packet shared by every board command, and the two ways of sending it.
//
// `outBuff` is the library's one CommandPacket: zero at load and never cleared.  Each command
// writes only the bytes it lists and sends all 64; every other byte goes out as the last command
// that wrote it left it (the board ignores the bytes a command does not define, and host programs
// have come to rely on what travels there).
#pragma once

#include <cstdint>

#include "tarvex.h"

namespace tarvex::commands {

extern CommandPacket outBuff;

constexpr std::uint32_t kTimeoutMs = 250;           // every write and read of a command
constexpr std::uint32_t kClockChipTimeoutMs = 100;  // the Si5326 / Si5338 register commands

// The lengths of the board's replies (scope packets and VScope pages: tarvex.h).
constexpr std::uint32_t kPingReplyBytes = 20;         // the firmware's identification
constexpr std::uint32_t kRegisterReplyBytes = 3;      // port and MDIO: [0] unused, [1] low, [2] high
constexpr std::uint32_t kClockChipReplyBytes = 2;     // [0] bus status, [1] the register
constexpr std::uint32_t kTemperatureReplyBytes = 2;   // [0] unused, [1] whole degrees
constexpr std::uint32_t kIpAddressBytes = 4;          // an address, mask or gateway
constexpr std::uint32_t kMacAddressBytes = 6;
constexpr std::uint32_t kCalibBlockBytes = 28;        // CALIB_VALUE_COUNT entries, no gap
constexpr std::uint32_t kCalibReplyBytes = 1 + kCalibBlockBytes;  // [0] unused, then the block

// Writes bytes 0 and 1 of outBuff and returns it for the command's own bytes.
inline CommandPacket& packet(std::uint8_t command, std::uint8_t direction) {
    outBuff.command = command;
    outBuff.direction = direction;
    return outBuff;
}

// A DIR_SET packet: all 64 bytes of outBuff with SendUSBPacket.  1 sent, 0 not.
int sendSet(std::uint16_t index, std::uint32_t timeoutMs = kTimeoutMs);

// A DIR_GET packet: all 64 bytes of outBuff, then a reply of `expected` bytes straight into
// `reply`.  The SendReceiveUSBPacket result unchanged.
int sendGet(std::uint16_t index, std::uint8_t* reply, std::uint32_t expected,
            std::uint32_t timeoutMs = kTimeoutMs);

// A data block written on its own right after a packet (I2C write data, calibration block).
int sendBlock(std::uint16_t index, const std::uint8_t* data, std::uint32_t length,
              std::uint32_t timeoutMs = kTimeoutMs);

// Values unpacked from a reply: reply byte 0 is never used.
inline std::uint16_t replyWord(const std::uint8_t* reply) {
    return static_cast<std::uint16_t>(reply[1] | (reply[2] << 8));
}
inline void putWord(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace tarvex::commands
