#include "analysis/demo_eye.h"

#include <cmath>

#include <gtest/gtest.h>

#include "emulated/demo_world.h"
#include "platform/platform.h"
#include "tarvex.h"
#include "tarvex_analysis.h"

namespace tarvex::analysis::testing {

DemoCapture captureDemo(const std::string& options, std::uint16_t packets) {
    const auto parsed = emulated::parseDemoConfig("clock=virtual," + options);
    EXPECT_FALSE(parsed.error) << options;
    emulated::DemoWorld demo(parsed.config);
    platform::ScopedBackend use(demo.backend());
    DemoCapture capture;
    capture.signal = parsed.config.firmware.signal;
    capture.samples.assign(std::size_t{packets} * SAMPLES_PER_PACKET, 0);
    ScopeStats stats{};
    EXPECT_EQ(OpenUSBPort(0), 1);
    u_GetScopeSamples(0, packets, capture.samples.data(), &stats);
    CloseUSBPort(0);
    EXPECT_EQ(stats.okCount, packets);
    return capture;
}

FoldedEye fold(const DemoCapture& capture) {
    FoldedEye eye;
    eye.x.resize(capture.samples.size());
    eye.y.resize(capture.samples.size());
    EXPECT_EQ(tvaFoldSamples(capture.samples.data(), static_cast<std::uint32_t>(capture.samples.size()),
                             capture.signal.dataRate, capture.signal.sampleRate, 0, eye.x.data(),
                             eye.y.data(), &eye.width),
              kTvaOk);
    return eye;
}

ModelValues modelValues(const emulated::demo::SignalOptions& s) {
    ModelValues v{};
    v.one = s.highLevel;
    v.zero = s.lowLevel;
    v.amplitude = s.highLevel - s.lowLevel;
    // Codes are rounded: a uniform error of variance 1/12 on top of the Gaussian noise.
    v.noise = std::sqrt(s.noiseRms * s.noiseRms + 1.0 / 12);
    v.eyeHeight = v.amplitude - 6 * v.noise;
    v.q = v.amplitude / (2 * v.noise);
    v.crossing = (s.lowLevel + s.highLevel) / 2;
    // The tanh edge: 10-90 % spans 2 atanh(0.8) time constants; its slope at the crossing is
    // amplitude / (2 tau), through which the noise becomes time.
    const double tau = s.riseTime / (2 * std::atanh(0.8));
    const double noiseInTime = v.noise * 2 * tau / v.amplitude;
    v.jitterRms = std::sqrt(s.jitterRms * s.jitterRms + noiseInTime * noiseInTime);
    v.eyeWidth = 1 / s.dataRate - 6 * v.jitterRms;
    v.rise1090 = s.riseTime;
    v.rise2080 = 2 * std::atanh(0.6) * tau;
    return v;
}

}  // namespace tarvex::analysis::testing
