# GoogleTest for a cross build: Debian's GoogleTest sources (package googletest) compiled with the
# cross compiler, standing in for find_package(GTest).  Included right after project(tarvex) by the
# MinGW toolchain files, so it comes before the project's own compile options (GoogleTest is not
# built with the project's warnings-as-errors).  Nothing is downloaded.
if(DEFINED TARVEX_BUILD_TESTS AND NOT TARVEX_BUILD_TESTS)
  return()
endif()

set(TARVEX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS ${TARVEX_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${TARVEX_GOOGLETEST_SOURCE} "
                      "(apt-get install googletest)")
endif()

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)

include(FetchContent)
FetchContent_Declare(GTest SOURCE_DIR ${TARVEX_GOOGLETEST_SOURCE} OVERRIDE_FIND_PACKAGE)
FetchContent_MakeAvailable(GTest)
