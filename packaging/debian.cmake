# The Debian packages, made by CPack from the install's components (scripts/package.sh makes them):
#   libtarvex1     Runtime      libtarvex.so.1 and libtarvex-demo.so.1, the udev rule
#   libtarvex-dev  Development  the header, the .so links, the CMake package, the pkg-config files
#   tarvex         Tool         the tarvex tool and its manual page
# Both libraries go in the one run-time package: they are built from the same sources, carry the
# same SONAME version and always change it together, which is when Debian lets one package hold
# several libraries.  The demo library is loaded at run time by the very programs that load the
# library (switching is a matter of which file they load), so it is no development file; and the
# tool links the core and the analysis code statically and needs none of them.
#
# Configure with -DCMAKE_INSTALL_PREFIX=/usr (so libraries go to Debian's multiarch folder) and
# -DTARVEX_PACKAGE_DEB=ON (each package's copyright, changelog and lintian notes).
set(TARVEX_PACKAGE_MAINTAINER "Tarvex developers <tarvex@example.org>" CACHE STRING
    "The maintainer named in the Debian packages")

set(deb_release 1)
set(deb_version ${PROJECT_VERSION}-${deb_release})
set(deb_components Runtime Development Tool)
set(deb_names libtarvex1 libtarvex-dev tarvex)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VENDOR "Tarvex developers")
set(CPACK_PACKAGE_CONTACT "${TARVEX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${deb_release})
set(CPACK_DEBIAN_PACKAGE_SOURCE tarvex)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtarvex1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# dpkg's ldconfig trigger, and maintainer scripts that apply the udev rule to boards already
# plugged in (CPack would otherwise write scripts that call ldconfig themselves).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/debian/triggers
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "host library for Tarvex USB sampling oscilloscope boards
Tarvex finds Tarvex digital sampling oscilloscope boards on USB and turns every
board command into the packets the board understands: ping and reset, port
registers, scope capture and eye folding, the VScope eye, calibration,
network settings, I2C, clock chips and MDIO.

This package holds the shared library (libtarvex.so.1), the demo library
(libtarvex-demo.so.1: the same functions over emulated demo boards, set up by
the TARVEX_DEMO environment variable, for trying a host program without a
board) and the udev rule that lets users open the boards without root.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtarvex-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libtarvex1 (= ${deb_version})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "host library for Tarvex oscilloscope boards - development files
Tarvex finds Tarvex digital sampling oscilloscope boards on USB and turns every
board command into the packets the board understands.

This package holds what a host program is built with: the C header
tarvex.h, the links to link with, the CMake package (find_package(Tarvex)
with the targets Tarvex::tarvex and Tarvex::demo) and the pkg-config files
tarvex.pc and tarvex-demo.pc.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tarvex)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION electronics)
# The udev rule, for boards to open without root, comes with the library package.
set(CPACK_DEBIAN_TOOL_PACKAGE_RECOMMENDS "libtarvex1")
set(CPACK_DEBIAN_TOOL_DESCRIPTION "command-line tool for Tarvex USB sampling oscilloscope boards
The tarvex tool talks to Tarvex digital sampling oscilloscope boards from a
terminal: list, ping, status, port registers, captures to CSV, the eye
diagram as a picture, the VScope eye, calibration, network settings, I2C,
clock chips and MDIO.  With --demo every command runs against an emulated
demo board, with no board and no driver.")

if(TARVEX_PACKAGE_DEB)
  # /usr/share/doc/<package>/: the copyright and a compressed changelog, in every package.
  find_program(TARVEX_GZIP gzip REQUIRED)
  string(TIMESTAMP deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  foreach(component package IN ZIP_LISTS deb_components deb_names)
    set(doc_dir ${CMAKE_CURRENT_BINARY_DIR}/doc/${package})
    configure_file(debian/changelog.in ${doc_dir}/changelog.Debian @ONLY)
    execute_process(COMMAND ${TARVEX_GZIP} -9nf ${doc_dir}/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
    install(FILES debian/copyright ${doc_dir}/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endforeach()
  install(FILES debian/libtarvex1.lintian-overrides RENAME libtarvex1
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT Runtime)
endif()

include(CPack)
