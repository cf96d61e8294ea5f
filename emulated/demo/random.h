// The demo board's random numbers: a seeded xoshiro256** generator with uniform and Gaussian
// draws.  Everything random on the board comes from here, so a seed replays a board exactly
// (the standard library's distributions differ between library vendors, so none is used).
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

namespace tarvex::emulated::demo {

class Random {
public:
    explicit Random(std::uint64_t seed) {
        // splitmix64 spreads any seed, 0 included, over the four state words.
        for (auto& word : state_) {
            seed += 0x9E3779B97F4A7C15ull;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            word = z ^ (z >> 31);
        }
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    // Uniform in [0, 1), 53 random bits.
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

    // Standard normal (Box-Muller); the second value of each pair is kept for the next call.
    double gaussian() {
        if (hasSpare_) {
            hasSpare_ = false;
            return spare_;
        }
        double u1 = uniform();
        while (u1 <= 0.0) u1 = uniform();
        const double u2 = uniform();
        const double radius = std::sqrt(-2.0 * std::log(u1));
        const double angle = 2.0 * std::numbers::pi * u2;
        spare_ = radius * std::sin(angle);
        hasSpare_ = true;
        return radius * std::cos(angle);
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

    std::uint64_t state_[4];
    double spare_ = 0.0;
    bool hasSpare_ = false;
};

}  // namespace tarvex::emulated::demo
