// tarvex_benchmarks: every figure beside its bound, in one run, with a table of the ratios at the
// end.
//
//   tarvex_benchmarks [--brief] [Google Benchmark flags]
//
// --brief runs each benchmark for one iteration (a smoke run for CI): the figures are then only
// indicative and a missed goal does not fail the run.  Otherwise the exit status is 1 when a
// goal is missed.  Either way it is 2 when a benchmark reports an error.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/benchmarks.h"
#include "bench/figures.h"

int main(int argc, char** argv) {
    bool brief = false;
    std::vector<char*> args;
    static char oneIteration[] = "--benchmark_min_time=0";
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--brief") == 0) {
            brief = true;
            continue;
        }
        args.push_back(argv[i]);
    }
    // Inserted before the caller's flags, which may still override it.
    if (brief) args.insert(args.begin() + 1, oneIteration);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

    using namespace tarvex::bench;
    registerCommandBenchmarks();
    registerCaptureBenchmarks();
    registerEyeBenchmarks();
    registerDiscoveryBenchmarks();
    registerCalibrationBenchmarks();
    registerAnalysisBenchmarks();
#ifdef TARVEX_BENCH_VIEW
    registerViewBenchmarks();
#endif

    FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (reporter.failures() > 0) return 2;
    if (!brief && reporter.missedGoals() > 0) return 1;
    return 0;
}
