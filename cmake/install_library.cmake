# tarvex_install_library(<target> EXPORT <name> PKGCONFIG <name> DESCRIPTION <text> [HEADER <file>])
#
# Installs a shared library for host programs: the library with its version links (the SONAME link
# with the run-time files, the plain .so or the import library with the development files), its
# header, its imported target Tarvex::<EXPORT> in the CMake package and its pkg-config file
# <PKGCONFIG>.pc.  packaging/CMakeLists.txt writes the CMake package for every library named here.
option(TARVEX_PACKAGE_DEB "Lay out the install as the Debian packages want it (packaging/debian.cmake)"
       OFF)

function(tarvex_install_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "EXPORT;PKGCONFIG;DESCRIPTION;HEADER" "")
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${arg_EXPORT})
  install(TARGETS ${target} EXPORT TarvexTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
  if(arg_HEADER)
    install(FILES ${arg_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
  endif()

  # The .pc finds the install's prefix from its own place, so a staged or moved install works;
  # the Debian packages' names it (/usr), so that pkg-config leaves out the system folders.
  set(pc_name ${arg_PKGCONFIG})
  set(pc_description ${arg_DESCRIPTION})
  get_target_property(pc_library ${target} OUTPUT_NAME)
  if(TARVEX_PACKAGE_DEB)
    set(pc_prefix ${CMAKE_INSTALL_PREFIX})
  else()
    file(RELATIVE_PATH pc_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
    string(REGEX REPLACE "(.)/$" "\\1" pc_prefix "\${pcfiledir}/${pc_prefix}")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/tarvex.pc.in
                 ${PROJECT_BINARY_DIR}/packaging/${pc_name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/${pc_name}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)

  set_property(GLOBAL APPEND PROPERTY TARVEX_EXPORT_NAMES ${arg_EXPORT})
endfunction()
