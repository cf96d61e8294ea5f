# Libraries that are (or can be used as) headers of plain C++, for every build.
#
# Natively, Debian's packages and their CMake configuration.  A cross build (MinGW) finds no
# package of its own: the host's headers are used, each library through a folder of the build that
# holds nothing but its headers (the host's other headers must not reach the cross compiler).
#
#   tarvex_header_library(<target> DEBIAN <package> HEADERS <entries of /usr/include...>
#                         [FIND <find_package arguments...>] [DEFINITIONS <definitions...>])
#
# Makes <target> (nlohmann_json::nlohmann_json, CLI11::CLI11, ...) if no directory above made it:
# with FIND and natively, by find_package; otherwise as an imported target of the entries
# (folders or files under /usr/include) and the definitions that make the library header-only.
include_guard(GLOBAL)

function(tarvex_header_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DEBIAN" "HEADERS;FIND;DEFINITIONS")
  if(TARGET ${target})
    return()
  endif()
  if(arg_FIND AND NOT CMAKE_CROSSCOMPILING)
    find_package(${arg_FIND} REQUIRED)
    return()
  endif()
  string(MAKE_C_IDENTIFIER ${target} name)
  set(folder ${CMAKE_BINARY_DIR}/host-headers/${name})
  file(MAKE_DIRECTORY ${folder})
  foreach(entry IN LISTS arg_HEADERS)
    if(NOT EXISTS /usr/include/${entry})
      message(FATAL_ERROR "/usr/include/${entry} not found (apt-get install ${arg_DEBIAN})")
    endif()
    get_filename_component(parent ${folder}/${entry} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK /usr/include/${entry} ${folder}/${entry} SYMBOLIC)
  endforeach()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE ${folder})
  target_compile_definitions(${target} INTERFACE ${arg_DEFINITIONS})
endfunction()

# The ones the project uses.
macro(tarvex_nlohmann_json)
  tarvex_header_library(nlohmann_json::nlohmann_json DEBIAN nlohmann-json3-dev
                        HEADERS nlohmann FIND nlohmann_json 3)
endmacro()

# Boost.Asio and Boost.Beast, for the live view's HTTP server: the same code on Linux and on
# Windows (Winsock).  tarvex_asio is what code using them links: the headers, the settings every
# such file must share, and on Windows the Windows version Asio is built for and its Winsock
# libraries.
macro(tarvex_boost_asio)
  tarvex_header_library(Boost::headers DEBIAN libboost-dev HEADERS boost FIND Boost 1.74)
  if(NOT TARGET tarvex_asio)
    add_library(tarvex_asio INTERFACE)
    target_link_libraries(tarvex_asio INTERFACE Boost::headers)
    # Beast's strings are std::string_view (one definition for every file that includes Beast),
    # and none of Asio's deprecated names are used.
    target_compile_definitions(tarvex_asio INTERFACE BOOST_BEAST_USE_STD_STRING_VIEW
                               BOOST_ASIO_NO_DEPRECATED)
    if(WIN32)
      # Windows 10 and later (Asio picks its socket calls by it).
      target_compile_definitions(tarvex_asio INTERFACE _WIN32_WINNT=0x0A00)
      target_link_libraries(tarvex_asio INTERFACE ws2_32 mswsock)
    endif()
  endif()
endmacro()
