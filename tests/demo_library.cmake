# The demo library (libtarvex-demo, tarvex-demo.dll) loaded by a program, as host programs load it,
# and unloaded again.
add_executable(demo_library_probe demo_library/probe.cpp)
target_link_libraries(demo_library_probe PRIVATE ${CMAKE_DL_LIBS})
if(WIN32)
  # Under Wine: the DLL from its own folder, by name, as LoadLibraryA finds it beside a program.
  add_test(NAME DemoLibrary.LoadsCountsAndUnloads COMMAND demo_library_probe tarvex-demo.dll
           WORKING_DIRECTORY $<TARGET_FILE_DIR:tarvex_demo>)
  set_tests_properties(DemoLibrary.LoadsCountsAndUnloads PROPERTIES
    ENVIRONMENT "TARVEX_DEMO=boards=2,clock=virtual" PASS_REGULAR_EXPRESSION "counts: 2 2\r?\nunloaded"
    TIMEOUT 120 RESOURCE_LOCK wine_prefix)
else()
  tarvex_test(tarvex_demo_library_tests demo_library/demo_library_test.cpp)
  target_compile_definitions(tarvex_demo_library_tests PRIVATE
    TARVEX_DEMO_PROBE="$<TARGET_FILE:demo_library_probe>"
    TARVEX_DEMO_LIBRARY="$<TARGET_FILE:tarvex_demo>")
  add_dependencies(tarvex_demo_library_tests demo_library_probe tarvex_demo)
endif()
add_dependencies(demo_library_probe tarvex_demo)
