# The pipe layer: discovery, pipes and timed transfers, descriptor requests.
tarvex_test(tarvex_usb_tests
  usb_discovery_test.cpp
  usb_pipe_test.cpp
  usb_descriptor_test.cpp
)
