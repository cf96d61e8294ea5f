# Shared by toolchain-mingw-x86_64.cmake and toolchain-mingw-i686.cmake (not a toolchain file on
# its own): cross-builds the Windows DLL and its tests on Linux with Debian's MinGW-w64 compilers.
#
# The -posix compilers are the ones to use: GoogleTest does not build with the win32 thread model.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TARVEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVEX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs (tests) carry their own copy of libgcc, libstdc++ and winpthread, so they run under Wine
# or on a bare Windows without MinGW's runtime DLLs.  The DLL says the same for itself in
# library/CMakeLists.txt.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# GoogleTest for the cross build comes from Debian's source package, compiled with this toolchain.
set(CMAKE_PROJECT_tarvex_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/mingw-googletest.cmake)

# Tests run under Wine.  Test discovery waits until ctest runs (when WINEPREFIX is set) rather
# than running every test program under Wine while building.
if(TARVEX_MINGW_WINE AND EXISTS ${TARVEX_MINGW_WINE})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVEX_MINGW_WINE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
