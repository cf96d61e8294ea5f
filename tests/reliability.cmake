# Reliability: every export against every board fault, hostile arguments, requests that end after
# their cancel, and the fuzz target's seed corpus replayed as a regression test.
set(reliability_support
  reliability/command_buffer_model.cpp
  reliability/command_bytes.cpp
)
tarvex_test(tarvex_reliability_tests
  ${reliability_support}
  reliability/rig.cpp
  reliability/exports.cpp
  reliability/command_buffer_model_test.cpp
  reliability/fault_matrix_test.cpp
  reliability/unplug_midway_test.cpp
  reliability/hostile_input_test.cpp
  reliability/late_cancel_test.cpp
)

# The fuzz target without libFuzzer, replaying the seed corpus (scripts/fuzz.sh runs the fuzzer).
add_executable(tarvex_fuzz_replay
  ${reliability_support}
  ${PROJECT_SOURCE_DIR}/fuzz/fuzz_target.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/session.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp
)
target_include_directories(tarvex_fuzz_replay PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tarvex_fuzz_replay PRIVATE tarvex_core tarvex_emulated)
add_test(NAME tarvex_fuzz_corpus_replay
         COMMAND tarvex_fuzz_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus)
