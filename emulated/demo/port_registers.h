// The board's 256 port registers of 16 bits as the host writes them.  A few bits are status
// the board drives (read only): the register file stores them as 0 and the firmware puts the
// live state in when the host reads.
//
//   port 0  front-end control            reset 0x0000
//   port 1  input offset DAC             reset 0x0800 (mid-scale)
//   port 2  status: bit 4 data ready, bit 13 PLL locked (read only); other bits plain
//   port 3  acquisition: bits 0-1 FIFO reset (active low), bit 5 capture enable,
//           bit 7 FIFO underflow (read only)           reset 0x0003
//   port 4  health: bit 4 front-end fault (read only); other bits plain
//   port 5  sampler delay step           reset 0x0100
//   others  plain registers              reset 0x0000
#pragma once

#include <array>
#include <cstdint>

namespace tarvex::emulated::demo {

class PortRegisters {
public:
    PortRegisters() { reset(); }

    void reset();
    // Stores the writable bits of `value`.
    void write(std::uint8_t port, std::uint16_t value);
    // The stored bits (status bits read 0 here).
    std::uint16_t stored(std::uint8_t port) const { return values_[port]; }
    // The bits of `port` the board drives itself.
    static std::uint16_t statusMask(std::uint8_t port);

private:
    std::array<std::uint16_t, 256> values_{};
};

}  // namespace tarvex::emulated::demo
