# tarvex.dll under Wine (cross builds for Windows only; see scripts/test-windows.sh).
if(WIN32 AND CMAKE_CROSSCOMPILING)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/windows ${CMAKE_CURRENT_BINARY_DIR}/windows)
endif()
