// The fuzzer's input, read as a stream of small decisions.  Past its end every read gives 0, so
// any input decodes to a finite, valid sequence of calls.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tarvex::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool done() const { return at_ >= size_; }

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Each read in a statement of its own: the order of reads must not depend on the compiler.
    std::uint16_t u16() {
        const std::uint8_t low = byte();
        const std::uint8_t high = byte();
        return static_cast<std::uint16_t>(low | (high << 8));
    }
    std::uint32_t u32() {
        const std::uint16_t low = u16();
        const std::uint16_t high = u16();
        return low | (static_cast<std::uint32_t>(high) << 16);
    }
    bool flag() { return (byte() & 1) != 0; }
    // 0 .. n-1 (n > 0).
    std::uint32_t below(std::uint32_t n) { return u16() % n; }
    template <class T, std::size_t N>
    T pick(const T (&choices)[N]) {
        return choices[byte() % N];
    }

    // A board index of the u_ family: mostly a row of the table, sometimes anything.
    std::uint16_t index() {
        const std::uint8_t b = byte();
        if (b < 200) return static_cast<std::uint16_t>(b % 4);
        if (b < 240) return static_cast<std::uint16_t>(b % 40);
        return u16();
    }
    // A board index of the port family: 32 bits, of which only the low 16 count.
    std::uint32_t wideIndex() {
        const std::uint8_t b = byte();
        if (b < 200) return b % 4;
        if (b < 230) return 0x10000u * (1 + b % 3) + (b % 4);  // wraps onto rows 0..3
        return u32();
    }

    // Doubles a host may pass as rates: ordinary ones, edge values, NaN and the infinities.
    double rate() {
        static const double specials[] = {1.0,
                                          1.25,
                                          10.3125e9,
                                          100e6,
                                          0.0,
                                          -0.0,
                                          -1.0,
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::denorm_min(),
                                          std::numeric_limits<double>::max(),
                                          1e-300,
                                          3e8,
                                          49.0,
                                          2.5};
        const std::uint8_t b = byte();
        if (b < 128) return specials[b % 16];
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(byte()) << (8 * i);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

    // Floats for calibration values: ordinary, edge, NaN, infinities, raw bits.
    float calibration() {
        static const float specials[] = {1.5f,
                                         1.2346f,
                                         0.0f,
                                         -0.5f,
                                         65535.99609375f,
                                         65536.0f,
                                         70000.25f,
                                         262144.0f,
                                         -196609.0f,
                                         3.4e38f,
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::denorm_min(),
                                         2147483648.0f,
                                         -2147483904.0f};
        const std::uint8_t b = byte();
        if (b < 160) return specials[b % 16];
        const std::uint32_t bits = u32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

    // A time-out for the MPUSB transfers: the usual ones, 0, and "wait without limit".
    std::uint32_t timeout() {
        static const std::uint32_t choices[] = {250, 100, 0, 1, 1000, 0xFFFFFFFFu, 250, 100};
        return pick(choices);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace tarvex::fuzz
