#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers, the whole
# library instrumented for coverage) in build/fuzz and runs them from their seed corpora:
#   board             the library's exports against the emulated board (fuzz/corpus)
#   analysis-mask     the analysis library's mask reader and test (fuzz/corpus-analysis-mask)
#   analysis-measure  its measurement entry points (fuzz/corpus-analysis-measure)
#
#   scripts/fuzz.sh --ci            as CI runs it: board a minute, each analysis target 30 s
#   scripts/fuzz.sh --time 3600     an hour for each target (any number of seconds)
#   scripts/fuzz.sh --target T ...  only target T
#   scripts/fuzz.sh --jobs 2 ...    that many fuzzing processes at once
#   scripts/fuzz.sh --keep ...      also adds the new inputs worth keeping to the seed corpora
#   scripts/fuzz.sh --replay FILE   runs one input again (a finding kept under build/fuzz/findings;
#                                   with --target for an analysis target's)
#
# New inputs go to build/fuzz/corpus[-T], findings to build/fuzz/findings; the seed corpora in the
# repository change only with --keep.  The last line printed is the number of executions.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=""
jobs=1
keep=0
replay=""
targets=(board analysis-mask analysis-measure)
while [ $# -gt 0 ]; do
  case "$1" in
    --ci) seconds="" ;;
    --time) seconds="$2"; shift ;;
    --target)
      case "$2" in
        board|analysis-mask|analysis-measure) targets=("$2") ;;
        *) echo "fuzz.sh: unknown target '$2' (board, analysis-mask, analysis-measure)" >&2; exit 2 ;;
      esac
      shift ;;
    --jobs) jobs="$2"; shift ;;
    --keep) keep=1 ;;
    --replay) replay="$2"; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
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
# The executable, seed corpus and CI time of each target.
binary() { case "$1" in board) echo tarvex_fuzz ;; *) echo "tarvex_analysis_fuzz_${1#analysis-}" ;; esac; }
seeds() { case "$1" in board) echo fuzz/corpus ;; *) echo "fuzz/corpus-$1" ;; esac; }
ciSeconds() { case "$1" in board) echo 60 ;; *) echo 30 ;; esac; }

binaries=()
for t in "${targets[@]}"; do binaries+=("$(binary "$t")"); done
cmake --build "$build" --target "${binaries[@]}" -j"$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if [ -n "$replay" ]; then
  exec "$build/fuzz/$(binary "${targets[0]}")" "$replay"
fi

mkdir -p "$build/findings"
total=0
for t in "${targets[@]}"; do
  bin=$(binary "$t")
  corpus=corpus; [ "$t" = board ] || corpus="corpus-$t"
  time=${seconds:-$(ciSeconds "$t")}
  mkdir -p "$build/$corpus"
  rm -f "$build"/fuzz-*.log
  log="$build/fuzz-$t.log"
  parallel=()
  [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
  echo "fuzz: $t for ${time} s"
  # -close_fd_mask=1: the library's diagnostics on standard output would only slow the run.
  set +e
  (cd "$build" && "fuzz/$bin" "$corpus" "../../$(seeds "$t")" \
    -max_total_time="$time" -timeout=20 -rss_limit_mb=4096 -max_len=4096 \
    -close_fd_mask=1 -print_final_stats=1 "${parallel[@]}" -artifact_prefix=findings/) >"$log" 2>&1
  status=$?
  set -e
  shopt -s nullglob
  logs=("$log" "$build"/fuzz-[0-9]*.log)  # with --jobs, each worker writes a log of its own
  grep -hE "INITED|DONE|finding|SUMMARY|ERROR|runtime error|stat::" "${logs[@]}" || true
  if [ "$status" -ne 0 ]; then
    sed -n '/==== tarvex .*fuzz finding ====/,/^  received/p' "${logs[@]}" | head -20 || true
  fi

  if [ "$keep" -eq 1 ] && [ "$status" -eq 0 ]; then
    "$build/fuzz/$bin" -merge=1 -use_counters=0 -close_fd_mask=1 "$(seeds "$t")" "$build/$corpus" \
      >/dev/null 2>&1
    echo "fuzz: seed corpus $(seeds "$t") now has $(ls "$(seeds "$t")" | wc -l) inputs"
  fi

  runs=$(cat "${logs[@]}" | awk '/stat::number_of_executed_units:/ { n += $2 } END { print n + 0 }')
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $t: FINDING after $runs executions in ${time} s; the input is in $build/findings/" >&2
    echo "      replay it with: scripts/fuzz.sh --target $t --replay <file>" >&2
    exit 1
  fi
  echo "fuzz: $t: $runs executions in ${time} s, no finding"
  total=$((total + runs))
done
echo "fuzz: $total executions, no finding"
