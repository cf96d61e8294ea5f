#!/usr/bin/env bash
# Tarvex as its users get it:
#   1. a build installed into a staging prefix: the tree, the libraries' SONAMEs and exports;
#   2. two host programs built outside the tree against that install (CMake's find_package, and a
#      plain Makefile with pkg-config), each run against the installed demo library;
#   3. the packages of scripts/package.sh: the .debs' files and dependencies, lintian, and the
#      Windows archive's files.
#
#   scripts/test-install.sh [build dir]     (default build/release; configured if it is not)
#
# The MinGW host program with the demo DLL as tarvex.dll runs in scripts/test-windows.sh.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${1:-build/release}"
jobs="${TARVEX_JOBS:-2}"
stage="$root/build/stage"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

start=$SECONDS
step() { printf '\n== [%4d s] %s\n' "$((SECONDS - start))" "$*"; }
fail() { printf 'test-install.sh: %s\n' "$*" >&2; exit 1; }
# same <what> <expected> <actual>: the two texts are equal, or the difference is shown.
same() {
  [ "$2" = "$3" ] && return
  diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") >&2 || true
  fail "$1 differs (< expected, > found)"
}

step "install into a staging prefix"
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$jobs" --target tarvex tarvex_demo tarvex_analysis tarvex_cli tarvex_man
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
config="$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt" | tr 'A-Z' 'a-z')"
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
same "the installed tree" "$(cat <<TREE
bin/tarvex
include/tarvex.h
include/tarvex_analysis.h
lib/cmake/Tarvex/TarvexConfig.cmake
lib/cmake/Tarvex/TarvexConfigVersion.cmake
lib/cmake/Tarvex/TarvexTargets-$config.cmake
lib/cmake/Tarvex/TarvexTargets.cmake
lib/libtarvex-analysis.so
lib/libtarvex-analysis.so.1
lib/libtarvex-analysis.so.$version
lib/libtarvex-demo.so
lib/libtarvex-demo.so.1
lib/libtarvex-demo.so.$version
lib/libtarvex.so
lib/libtarvex.so.1
lib/libtarvex.so.$version
lib/pkgconfig/tarvex-analysis.pc
lib/pkgconfig/tarvex-demo.pc
lib/pkgconfig/tarvex.pc
lib/udev/rules.d/70-tarvex.rules
share/man/man1/tarvex.1
TREE
)" "$(cd "$stage" && find . -not -type d | sed 's|^\./||' | LC_ALL=C sort)"

step "SONAMEs and exports"
exports="$(sed -n 's/^    \([A-Za-z_0-9]*\) *@[0-9]*$/\1/p' library/tarvex.def | LC_ALL=C sort)"
for library in tarvex tarvex-demo; do
  file="$stage/lib/lib$library.so.$version"
  soname="$(objdump -p "$file" | awk '$1 == "SONAME" { print $2 }')"
  same "lib$library's SONAME" "lib$library.so.1" "$soname"
  same "lib$library's exports" "$exports" "$(nm -D --defined-only "$file" | awk '{ print $3 }' | LC_ALL=C sort)"
done
# The shipped library is the library alone: no emulated world, and no environment read.
! nm -D --undefined-only "$stage/lib/libtarvex.so.$version" | grep -qw getenv ||
  fail "libtarvex reads the environment"
! grep -q TARVEX_DEMO "$stage/lib/libtarvex.so.$version" || fail "libtarvex holds the demo"
echo "both: SONAME lib<name>.so.1, exactly the $(wc -l <<<"$exports") exports of library/tarvex.def"

step "host programs built outside the tree"
cp -r tests/install/. "$work/"
export TARVEX_DEMO=boards=2,clock=virtual
cmake -S "$work/cmake" -B "$work/cmake/build" -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$work/cmake/build" >/dev/null
echo "CMake, find_package(Tarvex), linked to Tarvex::demo:"
"$work/cmake/build/host_program" 2
PKG_CONFIG_PATH="$stage/lib/pkgconfig" make -s -C "$work/make"
echo "Makefile, pkg-config tarvex, run with the demo library preloaded in the library's place:"
LD_LIBRARY_PATH="$stage/lib" LD_PRELOAD="$stage/lib/libtarvex-demo.so.1" "$work/make/host_program" 2
unset TARVEX_DEMO

step "packages (scripts/package.sh)"
scripts/package.sh >"$work/package.log" 2>&1 || { cat "$work/package.log" >&2; fail "scripts/package.sh failed"; }
packages="$root/out/packages"
arch="$(dpkg --print-architecture)"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
deb() { echo "$packages/$1_$version-1_$arch.deb"; }
# has <package> <path>...: the package holds each path.
has() {
  local package="$1" listing path
  shift
  listing="$(dpkg-deb -c "$(deb "$package")" | awk '{ print $6 }')"
  for path in "$@"; do
    grep -qx "\./$path" <<<"$listing" || fail "$package does not hold /$path"
  done
}
# depends <package> <name>...: its Depends field names each package.
depends() {
  local package="$1" field name
  shift
  field="$(dpkg-deb -f "$(deb "$package")" Depends)"
  for name in "$@"; do
    grep -qE "(^|, )$name( |,|$)" <<<"$field" || fail "$package does not depend on $name: $field"
  done
  echo "$package: Depends: $field"
}
lib="usr/lib/$multiarch"
has libtarvex1 "$lib/libtarvex.so.1" "$lib/libtarvex.so.$version" "$lib/libtarvex-demo.so.1" \
    "$lib/libtarvex-demo.so.$version" "$lib/libtarvex-analysis.so.1" \
    "$lib/libtarvex-analysis.so.$version" usr/lib/udev/rules.d/70-tarvex.rules \
    usr/share/doc/libtarvex1/copyright
has libtarvex-dev usr/include/tarvex.h usr/include/tarvex_analysis.h "$lib/libtarvex.so" \
    "$lib/libtarvex-demo.so" "$lib/libtarvex-analysis.so" "$lib/cmake/Tarvex/TarvexConfig.cmake" \
    "$lib/pkgconfig/tarvex.pc" "$lib/pkgconfig/tarvex-demo.pc" "$lib/pkgconfig/tarvex-analysis.pc"
has tarvex usr/bin/tarvex usr/share/man/man1/tarvex.1.gz
! dpkg-deb -c "$(deb libtarvex1)" | grep -q 'libtarvex\.so ' || fail "libtarvex1 holds the link for linking"
depends libtarvex1 libc6 libstdc\\+\\+6 libgcc-s1 libusb-1\\.0-0
depends libtarvex-dev "libtarvex1 \\(= $version-1\\)"
depends tarvex libc6 libcairo2 libusb-1\\.0-0
dpkg-deb -I "$(deb libtarvex1)" shlibs | grep -q "^libtarvex 1 libtarvex1" || fail "libtarvex1 has no shlibs"
echo "The CMake host program against the unpacked libtarvex1 and libtarvex-dev:"
for package in libtarvex1 libtarvex-dev; do dpkg-deb -x "$(deb "$package")" "$work/root"; done
cmake -S "$work/cmake" -B "$work/deb-build" -DCMAKE_PREFIX_PATH="$work/root/usr" >/dev/null
cmake --build "$work/deb-build" >/dev/null
TARVEX_DEMO=boards=1,clock=virtual "$work/deb-build/host_program" 1

step "lintian"
lintian --fail-on error "$packages"/*.deb

step "the Windows archive"
same "the Windows archive" "$( (for arch in x64 x86; do
    for file in tarvex.dll tarvex.lib tarvex-demo.dll tarvex-demo.lib tarvex.def \
                tarvex-analysis.dll tarvex-analysis.lib; do
      echo "tarvex-$version-windows/$arch/$file"; done; done
  echo "tarvex-$version-windows/x64/tarvex.exe"
  echo "tarvex-$version-windows/include/tarvex.h"
  echo "tarvex-$version-windows/include/tarvex_analysis.h"
  echo "tarvex-$version-windows/README.txt") | LC_ALL=C sort)" \
  "$(cd "$work" && cmake -E tar tf "$packages/tarvex-$version-windows.zip" | grep -v '/$' |
     LC_ALL=C sort)"

echo "test-install.sh: done in $((SECONDS - start)) s"
