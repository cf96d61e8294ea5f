#!/usr/bin/env bash
# The live view (`tarvex view`) in a real browser: Debian's chromium, headless, driven by
# puppeteer-core from npm (which downloads no browser), against the demo board on the virtual
# clock.  Builds the tool in the build directory if needed.
#
#   scripts/test-browser.sh <build-dir> [--screenshot FILE.png]
#
# --screenshot saves the page with its mask on (docs/view.png is made so).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

[ $# -ge 1 ] || { echo "usage: $0 <build-dir> [--screenshot FILE.png]" >&2; exit 2; }
build=$1
shift
screenshot=""
if [ "${1:-}" = "--screenshot" ]; then
  screenshot=$(realpath -m "$2")
fi

cmake --build "$build" --target tarvex_cli -j"$(nproc)"
tool=$(realpath "$build/tools/tarvex")

cd tests/browser
PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
TARVEX_TOOL="$tool" CHROMIUM=/usr/bin/chromium VIEW_SCREENSHOT="$screenshot" \
  node --test view.test.mjs
cd "$root"
