# 32-bit Windows (i686) with MinGW-w64, for 32-bit host programs:
#   cmake -S . -B build-win32 --toolchain cmake/toolchain-mingw-i686.cmake
# Floating point is SSE2, never x87 (cmake/compiler.cmake adds -msse2 -mfpmath=sse on 32-bit x86).
# Its tests run under 32-bit Wine (Debian's wine32, package architecture i386).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARVEX_MINGW_TRIPLET i686-w64-mingw32)
set(TARVEX_MINGW_WINE /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
