# The libusb backend against emulated kernel devices: umockdev gives each emulated USB device a
# sysfs entry and a device node whose usbdevfs requests the test answers.  Linux builds with the
# libusb backend only, and only where umockdev is installed (Debian: umockdev, libumockdev-dev);
# scripts/test-libusb.sh installs both and runs the suite.
if(TARGET PkgConfig::TARVEX_LIBUSB)
  find_package(PkgConfig QUIET)
  pkg_check_modules(TARVEX_UMOCKDEV QUIET IMPORTED_TARGET umockdev-1.0)
  find_program(TARVEX_UMOCKDEV_WRAPPER umockdev-wrapper)
  if(TARVEX_UMOCKDEV_FOUND AND TARVEX_UMOCKDEV_WRAPPER)
    # Every run of the executable, the listing of its tests included, goes through
    # umockdev-wrapper, which redirects /sys and /dev into the testbed.
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/libusb/in-testbed.sh)
    tarvex_test(tarvex_libusb_tests
      libusb/usb_testbed.cpp
      libusb/interface_path_test.cpp
      libusb/libusb_discovery_test.cpp
      libusb/libusb_pipe_test.cpp
      libusb/libusb_overlapped_test.cpp
      libusb/libusb_control_test.cpp
      libusb/libusb_library_test.cpp
    )
    unset(CMAKE_CROSSCOMPILING_EMULATOR)
    target_link_libraries(tarvex_libusb_tests PRIVATE PkgConfig::TARVEX_UMOCKDEV)
  else()
    message(STATUS "libusb backend tests: not built (umockdev not found)")
  endif()
endif()
