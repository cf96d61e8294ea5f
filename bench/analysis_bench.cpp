// Figure 6: the eye analysis over the eye of the longest capture (2,097,120 samples of the demo
// board's signal, folded as u_GetEyeXY folds them), beside the memory copy of the same samples
// measured for figure 3: the whole measurement set, and the mask test of the usual NRZ hexagon
// with a flag per point (what a picture marks).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/bench_world.h"
#include "bench/benchmarks.h"
#include "bench/figures.h"
#include "tarvex.h"
#include "tarvex_analysis.h"

namespace tarvex::bench {
namespace {

constexpr std::uint16_t kPackets = 65535;
constexpr std::uint32_t kSamples = std::uint32_t{kPackets} * SAMPLES_PER_PACKET;
constexpr double kDataRate = 1.25e9;
constexpr double kSampleRate = 99e6;

struct Eye {
    std::vector<std::uint16_t> samples, x, y;
    std::uint16_t width = 0;
    TvaEyeMeasurements measured{};
};

const Eye& eye() {
    static const Eye folded = [] {
        Eye e;
        e.samples.resize(kSamples);
        e.x.resize(kSamples);
        e.y.resize(kSamples);
        {
            BoardWorld w(true);
            ScopeStats stats{};
            u_GetScopeSamples(0, kPackets, e.samples.data(), &stats);
        }
        tvaFoldSamples(e.samples.data(), kSamples, kDataRate, kSampleRate, 0, e.x.data(),
                       e.y.data(), &e.width);
        tvaMeasurePoints(e.x.data(), e.y.data(), kSamples, e.width, kDataRate, &e.measured);
        return e;
    }();
    return folded;
}

void measurePoints(benchmark::State& state) {
    const Eye& e = eye();
    TvaEyeMeasurements out{};
    for (auto _ : state) {
        if (tvaMeasurePoints(e.x.data(), e.y.data(), kSamples, e.width, kDataRate, &out) != kTvaOk)
            state.SkipWithError("the measurement failed");
        benchmark::DoNotOptimize(out);
    }
}

void measureSamples(benchmark::State& state) {
    const Eye& e = eye();
    TvaEyeMeasurements out{};
    for (auto _ : state) {
        if (tvaMeasureSamples(e.samples.data(), kSamples, kDataRate, kSampleRate, &out) != kTvaOk)
            state.SkipWithError("the measurement failed");
        benchmark::DoNotOptimize(out);
    }
}

void maskTest(benchmark::State& state) {
    const Eye& e = eye();
    TvaMask mask{};
    tvaMaskHexagon(0.25, 0.4, 0.25, 0.25, &mask);
    std::vector<std::uint8_t> flags(kSamples);
    TvaMaskResult result{};
    for (auto _ : state) {
        if (tvaMaskTest(e.x.data(), e.y.data(), kSamples, e.width, &e.measured.frame, &mask,
                        &result, flags.data()) != kTvaOk)
            state.SkipWithError("the mask test failed");
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
}

void density(benchmark::State& state) {
    const Eye& e = eye();
    TvaHistogramLayout layout{};
    tvaSuggestLayout(e.x.data(), kSamples, e.width, kDataRate, kSampleRate,
                     e.measured.frame.crossingPhase, &layout);
    layout.rows = 300;
    layout.yLow = 0;
    layout.yHigh = 4096;
    std::vector<std::uint32_t> counts(std::size_t{layout.rows} * layout.columns);
    for (auto _ : state) {
        tvaEyeHistogram(e.x.data(), e.y.data(), kSamples, e.width, &layout, counts.data(),
                        static_cast<std::uint32_t>(counts.size()));
        benchmark::ClobberMemory();
    }
}

}  // namespace

void registerAnalysisBenchmarks() {
    benchmark::RegisterBenchmark("analysis/measure", measurePoints)->Unit(benchmark::kMicrosecond);
    addFigure({.title = "Eye measurements (all 17), 2,097,120 points",
               .measured = "analysis/measure",
               .bound = {{"eye/memcpy"}},
               .goal = 5.0,
               .boundText = "memcpy of the samples (4 MiB)"});
    benchmark::RegisterBenchmark("analysis/mask", maskTest)->Unit(benchmark::kMicrosecond);
    addFigure({.title = "Mask test (NRZ hexagon, flag per point), 2,097,120 points",
               .measured = "analysis/mask",
               .bound = {{"eye/memcpy"}},
               .goal = 3.0,
               .boundText = "memcpy of the samples (4 MiB)"});
    benchmark::RegisterBenchmark("analysis/measure-samples", measureSamples)
        ->Unit(benchmark::kMicrosecond);
    addFigure({.title = "…from raw samples (fold included)",
               .measured = "analysis/measure-samples",
               .bound = {{"eye/memcpy"}},
               .boundText = "memcpy of the samples (4 MiB)"});
    benchmark::RegisterBenchmark("analysis/density", density)->Unit(benchmark::kMicrosecond);
    addFigure({.title = "Density histogram for a picture (99 x 300 cells)",
               .measured = "analysis/density",
               .bound = {{"eye/memcpy"}},
               .boundText = "memcpy of the samples (4 MiB)"});
}

}  // namespace tarvex::bench
