// The demo board's side of the wire: where each command keeps its bytes in the 64-byte command
// packet, how long each reply is, and what the port register bits mean.  Everything the demo
// firmware knows about the protocol's byte layout is here; the rest of the board works on values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tarvex.h"

namespace tarvex::emulated::demo {

using Bytes = std::vector<std::uint8_t>;

// ---- the command packet --------------------------------------------------------------------

constexpr std::size_t kPacketBytes = COMMAND_PACKET_BYTES;

// A received command packet.  The board reads only the bytes a command defines: everything else
// holds whatever the host's shared buffer carried from earlier commands.
class Packet {
public:
    explicit Packet(const std::uint8_t* bytes) : bytes_(bytes) {}

    std::uint8_t command() const { return bytes_[0]; }
    std::uint8_t direction() const { return bytes_[1]; }
    std::uint8_t length() const { return bytes_[2]; }
    std::uint8_t selector() const { return bytes_[3]; }
    std::uint8_t payload(std::size_t n) const { return bytes_[4 + n]; }
    // A little-endian 16-bit value at payload bytes n and n + 1.
    std::uint16_t payloadWord(std::size_t n) const {
        return static_cast<std::uint16_t>(payload(n) | (payload(n + 1) << 8));
    }
    const std::uint8_t* payloadBytes() const { return bytes_ + 4; }

    bool isGet() const { return direction() == DIR_GET; }
    bool isSet() const { return direction() == DIR_SET; }

private:
    const std::uint8_t* bytes_;
};

// ---- reply sizes -----------------------------------------------------------------------------

constexpr std::size_t kPingReplyBytes = 20;
// Port and MDIO register replies: [0] port number or MDIO address, [1] low, [2] high.
constexpr std::size_t kRegisterReplyBytes = 3;
constexpr std::size_t kClockChipReplyBytes = 2;  // [0] bus status, [1] register value
constexpr std::size_t kTemperatureReplyBytes = 2;  // [0] 1/256 degrees, [1] whole degrees C
constexpr std::size_t kIpAddressBytes = 4;
constexpr std::size_t kMacAddressBytes = 6;
constexpr std::size_t kScopePacketBytes = SCOPE_PACKET_BYTES;
constexpr std::size_t kMaxFastPacketBytes = FAST_SLOT_BYTES;
constexpr std::size_t kCalibrationBlockBytes = 4 * CALIB_VALUE_COUNT;       // 28
constexpr std::size_t kCalibrationReplyBytes = kCalibrationBlockBytes + 1;  // origin + block
constexpr std::size_t kVScopeEyeBytes = VSCOPE_EYE_BYTES;                   // 32 x 32 cells

// Payload bytes of a raw I2C transaction (selector I2C_RAW; the byte count is in `length`) and
// of the clock-chip register commands (selectors I2C_SI5326 and I2C_SI5338).
constexpr std::size_t kI2cDevice = 0;
constexpr std::size_t kI2cRegister = 1;
constexpr std::size_t kI2cValue = 2;  // clock-chip set: the register value
constexpr std::size_t kI2cAux = 2;    // raw transaction: bus options (unused by this board)

// Bus status in byte 0 of a clock-chip reply.
constexpr std::uint8_t kI2cAck = 0x00;
constexpr std::uint8_t kI2cNak = 0x01;  // no device answered at that address

// ---- sample words of the scope packets --------------------------------------------------------

constexpr std::uint16_t kSampleMask = 0x0FFF;
constexpr std::uint16_t kTriggerMark = 0x1000;  // first sample after the capture's trigger

// ---- port registers -----------------------------------------------------------------------------

constexpr std::uint8_t kStatusPort = 2;
constexpr std::uint8_t kAcquisitionPort = 3;
constexpr std::uint8_t kHealthPort = 4;

// Port 2, read only.
constexpr std::uint16_t kDataReadyBit = 0x0010;  // the FIFO holds samples for the host
constexpr std::uint16_t kPllLockedBit = 0x2000;  // the sampling clock's PLL is locked
// Port 3.
constexpr std::uint16_t kFifoResetBits = 0x0003;   // active low: either at 0 holds the FIFO empty
constexpr std::uint16_t kCaptureEnableBit = 0x0020;  // a 0 -> 1 edge starts a capture
constexpr std::uint16_t kUnderflowBit = 0x0080;    // read only: a packet was read from an empty FIFO
// Port 4, read only.
constexpr std::uint16_t kFaultBit = 0x0010;  // front-end fault (over-range input, supply)

// ---- little-endian helpers for replies -------------------------------------------------------

inline void putWord(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

// A three-byte register reply: a leading byte, then the value low byte first.
inline Bytes registerReply(std::uint8_t lead, std::uint16_t value) {
    Bytes reply(kRegisterReplyBytes);
    reply[0] = lead;
    putWord(&reply[1], value);
    return reply;
}

}  // namespace tarvex::emulated::demo
