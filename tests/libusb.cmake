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
      libusb/libusb_record_test.cpp
    )
    target_link_libraries(tarvex_libusb_tests PRIVATE PkgConfig::TARVEX_UMOCKDEV tarvex_record)
    # The tool itself on the emulated kernel devices (in a child process, which inherits the
    # redirection), where the tool is built.
    if(TARGET tarvex_cli)
      find_package(nlohmann_json 3 REQUIRED)
      tarvex_test(tarvex_libusb_tool_tests
        libusb/usb_testbed.cpp
        libusb/libusb_tool_test.cpp
        cli/tool_runner.cpp
      )
      target_link_libraries(tarvex_libusb_tool_tests PRIVATE PkgConfig::TARVEX_UMOCKDEV
                            GTest::gmock nlohmann_json::nlohmann_json)
      target_compile_definitions(tarvex_libusb_tool_tests PRIVATE
                                 TARVEX_TOOL="$<TARGET_FILE:tarvex_cli>")
      add_dependencies(tarvex_libusb_tool_tests tarvex_cli)
    endif()
    unset(CMAKE_CROSSCOMPILING_EMULATOR)
  else()
    message(STATUS "libusb backend tests: not built (umockdev not found)")
  endif()
endif()
