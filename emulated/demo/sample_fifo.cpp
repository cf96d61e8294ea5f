#include "emulated/demo/sample_fifo.h"

#include "emulated/demo/protocol.h"

namespace tarvex::emulated::demo {

SampleFifo::SampleFifo(SignalSource& source, std::size_t depth)
    : source_(source), depth_(depth == 0 ? 1 : depth) {}

void SampleFifo::reset(std::uint16_t port3) {
    buffered_ = 0;
    capturing_ = false;
    underflow_ = false;
    markNext_ = false;
    heldInReset_ = (port3 & kFifoResetBits) != kFifoResetBits;
    enabled_ = (port3 & kCaptureEnableBit) != 0;
}

void SampleFifo::control(std::uint16_t port3) {
    const bool held = (port3 & kFifoResetBits) != kFifoResetBits;
    const bool enabled = (port3 & kCaptureEnableBit) != 0;

    if (held) {
        // The FIFO's write side is held in reset: whatever was captured is gone and the sampler
        // stops; a capture enable edge now finds nothing to fill.
        buffered_ = 0;
        capturing_ = false;
        underflow_ = false;
        markNext_ = false;
    } else if (enabled && !enabled_) {
        source_.trigger();
        capturing_ = true;
        buffered_ = depth_;
        markNext_ = true;
        ++capturesStarted_;
    } else if (!enabled && enabled_) {
        capturing_ = false;
    }
    heldInReset_ = held;
    enabled_ = enabled;
}

std::uint16_t SampleFifo::nextWord() {
    if (buffered_ == 0) {
        underflow_ = true;
        return 0;
    }
    // A running capture refills the place the word leaves at once.
    if (!capturing_) --buffered_;
    std::uint16_t word = source_.next();
    if (markNext_) {
        word |= kTriggerMark;
        markNext_ = false;
    }
    ++wordsDelivered_;
    return word;
}

void SampleFifo::read(std::uint8_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) putWord(out + 2 * i, nextWord());
}

}  // namespace tarvex::emulated::demo
