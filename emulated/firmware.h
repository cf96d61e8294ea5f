// What an emulated board's firmware does with the bytes the host writes to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarvex::emulated {

using Bytes = std::vector<std::uint8_t>;
using Micros = std::uint64_t;  // emulated time, microseconds since the world began

struct Reply {
    Bytes bytes;        // one transfer on the device-to-host pipe
    Micros delay = 0;   // ready this long after the request arrived (on top of the board latency)
};

class Firmware {
public:
    virtual ~Firmware() = default;

    // One transfer written on the host-to-device pipe at time `now`: a 64-byte command packet,
    // or the data block some commands write right after their packet.  The firmware appends
    // the replies it answers with; a DIR_GET packet gets exactly one, a DIR_SET packet none.
    virtual void receive(const std::uint8_t* data, std::size_t length, Micros now,
                         std::vector<Reply>& replies) = 0;

    // Data for an interrupt read at time `now`, if the board has any.
    virtual std::optional<Bytes> interruptData(Micros /*now*/) { return std::nullopt; }
};

}  // namespace tarvex::emulated
