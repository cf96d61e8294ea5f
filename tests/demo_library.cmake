# The demo library (libtarvex-demo) loaded by a program, as host programs load it.
if(NOT WIN32)
  add_executable(demo_library_probe demo_library/probe.cpp)
  target_link_libraries(demo_library_probe PRIVATE ${CMAKE_DL_LIBS})
  tarvex_test(tarvex_demo_library_tests demo_library/demo_library_test.cpp)
  target_compile_definitions(tarvex_demo_library_tests PRIVATE
    TARVEX_DEMO_PROBE="$<TARGET_FILE:demo_library_probe>"
    TARVEX_DEMO_LIBRARY="$<TARGET_FILE:tarvex_demo>")
  add_dependencies(tarvex_demo_library_tests demo_library_probe tarvex_demo)
endif()
