# Commands from several threads at once (also built under ThreadSanitizer by scripts/test-all.sh).
tarvex_test(tarvex_thread_tests
  reliability/command_buffer_model.cpp
  reliability/command_bytes.cpp
  threads/thread_stress_test.cpp
)
