# 64-bit Windows (x86_64) with MinGW-w64:
#   cmake -S . -B build-win64 --toolchain cmake/toolchain-mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVEX_MINGW_TRIPLET x86_64-w64-mingw32)
set(TARVEX_MINGW_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
