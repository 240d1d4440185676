# Debian packages by CPack: libinkrow0 (the shared library), libinkrow-dev (header,
# unversioned link, CMake package, pkg-config file), inkrow-tools (the tools and
# their manual pages) and inkrow-printer-app (the printer application as a service). scripts/package.sh builds them with Debian's build flags and
# checks them with lintian. Included from cmake/install.cmake.

# Each package carries its copyright file and changelog, as Debian wants.
# A native package's changelog is changelog.gz.
set(INKROW_DEB_CHANGELOG ${PROJECT_BINARY_DIR}/packaging/changelog)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${INKROW_DEB_CHANGELOG} @ONLY)
# Compressed at configure time (gzip -n: no name or time stamp inside), so installing a
# partial build finds it too.
find_program(INKROW_GZIP gzip)
if(INKROW_GZIP)
  execute_process(COMMAND ${INKROW_GZIP} -9nc ${INKROW_DEB_CHANGELOG}
    OUTPUT_FILE ${INKROW_DEB_CHANGELOG}.gz RESULT_VARIABLE gzip_status)
  if(NOT gzip_status EQUAL 0)
    message(FATAL_ERROR "gzip ${INKROW_DEB_CHANGELOG} failed")
  endif()
endif()
foreach(pair runtime:libinkrow0 development:libinkrow-dev tools:inkrow-tools
    printer-app:inkrow-printer-app)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  if(INKROW_GZIP)
    install(FILES ${INKROW_DEB_CHANGELOG}.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endif()
endforeach()

set(CPACK_PACKAGE_NAME inkrow)
set(CPACK_PACKAGE_VENDOR "The inkrow authors")
set(CPACK_PACKAGE_CONTACT "inkrow maintainers <inkrow@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Empty, so that CPack does not put it before each package's description: their first
# lines are the packages' own synopses.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL runtime development tools printer-app)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools link the library of this very build; dpkg-shlibdeps finds its dependency
# information in the runtime package's shlibs file through this directory.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libinkrow0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file for the package that holds the library (the only one with a shared
# object), and the ldconfig trigger: Debian runs ldconfig once per dpkg run through it.
# CPack also writes postinst and postrm scripts that call ldconfig themselves;
# scripts/package.sh drops them, since the trigger does that work. The symbols file lists
# every entry point with its version node and the release that added it, so dependent
# packages need only as new a library as the symbols they use; scripts/package.sh checks
# it against the built library with dpkg-gensymbols.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers
  ${PROJECT_SOURCE_DIR}/packaging/symbols)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "output stage of an inkjet printer driver - shared library
inkrow turns a printer driver's raster lines into an inkjet printer's raster
command stream: run-length coded packets per ink and row, blank-row skips and
ink selections. It never writes a file or a port; the caller sends the
segments it hands back.

This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libinkrow-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libinkrow0 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "output stage of an inkjet printer driver - development files
inkrow turns a printer driver's raster lines into an inkjet printer's raster
command stream.

This package holds the header, which documents every entry point, the CMake
package (find_package(inkrow), target inkrow::inkrow) and the pkg-config file.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME inkrow-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libinkrow0 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
  "output stage of an inkjet printer driver - tools
inkrow turns a printer driver's raster lines into an inkjet printer's raster
command stream.

This package holds inkrow-print (prints pictures and documents to a command
stream), inkrow-page (the built-in test page), inkrow-decode (reads a
command stream back, checks it strictly and draws PNG previews) and
inkrow-simulate (simulates and measures the print of a command stream).")

# The printer application: its maintainer scripts make the system user
# (systemd-sysusers) and enable and start the service, as debhelper's would; the
# configuration file in /etc is a conffile, so an administrator's changes survive
# upgrades.
set(CPACK_DEBIAN_PRINTER-APP_PACKAGE_NAME inkrow-printer-app)
set(CPACK_DEBIAN_PRINTER-APP_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PRINTER-APP_PACKAGE_DEPENDS
  "libinkrow0 (= ${PROJECT_VERSION}), ghostscript, systemd | systemd-standalone-sysusers")
set(CPACK_DEBIAN_PRINTER-APP_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/printer-app/conffiles
  ${PROJECT_SOURCE_DIR}/packaging/printer-app/postinst
  ${PROJECT_SOURCE_DIR}/packaging/printer-app/prerm
  ${PROJECT_SOURCE_DIR}/packaging/printer-app/postrm)
set(CPACK_DEBIAN_PRINTER-APP_DESCRIPTION
  "output stage of an inkjet printer driver - printer application
inkrow turns a printer driver's raster lines into an inkjet printer's raster
command stream.

This package holds inkrow-printer-app, an IPP Everywhere printer application:
CUPS, desktops and phones print PDF, PostScript, PWG and Apple raster, JPEG
and PNG to inkrow printers without a driver. It runs as the systemd service
inkrow-printer-app under its own system user, keeps its state in
/var/lib/inkrow-printer-app, takes its settings from
/etc/inkrow-printer-app.conf and logs to the journal.")

include(CPack)
