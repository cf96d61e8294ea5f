// The capture FIFO between the sampler and the USB side, driven by the acquisition bits of
// port 3: the two FIFO reset bits (active low) and the capture enable bit.
//
//   - While either reset bit is 0 the FIFO is held empty and nothing is captured; when both are
//     1 again it is empty and ready.
//   - A 0 -> 1 edge of capture enable (with the FIFO out of reset) triggers the sampler: the
//     FIFO fills from the signal source, first sample marked with the trigger bit.  While the
//     capture runs the sampler keeps the FIFO topped up as the host drains it (the equivalent-
//     time sampler waits for room), so a capture delivers as many packets as the host asks for.
//   - Clearing capture enable stops the sampler; the samples already in the FIFO stay readable.
//   - Reading an empty FIFO gives zero words and sets the underflow flag (port 3 bit 7) until
//     the next FIFO reset.
//
// The samples are drawn from the signal source as they are read; the source is deterministic,
// so this is the same as having stored them at capture time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "emulated/demo/signal_source.h"

namespace tarvex::emulated::demo {

class SampleFifo {
public:
    SampleFifo(SignalSource& source, std::size_t depth);

    // The host wrote port 3: act on the edges of the acquisition bits.
    void control(std::uint16_t port3);
    // Power-on state: empty, stopped, flags clear, port 3 bits taken as `port3`.
    void reset(std::uint16_t port3);

    // Fills `count` little-endian sample words at `out` (2 * count bytes).
    void read(std::uint8_t* out, std::size_t count);

    bool capturing() const { return capturing_; }
    bool holdsData() const { return buffered_ > 0; }
    bool underflow() const { return underflow_; }
    bool heldInReset() const { return heldInReset_; }
    std::size_t buffered() const { return buffered_; }
    std::size_t depth() const { return depth_; }
    std::uint32_t capturesStarted() const { return capturesStarted_; }
    std::uint64_t wordsDelivered() const { return wordsDelivered_; }

private:
    std::uint16_t nextWord();

    SignalSource& source_;
    std::size_t depth_;
    std::size_t buffered_ = 0;
    bool capturing_ = false;
    bool underflow_ = false;
    bool heldInReset_ = false;
    bool enabled_ = false;
    bool markNext_ = false;
    std::uint32_t capturesStarted_ = 0;
    std::uint64_t wordsDelivered_ = 0;
};

}  // namespace tarvex::emulated::demo
