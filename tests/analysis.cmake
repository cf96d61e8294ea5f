# The analysis library: measurements against the demo signal's model, the mask test against
# plain geometry, the mask file reader, and the C interface's handling of bad input.
tarvex_test(tarvex_analysis_tests
  analysis/demo_eye.cpp
  analysis/accuracy_test.cpp
  analysis/mask_test.cpp
  analysis/interface_test.cpp
)
target_link_libraries(tarvex_analysis_tests PRIVATE tarvex_analysis_objects)
