// Eyes for the analysis tests: captures of the demo board's signal on the virtual clock, and the
// values the signal model says their measurements must give (docs/analysis.md derives them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulated/demo/signal_source.h"

namespace tarvex::analysis::testing {

struct DemoCapture {
    std::vector<std::uint16_t> samples;
    emulated::demo::SignalOptions signal;
};

// `packets` packets from a demo board set up by `options` ("noise=40,jitter=15p", the demo
// grammar), through the library's u_GetScopeSamples.
DemoCapture captureDemo(const std::string& options, std::uint16_t packets = 2000);

// The same capture folded as u_GetEyeXY folds it (xScale 0).
struct FoldedEye {
    std::vector<std::uint16_t> x, y;
    std::uint16_t width = 0;
};
FoldedEye fold(const DemoCapture& capture);

// What the signal model makes each measurement.
struct ModelValues {
    double one, zero, amplitude;  // codes
    double noise;                 // codes, with the rounding to whole codes
    double eyeHeight, q;
    double crossing;              // codes
    double jitterRms;             // seconds: the jitter and the noise seen through the edge
    double eyeWidth;              // seconds
    double rise1090, rise2080;    // seconds
};
ModelValues modelValues(const emulated::demo::SignalOptions& signal);

}  // namespace tarvex::analysis::testing
