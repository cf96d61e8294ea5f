# The analysis library: measurements against the demo signal's model, the mask test against
# plain geometry, the mask file reader, and the C interface's handling of bad input.
tarvex_test(tarvex_analysis_tests
  analysis/demo_eye.cpp
  analysis/accuracy_test.cpp
  analysis/mask_test.cpp
  analysis/mask_units_test.cpp
  analysis/interface_test.cpp
)
target_link_libraries(tarvex_analysis_tests PRIVATE tarvex_analysis_objects)

# The analysis fuzz targets without libFuzzer, replaying their seed corpora (scripts/fuzz.sh runs
# the fuzzer).
foreach(target mask measure)
  add_executable(tarvex_analysis_fuzz_${target}_replay
    ${PROJECT_SOURCE_DIR}/fuzz/analysis_${target}_target.cpp
    ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(tarvex_analysis_fuzz_${target}_replay PRIVATE tarvex_analysis_objects)
  add_test(NAME tarvex_analysis_fuzz_${target}_corpus_replay
           COMMAND tarvex_analysis_fuzz_${target}_replay
                   ${PROJECT_SOURCE_DIR}/fuzz/corpus-analysis-${target})
endforeach()
