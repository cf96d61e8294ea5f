#include "emulated/board.h"

#include <algorithm>
#include <optional>

namespace tarvex::emulated {
namespace {

constexpr std::size_t kCommandPacketBytes = 64;
constexpr Micros kMicrosPerMs = 1000;

// The filler of a stray reply, so that a test can tell it from a real one.
constexpr std::uint8_t kStrayFill = 0xA5;

}  // namespace

Board::Board(DeviceIdentity identity, std::unique_ptr<Firmware> firmware)
    : identity_(std::move(identity)), firmware_(std::move(firmware)) {}

Bytes Board::lastPacket() const {
    for (auto it = received_.rbegin(); it != received_.rend(); ++it)
        if (it->bytes.size() == kCommandPacketBytes) return it->bytes;
    return {};
}

void Board::injectFault(Fault fault) { faults_.push_back(fault); }

void Board::injectFaults(std::size_t count, Fault fault) {
    for (std::size_t i = 0; i < count; ++i) faults_.push_back(fault);
}

void Board::clearFaults() {
    faults_.clear();
    endOfData_ = false;
}

bool Board::takeEndOfData() {
    bool armed = endOfData_;
    endOfData_ = false;
    return armed;
}

Board::WriteOutcome Board::write(const std::uint8_t* data, std::size_t length, Micros now) {
    std::optional<Fault> fault;
    if (!faults_.empty()) {
        fault = faults_.front();
        faults_.pop_front();
    }

    // Faults that keep the transfer from ever reaching the board.
    if (fault) {
        switch (fault->kind) {
        case FaultKind::kRefuseWrite: return {.accepted = false, .error = fault->value};
        case FaultKind::kStallWrite: return {.stall = true};
        case FaultKind::kUnplug: return {.unplug = true};
        default: break;
        }
    }

    Transfer transfer{Bytes(data, data + length), now};
    received_.push(transfer);
    if (onReceive) onReceive(transfer);

    std::vector<Reply> replies;
    if (firmware_) firmware_->receive(data, length, now, replies);

    if (fault) {
        switch (fault->kind) {
        case FaultKind::kNoReply:
            replies.clear();
            break;
        case FaultKind::kShortReply:
            for (Reply& r : replies) r.bytes.resize(std::min<std::size_t>(r.bytes.size(), fault->value));
            break;
        case FaultKind::kLateReply:
            for (Reply& r : replies) r.delay += fault->value * kMicrosPerMs;
            break;
        case FaultKind::kStrayReply: {
            Bytes stray(fault->value, kStrayFill);
            if (!stray.empty() && length > 0) stray[0] = data[0];
            replies.push_back({std::move(stray), 0});
            break;
        }
        case FaultKind::kEndOfData:
            replies.clear();
            endOfData_ = true;
            break;
        default:
            break;
        }
    }

    // The board answers its requests one after another: a late reply holds back the next.
    for (Reply& r : replies) {
        Micros readyAt = now + latency_ + r.delay;
        if (!replies_.empty()) readyAt = std::max(readyAt, replies_.back().readyAt);
        replies_.push_back({std::move(r.bytes), readyAt});
    }
    return {};
}

}  // namespace tarvex::emulated
