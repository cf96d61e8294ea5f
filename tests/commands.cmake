# The board commands: the bytes each one writes, the replies it takes apart, its time-outs and
# sleeps, on a scripted board in virtual time; and the pure eye folding and calibration format.
tarvex_test(tarvex_commands_tests
  commands_ports_test.cpp
  commands_capture_test.cpp
  commands_network_bus_test.cpp
  commands_vscope_test.cpp
  commands_calibration_test.cpp
)
tarvex_test(tarvex_eye_tests
  commands_eye_test.cpp
)
