#!/usr/bin/env bash
# Builds every package of Tarvex into one folder, out/packages/:
#
#   libtarvex1_<version>-1_<arch>.deb     the libraries libtarvex.so.1, libtarvex-demo.so.1 and
#                                         libtarvex-analysis.so.1, and the udev rule
#   libtarvex-dev_<version>-1_<arch>.deb  the header, the .so links, the CMake package and the
#                                         pkg-config files
#   tarvex_<version>-1_<arch>.deb         the tarvex tool and its manual page
#   tarvex-<version>-windows.zip          the Windows SDK: x64/ and x86/ (tarvex.dll, tarvex.lib,
#                                         tarvex-demo.dll, tarvex-demo.lib, tarvex.def,
#                                         tarvex-analysis.dll, tarvex-analysis.lib), the tool
#                                         x64/tarvex.exe, include/tarvex.h and
#                                         tarvex_analysis.h, README.txt
#
#   bash scripts/package.sh
#
# It installs what it needs (scripts/setup-debian.sh windows packaging).  Build folders:
# build/package (Release, prefix /usr, laid out for Debian), build-win64 and build-win32 (the DLLs,
# shared with scripts/test-windows.sh, which builds its tests there too).  TARVEX_JOBS sets the
# parallel jobs (default 2).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
jobs="${TARVEX_JOBS:-2}"
out="$root/out/packages"

scripts/setup-debian.sh windows packaging
rm -rf "$out"
mkdir -p "$out"

echo "== Debian packages"
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DTARVEX_PACKAGE_DEB=ON -DTARVEX_BUILD_TESTS=OFF -DTARVEX_BUILD_BENCH=OFF >/dev/null
cmake --build build/package -j"$jobs"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)"
rm -rf build/package/cpack
(cd build/package && cpack -G DEB -B "$root/build/package/cpack" >/dev/null)
mv build/package/cpack/*.deb "$out/"

echo "== Windows archive"
sdk="$root/build/package/windows/tarvex-$version-windows"
rm -rf "$root/build/package/windows"
mkdir -p "$sdk/include"
for target in x64:build-win64:toolchain-mingw-x86_64.cmake x86:build-win32:toolchain-mingw-i686.cmake; do
  IFS=: read -r arch dir toolchain <<<"$target"
  [ -f "$dir/CMakeCache.txt" ] ||
    cmake -S . -B "$dir" --toolchain "$root/cmake/$toolchain" -DTARVEX_BUILD_TESTS=OFF >/dev/null
  # The tool, tarvex.exe, is built for x64 only.
  tool=""
  [ "$arch" = x64 ] && tool=tarvex_cli
  cmake --build "$dir" --target tarvex tarvex_demo tarvex_analysis $tool -j"$jobs"
  stage="$root/build/package/windows/stage-$arch"
  cmake --install "$dir" --prefix "$stage" --strip >/dev/null
  mkdir -p "$sdk/$arch"
  cp "$stage"/bin/{tarvex,tarvex-demo,tarvex-analysis}.dll \
     "$stage"/lib/{tarvex,tarvex-demo,tarvex-analysis}.lib \
     library/tarvex.def "$sdk/$arch/"
  [ -z "$tool" ] || cp "$stage/bin/tarvex.exe" "$sdk/$arch/"
done
cp "$stage/include/tarvex.h" "$stage/include/tarvex_analysis.h" "$sdk/include/"
cp build-win64/packaging/README.txt "$sdk/"
(cd "$(dirname "$sdk")" && cmake -E tar cf "$out/tarvex-$version-windows.zip" --format=zip \
   "$(basename "$sdk")")

echo "== packages in ${out#"$root"/}/"
ls -l "$out"
