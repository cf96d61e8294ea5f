#!/usr/bin/env bash
# Sets everything up on Debian 12 and runs every test:
#   1. the optimised build: the whole test suite, the live view in a browser (chromium), then
#      each benchmark once, briefly;
#   2. the whole suite again under the address and undefined-behaviour sanitizers;
#   3. the multi-threaded tests under ThreadSanitizer (clang);
#   4. the fuzzer for a bounded time;
#   5. the libusb backend against an emulated kernel device (umockdev);
#   6. the Windows DLLs, cross-built with MinGW-w64, under Wine (64-bit and 32-bit), and
#      tarvex.exe under Wine, tested by the optimised build's tool tests;
#   7. the install, host programs built against it, and the packages (scripts/test-install.sh);
#   8. the Python package: its tests, install and examples against the demo library.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

scripts/setup-debian.sh windows libusb packaging python browser

step() { printf '\n==== [%4d s] %s ====\n' "$SECONDS" "$*"; }

step "optimised build and test suite"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs" --timeout 300

step "the live view in a browser (chromium, headless)"
scripts/test-browser.sh build/release

if [ -x scripts/run-benchmarks.sh ]; then
  step "benchmarks, once each"
  scripts/run-benchmarks.sh --brief build/release
fi

step "sanitized build (address, undefined) and test suite"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVEX_SANITIZE=ON \
      -DTARVEX_BUILD_BENCH=OFF
cmake --build build/sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j"$jobs" --timeout 600

step "ThreadSanitizer build (clang) and the tests that run commands from several threads"
CC=clang CXX=clang++ cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTARVEX_SANITIZE_THREAD=ON -DTARVEX_BUILD_BENCH=OFF -DTARVEX_BUILD_TOOLS=OFF
cmake --build build/tsan -j"$jobs" --target tarvex_thread_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build/tsan/tests/tarvex_thread_tests

if [ -x scripts/fuzz.sh ]; then
  step "fuzzer"
  scripts/fuzz.sh --ci
fi

if [ -x scripts/test-libusb.sh ]; then
  step "libusb backend under umockdev"
  scripts/test-libusb.sh
fi

if [ -x scripts/test-windows.sh ]; then
  step "Windows DLLs and tarvex.exe under Wine"
  scripts/test-windows.sh build/release
fi

if [ -x scripts/test-install.sh ]; then
  step "install, host programs and packages"
  scripts/test-install.sh build/release
fi

if [ -x scripts/test-python.sh ]; then
  step "Python package"
  scripts/test-python.sh build/release
fi

step "all tests passed"
cd "$root"
