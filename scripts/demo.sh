#!/usr/bin/env bash
# The main job, in one command on a fresh Debian 12 machine: install what is needed, build the
# tarvex tool, and draw the eye diagram of the emulated demo board (no board, no driver needed).
#
#   scripts/demo.sh              the picture goes to out/eye.png
#   scripts/demo.sh my/eye.svg   or wherever you say; .png or .svg
set -euo pipefail
cd "$(dirname "$0")/.."

picture=${1:-out/eye.png}
build=build/demo

scripts/setup-debian.sh

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DTARVEX_BUILD_TESTS=OFF -DTARVEX_BUILD_BENCH=OFF
cmake --build "$build" --target tarvex_cli -j"$(nproc)"

mkdir -p "$(dirname "$picture")"
"$build/tools/tarvex" --demo eye -o "$picture"
echo "The demo board's eye diagram is in $(realpath "$picture")"
