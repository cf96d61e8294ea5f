// The VScope eye of the board's VSC device: on a generate request the device sweeps its
// sampling phase and threshold and builds a 32 x 32 map of hit counts, which takes a while.
// Until the build is over the device has no eye to give (and none before the first build).
//
// Eye layout: byte 32 * row + column, row 0 the highest threshold, column 0 the earliest phase;
// the columns span one bit period with the crossings at both edges and the eye open in the
// middle.  A cell counts the hits at that phase and threshold, saturating at 255.  Each build is
// a new sweep, so the counts differ a little from build to build.
#pragma once

#include <array>
#include <cstdint>

#include "emulated/demo/protocol.h"
#include "emulated/firmware.h"

namespace tarvex::emulated::demo {

class VScope {
public:
    static constexpr std::size_t kColumns = 32;
    static constexpr std::size_t kRows = 32;
    static constexpr std::size_t kHitsPerBuild = 6000;

    VScope(std::uint64_t seed, Micros buildTime) : seed_(seed), buildTime_(buildTime) {}

    // Starts a new build at `now`; the eye held so far is gone.
    void generate(Micros now);
    bool ready(Micros now) const { return built_ && now >= startedAt_ + buildTime_; }
    // `length` bytes of the eye from `offset` on; bytes past its end read 0.
    Bytes page(std::size_t offset, std::size_t length) const;
    // Power-on: no eye.
    void clear() { built_ = false; }

    const std::array<std::uint8_t, kVScopeEyeBytes>& eye() const { return eye_; }
    std::uint32_t builds() const { return builds_; }
    Micros buildTime() const { return buildTime_; }

private:
    std::uint64_t seed_;
    Micros buildTime_;
    Micros startedAt_ = 0;
    bool built_ = false;
    std::uint32_t builds_ = 0;
    std::array<std::uint8_t, kVScopeEyeBytes> eye_{};
};

}  // namespace tarvex::emulated::demo
