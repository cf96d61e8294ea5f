# The demo board's firmware, fed packets directly (no driver in between).
tarvex_test(tarvex_firmware_tests
  demo_system_test.cpp
  demo_ports_test.cpp
  demo_capture_test.cpp
  demo_signal_test.cpp
  demo_network_test.cpp
  demo_bus_test.cpp
  demo_vscope_test.cpp
  demo_calibration_test.cpp
)
