#!/usr/bin/env bash
# Builds the library with its libusb backend and runs the backend's tests against emulated
# kernel USB devices (umockdev; no hardware, no root needed to run them).  For Debian 12, run as
# root (or with sudo for the package install).
#
#   scripts/test-libusb.sh            optimised build in build-libusb-test/
#   TARVEX_SANITIZE=ON scripts/test-libusb.sh
#                                     the same under the address and undefined-behaviour
#                                     sanitizers, in build-libusb-test-sanitize/
#
# TARVEX_JOBS sets the build's parallel jobs (default 2).  Every step has a time limit; each test
# runs in its own process with one emulated board and a 60 s limit.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${TARVEX_JOBS:-2}"
sanitize="${TARVEX_SANITIZE:-OFF}"
build="$root/build-libusb-test"
[ "$sanitize" = "ON" ] && build="$root/build-libusb-test-sanitize"

step() { printf '\n== %s\n' "$*"; }

install_packages() {
  local packages=(build-essential cmake pkg-config libgtest-dev
                  libusb-1.0-0-dev umockdev libumockdev-dev)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  timeout 900 $sudo apt-get update -q
  timeout 1800 $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

step "packages"
install_packages

step "configure ($build)"
build_type=Release
[ "$sanitize" = "ON" ] && build_type=Debug
timeout 600 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="$build_type" \
  -DTARVEX_SANITIZE="$sanitize" -DTARVEX_BUILD_TOOLS=OFF -DTARVEX_BUILD_BENCH=OFF \
  -DTARVEX_WITH_LIBUSB=ON
grep -q '^TARVEX_LIBUSB_FOUND:INTERNAL=1' "$build/CMakeCache.txt" ||
  { echo "test-libusb.sh: libusb-1.0 was not found" >&2; exit 1; }

step "build"
timeout 3600 cmake --build "$build" --target tarvex_libusb_tests -j"$jobs"

step "tests"
# Only this suite: the other test programs of the tree are not built here.
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}" \
UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
  timeout 1800 ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 60 \
    -j"$jobs" -R '^Libusb'
