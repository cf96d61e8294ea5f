#include "reliability/command_buffer_model.h"

#include <cstdio>

namespace tarvex::reliability {

std::string hexOf(const Bytes& bytes) {
    std::string text(1, '[');
    text += std::to_string(bytes.size());
    text += "] ";
    char cell[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%02X", bytes[i]);
        if (i) text += (i % 16 == 0) ? " | " : " ";
        text += cell;
    }
    return text;
}

void CommandBufferModel::reset() {
    value_.fill(0);
    known_.fill(0xFF);
}

void CommandBufferModel::assume(const std::uint8_t* bytes) {
    for (std::size_t i = 0; i < kPacketBytes; ++i) value_[i] = bytes[i];
    known_.fill(0xFF);
}

bool CommandBufferModel::matchesPacket(const Step& step, const Bytes& transfer) const {
    if (transfer.size() != kPacketBytes) return false;
    auto value = value_;
    auto known = known_;
    for (const ByteWrite& w : step.writes) {
        value[w.offset] = static_cast<std::uint8_t>((value[w.offset] & ~w.mask) | (w.value & w.mask));
        known[w.offset] = w.mask;
    }
    for (std::size_t i = 0; i < kPacketBytes; ++i)
        if (((transfer[i] ^ value[i]) & known[i]) != 0) return false;
    return true;
}

static bool matchesData(const Step& step, const Bytes& transfer) {
    if (transfer.size() != step.data.size()) return false;
    for (std::size_t i = 0; i < transfer.size(); ++i) {
        const std::uint8_t mask = step.dataMask.empty() ? 0xFF : step.dataMask[i];
        if (((transfer[i] ^ step.data[i]) & mask) != 0) return false;
    }
    return true;
}

// The command wrote its bytes although the transfer never reached the board.
void CommandBufferModel::write(const Step& step) {
    for (const ByteWrite& w : step.writes) {
        value_[w.offset] =
            static_cast<std::uint8_t>((value_[w.offset] & ~w.mask) | (w.value & w.mask));
        // Bits the command writes with a value the model cannot predict are unknown now.
        known_[w.offset] = w.mask;
    }
}

// The command may or may not have written its bytes: only bits that are the same either way
// stay known.
void CommandBufferModel::maybeWrite(const Step& step) {
    for (const ByteWrite& w : step.writes) {
        const std::uint8_t before = value_[w.offset];
        const std::uint8_t after =
            static_cast<std::uint8_t>((before & ~w.mask) | (w.value & w.mask));
        known_[w.offset] =
            static_cast<std::uint8_t>(known_[w.offset] & w.mask & ~(before ^ after));
    }
}

std::string CommandBufferModel::describe(const std::vector<Step>& steps,
                                         const std::vector<Bytes>& received,
                                         const std::string& what) const {
    std::string text = what + "\n  steps:";
    for (const Step& step : steps) {
        text += "\n    ";
        switch (step.kind) {
            case Step::Kind::kPacket: {
                text += "packet";
                for (const ByteWrite& w : step.writes) {
                    char cell[24];
                    std::snprintf(cell, sizeof cell, " %u=%02X/%02X", w.offset, w.value, w.mask);
                    text += cell;
                }
                break;
            }
            case Step::Kind::kBlock: text += "block " + hexOf(step.data); break;
            case Step::Kind::kRaw: text += "raw " + hexOf(step.data); break;
        }
        if (step.optional) text += " (optional)";
    }
    text += "\n  received:";
    for (const Bytes& transfer : received) text += "\n    " + hexOf(transfer);
    return text;
}

std::string CommandBufferModel::advance(const std::vector<Step>& steps,
                                        const std::vector<Bytes>& received) {
    const CommandBufferModel before = *this;
    std::size_t next = 0;
    bool previousSeen = true;
    for (const Step& step : steps) {
        bool seen = false;
        if (next < received.size() && (!step.needsPrevious || previousSeen)) {
            const Bytes& transfer = received[next];
            if (step.kind == Step::Kind::kPacket) {
                seen = matchesPacket(step, transfer);
                if (seen) {
                    for (std::size_t i = 0; i < kPacketBytes; ++i) value_[i] = transfer[i];
                    known_.fill(0xFF);
                }
            } else {
                seen = matchesData(step, transfer);
            }
        }
        if (seen) {
            ++next;
        } else if (step.kind == Step::Kind::kPacket) {
            if (step.optional)
                maybeWrite(step);
            else
                write(step);
        }
        previousSeen = seen;
    }
    if (next < received.size()) {
        std::string what = "transfer " + std::to_string(next) + " of " +
                           std::to_string(received.size()) +
                           " is not what the command should have sent; buffer before the call: ";
        Bytes known(before.value_.begin(), before.value_.end());
        what += hexOf(known);
        return before.describe(steps, received, what);
    }
    return {};
}

}  // namespace tarvex::reliability
