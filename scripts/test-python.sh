#!/usr/bin/env bash
# The Python package (python/) against the built demo library, with Debian's python3, NumPy and
# pytest:
#   1. its pytest suite (the analysis library's tests too when it is built);
#   2. the README's install steps: a virtual environment with the system's packages and the
#      package installed from the tree with nothing fetched, then an example run from it, with
#      the library found by the dynamic loader as an installed one is;
#   3. the speed script once, briefly (that it runs; the figures come from a full run).
#
#   scripts/test-python.sh [build dir]     (default build/release; configured if it is not)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${1:-build/release}"
jobs="${TARVEX_JOBS:-2}"
python=/usr/bin/python3  # Debian's, with python3-numpy and python3-pytest (not a pyenv one)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
step() { printf '\n== %s\n' "$*"; }

step "build the demo library (and the analysis library where the tree has it)"
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
targets=(tarvex_demo)
[ -f analysis/CMakeLists.txt ] && targets+=(tarvex_analysis)
cmake --build "$build" -j"$jobs" --target "${targets[@]}"
library="$root/$build/library/libtarvex-demo.so.1"
export TARVEX_LIBRARY="$library"
if [ -e "$build/analysis/libtarvex-analysis.so.1" ]; then
  export TARVEX_ANALYSIS_LIBRARY="$root/$build/analysis/libtarvex-analysis.so.1"
fi

step "pytest"
(cd python && "$python" -m pytest -q -p no:cacheprovider tests)

step "install as the README says, and run an example from the install"
"$python" -m venv --system-site-packages "$work/venv"
# From a copy, so that the build leaves nothing in the tree.
cp -r python "$work/python"
"$work/venv/bin/pip" install --quiet --no-deps --no-build-isolation --no-index "$work/python"
(cd "$work" && env -u TARVEX_LIBRARY LD_LIBRARY_PATH="$root/$build/library" \
   TARVEX_DEMO=clock=virtual "$work/venv/bin/python" "$root/python/examples/capture_csv.py" \
   --demo -n 10 -o samples.csv && test "$(wc -l < samples.csv)" -eq 321)

step "speed script, briefly"
"$python" python/bench/python_ratio.py --brief --library "$library"
