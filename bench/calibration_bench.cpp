// Figure 5, for the record: the seven calibration values through the wire format and back.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench/benchmarks.h"
#include "bench/figures.h"
#include "commands/calibration.h"
#include "tarvex.h"

namespace tarvex::bench {
namespace {

using commands::CalibEntry;

constexpr float kValues[CALIB_VALUE_COUNT] = {1.5f,   1.2346f,   100.0001f, 2.7182817f,
                                              0.0001f, 65535.99f, 4464.25f};

void encode(benchmark::State& state) {
    float values[CALIB_VALUE_COUNT];
    for (int i = 0; i < CALIB_VALUE_COUNT; ++i) values[i] = kValues[i];
    CalibEntry entries[CALIB_VALUE_COUNT];
    for (auto _ : state) {
        benchmark::DoNotOptimize(values);
        for (int i = 0; i < CALIB_VALUE_COUNT; ++i) entries[i] = commands::encodeCalib(values[i]);
        benchmark::DoNotOptimize(entries);
    }
}

void decode(benchmark::State& state) {
    CalibEntry entries[CALIB_VALUE_COUNT];
    for (int i = 0; i < CALIB_VALUE_COUNT; ++i) entries[i] = commands::encodeCalib(kValues[i]);
    float values[CALIB_VALUE_COUNT];
    for (auto _ : state) {
        benchmark::DoNotOptimize(entries);
        for (int i = 0; i < CALIB_VALUE_COUNT; ++i) values[i] = commands::decodeCalib(entries[i]);
        benchmark::DoNotOptimize(values);
    }
}

}  // namespace

void registerCalibrationBenchmarks() {
    benchmark::RegisterBenchmark("calibration/encode7", encode);
    benchmark::RegisterBenchmark("calibration/decode7", decode);
}

}  // namespace tarvex::bench
