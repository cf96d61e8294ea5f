# tarvex view: its server over loopback in the test's own process (the demo world on the
# virtual clock behind one acquisition thread), and the built tool stopped by Ctrl-C.  The page
# itself is tested in a browser by tests/browser (scripts/test-browser.sh).
if(TARGET tarvex_tool AND NOT CMAKE_CROSSCOMPILING)
  tarvex_test(view_test
    view/view_client.cpp
    view/view_server_test.cpp
    view/view_tool_test.cpp
    cli/tool_runner.cpp)
  target_compile_definitions(view_test PRIVATE TARVEX_TOOL="$<TARGET_FILE:tarvex_cli>")
  target_link_libraries(view_test PRIVATE tarvex_tool tarvex_asio)
  add_dependencies(view_test tarvex_cli)
endif()
