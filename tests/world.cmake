# The emulated world's own tests: the platform backend driven directly.
tarvex_test(tarvex_world_tests
  emulated_time_test.cpp
  emulated_transfer_test.cpp
  emulated_devices_test.cpp
  emulated_board_test.cpp
  demo_config_test.cpp
)
