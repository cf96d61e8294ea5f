# Boost.Asio and Boost.Beast, headers only, for the live view's HTTP server: the same code on
# Linux and on Windows (Winsock).
#
# Natively, Debian's Boost and its CMake configuration.  A cross build (MinGW) finds no Boost of
# its own: Asio and Beast are headers of plain C++, so the host's are used, through a folder of
# the build that holds nothing but boost/ (the host's other headers must not reach the cross
# compiler).
#
# tarvex_asio is what code using them links: the headers, the settings every such file must
# share, and on Windows the Windows version Asio is built for and its Winsock libraries.
include_guard(GLOBAL)

if(CMAKE_CROSSCOMPILING)
  find_path(TARVEX_BOOST_INCLUDE boost/version.hpp PATHS /usr/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT TARVEX_BOOST_INCLUDE)
    message(FATAL_ERROR "boost/version.hpp not found (apt-get install libboost-dev)")
  endif()
  set(headers ${CMAKE_BINARY_DIR}/boost-headers)
  file(MAKE_DIRECTORY ${headers})
  file(CREATE_LINK ${TARVEX_BOOST_INCLUDE}/boost ${headers}/boost SYMBOLIC)
  add_library(Boost::headers INTERFACE IMPORTED GLOBAL)
  target_include_directories(Boost::headers SYSTEM INTERFACE ${headers})
else()
  find_package(Boost 1.74 REQUIRED)
endif()

add_library(tarvex_asio INTERFACE)
target_link_libraries(tarvex_asio INTERFACE Boost::headers)
# Beast's strings are std::string_view (one definition for every file that includes Beast), and
# none of Asio's deprecated names are used.
target_compile_definitions(tarvex_asio INTERFACE BOOST_BEAST_USE_STD_STRING_VIEW
                           BOOST_ASIO_NO_DEPRECATED)
if(WIN32)
  # Windows 10 and later (Asio picks its socket calls by it).
  target_compile_definitions(tarvex_asio INTERFACE _WIN32_WINNT=0x0A00)
  target_link_libraries(tarvex_asio INTERFACE ws2_32 mswsock)
endif()
