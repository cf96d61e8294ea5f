// Figure 3: folding the longest capture, 65535 packets of 32 samples (2,097,120 samples), into
// eye coordinates, beside a memory copy of the same bytes (the samples read, the coordinates
// written).  The samples are a real capture of the demo board's signal.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_world.h"
#include "bench/benchmarks.h"
#include "bench/figures.h"
#include "commands/eye_fold.h"
#include "tarvex.h"

namespace tarvex::bench {
namespace {

using commands::FoldUnit;

constexpr std::uint16_t kPackets = 65535;
constexpr std::uint32_t kSamples = std::uint32_t{kPackets} * SAMPLES_PER_PACKET;
// The demo board's signal: 1.25 Gb/s sampled at 99 MHz equivalent time.
constexpr double kDataRate = 1.25e9;
constexpr double kSampleRate = 99e6;

const std::vector<std::uint16_t>& capture() {
    static const std::vector<std::uint16_t> samples = [] {
        std::vector<std::uint16_t> y(kSamples);
        BoardWorld w(true);
        ScopeStats stats{};
        u_GetScopeSamples(0, kPackets, y.data(), &stats);
        return y;
    }();
    return samples;
}

void memoryCopy(benchmark::State& state) {
    std::vector<std::uint16_t> y = capture();
    std::vector<std::uint16_t> x(kSamples);
    for (auto _ : state) {
        std::memcpy(x.data(), y.data(), kSamples * sizeof(std::uint16_t));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSamples * 4);
}

// Only units the CPU has are registered.
void fold(benchmark::State& state, FoldUnit unit) {
    std::vector<std::uint16_t> y = capture();
    std::vector<std::uint16_t> x(kSamples);
    for (auto _ : state) {
        commands::foldEye(y.data(), x.data(), kSamples, kDataRate, kSampleRate, 0, unit);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSamples * 4);
}

// The algorithm as written, one sample at a time: the range, the width, then the fold.
void straightforwardFold(benchmark::State& state) {
    std::vector<std::uint16_t> y = capture();
    std::vector<std::uint16_t> x(kSamples);
    for (auto _ : state) {
        std::uint16_t minimum = 4096, maximum = 0;
        for (std::uint32_t i = 0; i < kSamples; ++i) {
            if (y[i] < minimum && y[i] != 0) minimum = y[i];
            if (y[i] > maximum) maximum = y[i];
        }
        const auto width = static_cast<std::uint16_t>(maximum - minimum);
        const double ratio = (1.0 / kSampleRate) / (1.0 / kDataRate);
        const double foldStep = ratio - static_cast<std::int32_t>(ratio);
        for (std::uint32_t i = 0; i < kSamples; ++i) {
            if (y[i] == 0) y[i] = minimum;
            double p = static_cast<double>(i) * foldStep;
            p = p - static_cast<std::int32_t>(p);
            x[i] = static_cast<std::uint16_t>(static_cast<std::int32_t>(width * p));
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSamples * 4);
}

}  // namespace

void registerEyeBenchmarks() {
    benchmark::RegisterBenchmark("eye/memcpy", memoryCopy)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("eye/fold", fold, FoldUnit::kBest)->Unit(benchmark::kMicrosecond);
    addFigure({.title = "Eye folding, 2,097,120 samples",
               .measured = "eye/fold",
               .bound = {{"eye/memcpy"}},
               .goal = 2.0,
               .boundText = "memcpy of 4 MiB"});

    // For the record: each vector unit, and the algorithm written plainly.
    const struct {
        const char* name;
        FoldUnit unit;
    } units[] = {{"scalar", FoldUnit::kScalar},
                 {"sse2", FoldUnit::kSse2},
                 {"avx2", FoldUnit::kAvx2},
                 {"avx512", FoldUnit::kAvx512}};
    for (const auto& u : units) {
        if (!commands::foldUnitAvailable(u.unit)) continue;
        const std::string name = std::string("eye/fold/") + u.name;
        benchmark::RegisterBenchmark(name.c_str(), fold, u.unit)->Unit(benchmark::kMicrosecond);
        addFigure({.title = std::string("Eye folding on ") + u.name,
                   .measured = name,
                   .bound = {{"eye/memcpy"}},
                   .boundText = "memcpy of 4 MiB"});
    }
    benchmark::RegisterBenchmark("eye/straightforward", straightforwardFold)
        ->Unit(benchmark::kMicrosecond);
    addFigure({.title = "Eye folding written plainly (the tests' reference)",
               .measured = "eye/straightforward",
               .bound = {{"eye/memcpy"}},
               .boundText = "memcpy of 4 MiB"});
}

}  // namespace tarvex::bench
