#!/usr/bin/env bash
# Runs the benchmarks: every figure beside its bound, measured in one run, and a table of the
# ratios against their goals at the end.
#
#   scripts/run-benchmarks.sh [--brief] <build-dir> [Google Benchmark flags...]
#
# The build directory is any configured tree (an optimised one gives the figures as shipped; a
# debug tree builds optimised copies of the library for the benchmarks).  The benchmark target
# is built first if needed.
#
#   --brief  each benchmark once, for one iteration: a smoke run for CI.  Fails if a benchmark
#            crashes or reports an error, never on a missed goal; the soak run, a fifth as
#            long, still fails when memory grows.
#   default  five repetitions in random order, medians; fails also when a goal is missed.
set -euo pipefail

usage() {
  echo "usage: $0 [--brief] <build-dir> [benchmark flags...]" >&2
  exit 2
}

brief=0
if [ "${1:-}" = "--brief" ]; then
  brief=1
  shift
fi
[ $# -ge 1 ] || usage
build=$1
shift
[ -d "$build" ] || { echo "$0: no build directory $build" >&2; exit 2; }

cmake --build "$build" --target tarvex_benchmarks tarvex_soak -j"$(nproc)"
bench="$build/bench/tarvex_benchmarks"
[ -x "$bench" ] || { echo "$0: $bench was not built (TARVEX_BUILD_BENCH=OFF?)" >&2; exit 2; }

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) CPUs," \
     "$(free -h | awk '/^Mem:/ {print $2}') memory, $(uname -sr)"

# The soak run first: a stream of commands against the demo board and the resident memory it
# leaves behind after warm-up (a fifth of it in a brief run).
if [ "$brief" = 1 ]; then
  "$build/bench/tarvex_soak" --commands 200000 --warm-up 50000
  exec "$bench" --brief "$@"
fi
"$build/bench/tarvex_soak"
exec "$bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_display_aggregates_only=true "$@"
