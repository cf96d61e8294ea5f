// A small model of the library's shared command buffer, written from the board protocol alone:
// 64 bytes, zero at load, never cleared; each command writes only its own bytes and sends all 64,
// so every other byte goes out as the commands before it left it.
//
// The model holds, per byte, its value and which of its bits it knows.  A command is described
// as the steps (transfers) it makes; `advance` takes the transfers the board actually received
// during the call, checks each against its step, and moves the model on.  A step that did not
// reach the board (a refused, stalled or unplugged write, a row that takes no transfer) still
// changed the buffer when the command wrote it; bytes the model cannot predict (a register value
// read back from the board) become unknown until the next packet on the wire shows them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::reliability {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPacketBytes = 64;

// One byte a command writes: the bits of `mask` take those of `value`; the other bits depend on
// the board and are not predicted.
struct ByteWrite {
    std::uint8_t offset;
    std::uint8_t value;
    std::uint8_t mask = 0xFF;
};

// One transfer of a command.
struct Step {
    enum class Kind {
        kPacket,  // the whole shared buffer after `writes`
        kBlock,   // `data` written on its own right after a packet (I2C data, calibration block)
        kRaw,     // bytes a host handed to a send primitive: they do not touch the shared buffer
    };
    Kind kind = Kind::kPacket;
    std::vector<ByteWrite> writes;  // Packet
    Bytes data;                     // Block, Raw
    Bytes dataMask;                 // Block: predicted bits per byte (empty: all of them)
    // The command may leave the step out altogether (a register write skipped after a failed
    // read of that register, a block that does not follow a failed packet).
    bool optional = false;
    // Sent only when the step before it reached the board (the I2C data after its header).
    bool needsPrevious = false;
};

class CommandBufferModel {
public:
    CommandBufferModel() { reset(); }

    // 64 zero bytes, as at load.
    void reset();
    // Takes `bytes` as the buffer's known content (a test that starts from the buffer as
    // earlier tests left it).
    void assume(const std::uint8_t* bytes);

    // Checks the transfers the board received during one call against the call's steps, in
    // order, and moves the model on.  Returns an empty text when they agree, else a description
    // of the first disagreement.
    std::string advance(const std::vector<Step>& steps, const std::vector<Bytes>& received);

    std::uint8_t value(std::size_t offset) const { return value_[offset]; }
    std::uint8_t knownBits(std::size_t offset) const { return known_[offset]; }

private:
    bool matchesPacket(const Step& step, const Bytes& transfer) const;
    void write(const Step& step);
    void maybeWrite(const Step& step);
    std::string describe(const std::vector<Step>& steps, const std::vector<Bytes>& received,
                         const std::string& what) const;

    std::array<std::uint8_t, kPacketBytes> value_{};
    std::array<std::uint8_t, kPacketBytes> known_{};
};

// Hex text of a transfer, for messages.
std::string hexOf(const Bytes& bytes);

}  // namespace tarvex::reliability
