# The tarvex command-line tool, run the way a person runs it: the built program in a child
# process against the emulated demo board (on a virtual clock, so it costs no waiting), checked
# by its standard output, standard error, exit status and the files it writes.
if(TARGET tarvex_cli AND NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3 REQUIRED)
  find_package(PNG REQUIRED)
  find_package(EXPAT REQUIRED)
  tarvex_test(cli_test
    cli/tool_runner.cpp
    cli/cli_usage_test.cpp
    cli/cli_board_test.cpp
    cli/cli_commands_test.cpp
    cli/cli_capture_test.cpp
    cli/cli_record_test.cpp
    cli/cli_analysis_test.cpp)
  target_compile_definitions(cli_test PRIVATE TARVEX_TOOL="$<TARGET_FILE:tarvex_cli>"
                            TARVEX_VERSION="${PROJECT_VERSION}")
  target_link_libraries(cli_test PRIVATE GTest::gmock nlohmann_json::nlohmann_json PNG::PNG
                        EXPAT::EXPAT)
  add_dependencies(cli_test tarvex_cli)
endif()
