# 32-bit Windows (i686) with MinGW-w64, for 32-bit host programs:
#   cmake -S . -B build-win32 --toolchain cmake/toolchain-mingw-i686.cmake
# Floating point is SSE2, never x87 (cmake/compiler.cmake adds -msse2 -mfpmath=sse on 32-bit x86).
# Its tests need a 32-bit Wine, which the Windows test script does not require; it checks this
# DLL's export table with objdump instead.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARVEX_MINGW_TRIPLET i686-w64-mingw32)
set(TARVEX_MINGW_WINE /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
