#!/usr/bin/env bash
# Cross-builds tarvex.dll and tarvex-demo.dll for 64-bit (x86_64) and 32-bit (i686) Windows with
# MinGW-w64, checks the export and import tables of all four, and runs the Windows test suite under
# Wine, headless (no X server needed), for both: the 32-bit programs with 32-bit Wine (wine32).
# The tool, tarvex.exe, is built for x86_64 only: its command tests (tests/cli) and its live view
# (tests/view, ViewTool) run against it under Wine, the native test programs starting it through
# wine64 (TARVEX_TOOL_EXE and TARVEX_TOOL_LAUNCHER, tests/cli/tool_runner.h).
# For Debian 12, run as root (or with sudo for the package install).
#
#   scripts/test-windows.sh [NATIVE_BUILD]
#
# NATIVE_BUILD is a native build folder whose cli_test and view_test are used (scripts/test-all.sh
# gives build/release); without it they are built in build-win64/native.
#
# build-win64/  the 64-bit DLLs, tarvex.exe, every test program, and the Wine prefix the tests
#               run in
# build-win32/  the 32-bit DLLs and every test program
#
# 32-bit Wine needs a kernel that runs 32-bit Linux programs.  Where it does not (some virtual
# machines refuse them with "Exec format error"), the 32-bit DLLs' tables are still checked, and
# the 32-bit run is reported as not made; TARVEX_REQUIRE_WIN32=1 makes that an error.
#
# TARVEX_JOBS sets the build's parallel jobs (default 2).  Every Wine step has a time limit.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${TARVEX_JOBS:-2}"
native="${1:-}"
build64="$root/build-win64"
build32="$root/build-win32"
wine=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver

start=$SECONDS
step() { printf '\n== [%4d s] %s\n' "$((SECONDS - start))" "$*"; }
fail() { printf 'test-windows.sh: %s\n' "$*" >&2; exit 1; }

install_packages() {
  local packages=(cmake make googletest wine64 wine32:i386
                  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure <build dir> <toolchain> <cmake options...>
configure() {
  local dir="$1" toolchain="$2"
  shift 2
  cmake -S "$root" -B "$dir" --toolchain "$root/cmake/$toolchain" "$@"
}

# The 53 exports in ordinal order, from the public header: the port family, the u_ commands and the
# MPUSB family, each in byte-wise order of the names.
expected_exports() {
  local header="$root/include/tarvex.h" family
  for family in '(Open|Close|Send[A-Za-z]*)USB[A-Za-z]*' 'u_[A-Za-z0-9_]+' 'MPUSB[A-Za-z]+'; do
    grep -oE "TARVEX_CALL ${family}\(" "$header" | sed 's/^TARVEX_CALL //; s/($//' | LC_ALL=C sort -u
  done | awk '{ print NR, $0 }'
}

# check_dll <objdump> <dll>: exactly the 53 exports at their ordinals, and imports of system DLLs
# only.
check_dll() {
  local objdump="$1" dll="$2"
  [ -f "$dll" ] || fail "$dll was not built"
  local table
  table="$("$objdump" -p "$dll")"

  local expected actual
  expected="$(expected_exports)"
  [ "$(wc -l <<<"$expected")" -eq 53 ] || fail "include/tarvex.h does not declare 53 exports"
  # The name table lists "[index] name"; index + ordinal base is the ordinal (newer objdumps
  # print the ordinal itself as "+base[ordinal]").
  actual="$(awk '
    /^Export Address Table -- Ordinal Base/ { base = $NF }
    /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^[[:space:]]*$/ { on = 0 }
    on && match($0, /\+base\[ *[0-9]+\]/) {
      s = substr($0, RSTART, RLENGTH); gsub(/[^0-9]/, "", s); print s + 0, $NF; next }
    on && match($0, /\[ *[0-9]+\]/) {
      s = substr($0, RSTART, RLENGTH); gsub(/[^0-9]/, "", s); print s + base, $NF }' <<<"$table" | sort -n)"
  if [ "$actual" != "$expected" ]; then
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") >&2 || true
    fail "$dll: export table differs (< expected, > found)"
  fi
  # The first "Export Address Table <hex>" line gives the number of entries: no ordinal beyond 53.
  local functions
  functions="$(awk '/^[[:space:]]*Export Address Table[[:space:]]+[0-9a-fA-F]+$/ && !n++ {
                      print $NF }' <<<"$table")"
  functions=$((16#${functions:-0}))
  [ "$functions" -eq 53 ] || fail "$dll: $functions entries in the export address table, not 53"

  local imports bad
  imports="$(awk '/DLL Name:/ { print tolower($NF) }' <<<"$table" | sort -u)"
  local system='kernel32|advapi32|setupapi|user32|msvcrt|ntdll|api-ms-win-.*'
  bad="$(grep -vxE "($system)\.dll" <<<"$imports" || true)"
  [ -z "$bad" ] || fail "$dll imports non-system DLLs: $bad"
  echo "$dll: 53 exports at their ordinals; imports $(echo $imports)"
}

# Whether this machine runs 32-bit Wine (its loader is a 32-bit Linux program).
wine32_runs() { timeout 60 "$wine32" --version >/dev/null 2>&1; }

# The 32-bit build must do floating point in SSE2 registers, never x87.
check_sse2() {
  local flags="$build32/CMakeFiles/tarvex_objects.dir/flags.make"
  grep -q -- '-msse2' "$flags" && grep -q -- '-mfpmath=sse' "$flags" ||
    fail "the i686 build is not compiled with -msse2 -mfpmath=sse"
}

step "packages"
install_packages

step "x86_64: configure and build (DLLs, tarvex.exe and tests)"
configure "$build64" toolchain-mingw-x86_64.cmake -DTARVEX_BUILD_TESTS=ON
cmake --build "$build64" -j"$jobs"

step "the native programs that test tarvex.exe"
if [ -z "$native" ]; then
  native="$build64/native"
  cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=Release -DTARVEX_BUILD_BENCH=OFF >/dev/null
  cmake --build "$native" --target cli_test view_test -j"$jobs"
fi
native="$(cd "$native" && pwd)"
for program in cli_test view_test; do
  [ -x "$native/tests/$program" ] || fail "$native/tests/$program was not built"
done

run32=0
if wine32_runs; then
  run32=1
  step "i686: configure and build (DLLs and tests)"
else
  [ "${TARVEX_REQUIRE_WIN32:-0}" = 1 ] && fail "32-bit Wine does not run on this machine"
  step "i686: configure and build (DLLs; this machine does not run 32-bit Wine)"
fi
configure "$build32" toolchain-mingw-i686.cmake -DTARVEX_BUILD_TESTS=$([ $run32 = 1 ] && echo ON || echo OFF)
if [ $run32 = 1 ]; then
  cmake --build "$build32" -j"$jobs"
else
  cmake --build "$build32" --target tarvex tarvex_demo -j"$jobs"
fi
check_sse2

step "export and import tables"
for dll in tarvex tarvex-demo; do
  check_dll x86_64-w64-mingw32-objdump "$build64/library/$dll.dll"
  check_dll i686-w64-mingw32-objdump "$build32/library/$dll.dll"
done
# tarvex.exe runs on its own: the libraries are linked in, and the C++ runtime too.
tool="$build64/tools/tarvex.exe"
[ -f "$tool" ] || fail "$tool was not built"
tool_imports="$(x86_64-w64-mingw32-objdump -p "$tool" | awk '/DLL Name:/ { print tolower($NF) }' | sort -u)"
bad="$(grep -vxE '(kernel32|advapi32|setupapi|user32|msvcrt|ntdll|ws2_32|mswsock|gdiplus|api-ms-win-.*)\.dll' \
         <<<"$tool_imports" || true)"
[ -z "$bad" ] || fail "$tool imports non-system DLLs: $bad"
echo "$tool: imports $(echo $tool_imports)"

step "Wine prefix"
export WINEPREFIX="$build64/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
stop_wineserver() { timeout 30 "$wineserver" -k >/dev/null 2>&1 || true; }
trap stop_wineserver EXIT
stop_wineserver
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
# One server for the whole run (each test program would otherwise start its own).  It must not
# hold this script's output open, or whatever waits for that output waits for ever.
timeout 30 "$wineserver" -p </dev/null >/dev/null 2>&1
# wineboot also starts Wine's own services (services.exe, plugplay, winedevice), which then live as
# long as the server.  Started by a test program instead, they would inherit its output pipe and
# ctest would wait for them until the test's time-out.
timeout 180 "$wine" wineboot -i </dev/null >"$build64/wineboot.log" 2>&1 ||
  { cat "$build64/wineboot.log" >&2; fail "wineboot failed or timed out"; }

step "x86_64 tests under Wine"
# Tests share the prefix's registry: one at a time.
timeout 3000 ctest --test-dir "$build64" -j1 --timeout 300 --output-on-failure --no-tests=error

step "tarvex.exe under Wine: the tool's command tests and its live view"
# The native test programs, each case starting tarvex.exe under wine64 (the cases that cannot
# apply to Windows say so and are skipped).
tool_start=$SECONDS
TARVEX_TOOL_EXE="$tool" TARVEX_TOOL_LAUNCHER="$wine" \
  timeout 900 "$native/tests/cli_test" --gtest_brief=1 </dev/null
TARVEX_TOOL_EXE="$tool" TARVEX_TOOL_LAUNCHER="$wine" \
  timeout 300 "$native/tests/view_test" --gtest_filter='*ViewTool*' --gtest_brief=1 </dev/null
echo "test-windows.sh: tarvex.exe's tests took $((SECONDS - tool_start)) s"

if [ $run32 = 1 ]; then
  step "i686 tests under 32-bit Wine"
  # The same prefix: a 64-bit prefix runs 32-bit programs in its syswow64 half.
  timeout 3000 ctest --test-dir "$build32" -j1 --timeout 300 --output-on-failure --no-tests=error
else
  echo "test-windows.sh: the i686 tests were NOT run: this machine does not run 32-bit programs" \
       "($wine32 --version fails); only the i686 DLLs' tables were checked" >&2
fi

echo "test-windows.sh: done in $((SECONDS - start)) s"
