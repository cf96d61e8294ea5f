#!/usr/bin/env bash
# Builds the libFuzzer target with clang (address and undefined-behaviour sanitizers, the whole
# library instrumented for coverage) in build/fuzz and runs it from the seed corpus fuzz/corpus.
#
#   scripts/fuzz.sh --ci            about a minute, as CI runs it; fails on any finding
#   scripts/fuzz.sh --time 3600     an hour (any number of seconds)
#   scripts/fuzz.sh --jobs 2 ...    that many fuzzing processes at once
#   scripts/fuzz.sh --keep ...      also adds the new inputs worth keeping to fuzz/corpus
#   scripts/fuzz.sh --replay FILE   runs one input again (a finding kept under build/fuzz/findings)
#
# New inputs go to build/fuzz/corpus, findings to build/fuzz/findings; the seed corpus in the
# repository changes only with --keep.  The last line printed is the number of executions.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
jobs=1
keep=0
replay=""
while [ $# -gt 0 ]; do
  case "$1" in
    --ci) seconds=60 ;;
    --time) seconds="$2"; shift ;;
    --jobs) jobs="$2"; shift ;;
    --keep) keep=1 ;;
    --replay) replay="$2"; shift ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "fuzz.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
  shift
done

build=build/fuzz
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  scripts/setup-debian.sh
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
      -DTARVEX_SANITIZE=ON -DTARVEX_FUZZ=ON -DTARVEX_WITH_LIBUSB=OFF \
      -DTARVEX_BUILD_TESTS=OFF -DTARVEX_BUILD_BENCH=OFF -DTARVEX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target tarvex_fuzz -j"$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if [ -n "$replay" ]; then
  exec "$build/fuzz/tarvex_fuzz" "$replay"
fi

mkdir -p "$build/corpus" "$build/findings"
rm -f "$build"/fuzz-*.log
log="$build/fuzz.log"
parallel=()
[ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
# -close_fd_mask=1: the library's diagnostics on standard output would only slow the run.
set +e
(cd "$build" && fuzz/tarvex_fuzz corpus ../../fuzz/corpus \
  -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=4096 \
  -close_fd_mask=1 -print_final_stats=1 "${parallel[@]}" -artifact_prefix=findings/) >"$log" 2>&1
status=$?
set -e
shopt -s nullglob
logs=("$log" "$build"/fuzz-*.log)  # with --jobs, each worker writes a log of its own
grep -hE "INITED|DONE|finding|SUMMARY|ERROR|runtime error|stat::" "${logs[@]}" || true
if [ "$status" -ne 0 ]; then
  sed -n '/==== tarvex fuzz finding ====/,/^  received/p' "${logs[@]}" | head -20 || true
fi

if [ "$keep" -eq 1 ] && [ "$status" -eq 0 ]; then
  "$build/fuzz/tarvex_fuzz" -merge=1 -use_counters=0 -close_fd_mask=1 fuzz/corpus "$build/corpus" \
    >/dev/null 2>&1
  echo "fuzz: seed corpus now has $(ls fuzz/corpus | wc -l) inputs"
fi

runs=$(cat "${logs[@]}" | awk '/stat::number_of_executed_units:/ { n += $2 } END { print n + 0 }')
if [ "$status" -ne 0 ]; then
  echo "fuzz: FINDING after $runs executions in ${seconds} s; the input is in $build/findings/" >&2
  echo "      replay it with: scripts/fuzz.sh --replay <file>" >&2
  exit 1
fi
echo "fuzz: $runs executions in ${seconds} s, no finding"
