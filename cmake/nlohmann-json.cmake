# nlohmann-json for every build.  Natively, Debian's package and its CMake configuration.  A cross
# build (MinGW) finds no package of its own: the library is headers of plain C++, so the host's are
# used, through a folder of the build that holds nothing but them (the host's other headers must
# not reach the cross compiler).
if(TARGET nlohmann_json::nlohmann_json)
  return()
endif()
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3 REQUIRED)
  return()
endif()
find_path(TARVEX_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT TARVEX_NLOHMANN_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann/json.hpp not found (apt-get install nlohmann-json3-dev)")
endif()
set(headers ${CMAKE_BINARY_DIR}/nlohmann-json)
file(MAKE_DIRECTORY ${headers})
file(CREATE_LINK ${TARVEX_NLOHMANN_JSON_INCLUDE}/nlohmann ${headers}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${headers})
