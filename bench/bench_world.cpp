#include "bench/bench_world.h"

#include <vector>

#include "tarvex.h"

namespace tarvex::bench {

using platform::Handle;
using platform::Overlapped;

namespace {

// Answers port reads and writes and scope packets, nothing else.  Scope packets come from a
// block of 12-bit samples made once, read round and round.
class LeanFirmware final : public emulated::Firmware {
public:
    LeanFirmware() {
        std::uint32_t state = 0x2545F491;
        for (std::size_t i = 0; i < kBlockWords; ++i) {
            state = state * 1664525u + 1013904223u;
            const auto word = static_cast<std::uint16_t>(1 + (state >> 20) % 4095);
            block_[2 * i] = static_cast<std::uint8_t>(word & 0xFF);
            block_[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
        }
    }

    void receive(const std::uint8_t* data, std::size_t length, emulated::Micros /*now*/,
                 std::vector<emulated::Reply>& replies) override {
        if (length != COMMAND_PACKET_BYTES) return;
        const bool get = data[1] == DIR_GET;
        switch (data[0]) {
            case CMD_PORT:
                if (get) {
                    const std::uint16_t value = ports_[data[3]];
                    replies.push_back({{data[3], static_cast<std::uint8_t>(value & 0xFF),
                                        static_cast<std::uint8_t>(value >> 8)}});
                } else {
                    ports_[data[3]] = static_cast<std::uint16_t>(data[4] | (data[5] << 8));
                }
                break;
            case CMD_SCOPE:
                if (get) {
                    const std::uint8_t* at = block_ + next_;
                    replies.push_back({emulated::Bytes(at, at + SCOPE_PACKET_BYTES)});
                    next_ = (next_ + SCOPE_PACKET_BYTES) % sizeof block_;
                }
                break;
            default: break;
        }
    }

private:
    static constexpr std::size_t kBlockWords = 4096;
    std::uint8_t block_[2 * kBlockWords];
    std::size_t next_ = 0;
    std::uint16_t ports_[256] = {};
};

}  // namespace

std::unique_ptr<emulated::Firmware> makeLeanFirmware() { return std::make_unique<LeanFirmware>(); }

BoardWorld::BoardWorld(bool openPort, BoardKind kind)
    : world(emulated::ClockMode::kVirtual),
      board(world.plugBoard(kind == BoardKind::kLean ? makeLeanFirmware() : nullptr)),
      use_(world) {
    if (openPort) portOpen_ = OpenUSBPort(0) == 1;
}

BoardWorld::~BoardWorld() {
    if (portOpen_) CloseUSBPort(0);
}

BareTransport::BareTransport(emulated::World& world, const std::string& interfacePath)
    : world_(world) {
    const std::string pipe = interfacePath + TARVEX_BOARD_PIPE;
    const std::uint32_t flags = platform::kFileFlagOverlapped | platform::kFileAttributeNormal;
    out_ = world_.createFile(pipe.c_str(), platform::kGenericWrite, 0, platform::kOpenExisting,
                             flags);
    in_ = world_.createFile(pipe.c_str(), platform::kGenericRead, 0, platform::kOpenExisting,
                            flags);
}

BareTransport::~BareTransport() {
    if (out_ != platform::invalidHandle()) world_.closeHandle(out_);
    if (in_ != platform::invalidHandle()) world_.closeHandle(in_);
}

bool BareTransport::open() const {
    return out_ != platform::invalidHandle() && in_ != platform::invalidHandle();
}

std::uint32_t BareTransport::write(const void* data, std::uint32_t length) {
    return transfer(true, const_cast<void*>(data), length);
}

std::uint32_t BareTransport::read(void* data, std::uint32_t length) {
    return transfer(false, data, length);
}

std::uint32_t BareTransport::transfer(bool writing, void* data, std::uint32_t length) {
    Overlapped record{};
    record.event = world_.createEvent(false, false);
    std::uint32_t count = 0;
    bool done = writing ? world_.writeFile(out_, data, length, &count, &record)
                        : world_.readFile(in_, data, length, &count, &record);
    if (!done && world_.getLastError() == platform::kErrorIoPending) {
        const Handle pipe = writing ? out_ : in_;
        if (world_.waitForSingleObject(record.event, 250) == platform::kWaitObject0) {
            done = world_.getOverlappedResult(pipe, &record, &count, false);
        } else {
            world_.cancelIo(pipe);
            world_.getOverlappedResult(pipe, &record, &count, true);
        }
    }
    world_.resetEvent(record.event);
    world_.closeHandle(record.event);
    return done ? count : 0;
}

}  // namespace tarvex::bench
