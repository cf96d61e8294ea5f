// The VSC device's temperature sensor: the die warms from its power-on temperature toward a
// settled one and wanders slowly around it, as a function of the board's time alone, so a test
// that reads it at a given time always sees the same value.
//
// A reading is 8.8 fixed point degrees Celsius: [0] 1/256 degrees, [1] whole degrees.
#pragma once

#include <array>
#include <cstdint>

#include "emulated/demo/protocol.h"
#include "emulated/firmware.h"

namespace tarvex::emulated::demo {

struct TemperatureOptions {
    double powerOnC = 35.0;
    double settledC = 48.0;
    double timeConstantS = 600.0;  // warming time constant, seconds
    double wanderC = 0.6;          // amplitude of the slow wander once warm
};

class VscTemperature {
public:
    explicit VscTemperature(const TemperatureOptions& options) : options_(options) {}

    double celsius(Micros now) const;
    std::array<std::uint8_t, kTemperatureReplyBytes> reading(Micros now) const;

private:
    TemperatureOptions options_;
};

}  // namespace tarvex::emulated::demo
