# Install rules, the CMake package (installed and build tree) and the pkg-config file.
# Included from the top-level CMakeLists.txt after every target exists.
include(CMakePackageConfigHelpers)

if(INKROW_TESTS AND NOT INKROW_TOOLS)
  message(FATAL_ERROR "INKROW_TESTS needs INKROW_TOOLS: the tests drive the render stage and tools")
endif()

set(INKROW_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/inkrow)

# The package: inkrowConfig.cmake loads the exported target, the version file accepts
# any request of the same major version (the SONAME changes with the major version).
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/inkrowConfig.cmake.in
  ${PROJECT_BINARY_DIR}/inkrowConfig.cmake INSTALL_DESTINATION ${INKROW_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/inkrowConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)

# The build tree is a package too: find_package(inkrow) with inkrow_DIR (or
# CMAKE_PREFIX_PATH) set to the build directory uses the library just built.
export(TARGETS inkrow NAMESPACE inkrow:: FILE ${PROJECT_BINARY_DIR}/inkrowTargets.cmake)

# pkg-config: the paths are relative to the .pc file, so a staged or relocated install
# works as well as one in its configured prefix.
file(RELATIVE_PATH INKROW_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" INKROW_PC_PREFIX "\${pcfiledir}/${INKROW_PC_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/inkrow.pc.in ${PROJECT_BINARY_DIR}/inkrow.pc @ONLY)

if(NOT INKROW_INSTALL)
  return()
endif()

# Runtime: the shared library and its SONAME link. Development: the unversioned link,
# the header, the CMake package and the pkg-config file.
# A shared library is not a program: 0644, as Debian wants it.
install(TARGETS inkrow EXPORT inkrowTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/include/inkrow/output.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/inkrow COMPONENT development)
install(EXPORT inkrowTargets NAMESPACE inkrow:: DESTINATION ${INKROW_CMAKE_DIR}
  COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/inkrowConfig.cmake ${PROJECT_BINARY_DIR}/inkrowConfigVersion.cmake
  DESTINATION ${INKROW_CMAKE_DIR} COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/inkrow.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

# The tools and their manual pages.
foreach(tool inkrow-decode inkrow-page inkrow-print inkrow-simulate)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()
if(TARGET inkrow_man_pages)
  install(DIRECTORY ${INKROW_MAN_DIR}/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools
    FILES_MATCHING PATTERN "*.1.gz")
endif()

# The printer application as a service: the server and its manual page, the systemd unit
# that runs it as its own system user, the sysusers.d file that makes that user, and the
# configuration file the unit names. Installed into /usr, the unit goes where the
# system's systemd looks for units (Debian 12: /lib/systemd/system), the configuration
# file to /etc.
if(TARGET inkrow-printer-app)
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    find_package(PkgConfig QUIET)
    if(PkgConfig_FOUND)
      pkg_get_variable(INKROW_SYSTEMD_UNIT_DIR_FOUND systemd systemdsystemunitdir)
      pkg_get_variable(INKROW_SYSUSERS_DIR_FOUND systemd sysusersdir)
    endif()
    if(NOT INKROW_SYSTEMD_UNIT_DIR_FOUND)
      set(INKROW_SYSTEMD_UNIT_DIR_FOUND /lib/systemd/system)
    endif()
    if(NOT INKROW_SYSUSERS_DIR_FOUND)
      set(INKROW_SYSUSERS_DIR_FOUND /usr/lib/sysusers.d)
    endif()
  else()
    set(INKROW_SYSTEMD_UNIT_DIR_FOUND ${CMAKE_INSTALL_LIBDIR}/systemd/system)
    set(INKROW_SYSUSERS_DIR_FOUND ${CMAKE_INSTALL_LIBDIR}/sysusers.d)
  endif()
  set(INKROW_SYSTEMD_UNIT_DIR ${INKROW_SYSTEMD_UNIT_DIR_FOUND} CACHE PATH
    "Where the printer application's systemd unit is installed")
  set(INKROW_SYSUSERS_DIR ${INKROW_SYSUSERS_DIR_FOUND} CACHE PATH
    "Where the sysusers.d file of the printer application's user is installed")
  set(app_build ${PROJECT_BINARY_DIR}/printer-app)
  install(TARGETS inkrow-printer-app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT printer-app)
  install(FILES ${app_build}/service/inkrow-printer-app.service
    DESTINATION ${INKROW_SYSTEMD_UNIT_DIR} COMPONENT printer-app)
  install(FILES ${PROJECT_SOURCE_DIR}/printer-app/service/sysusers.conf
    DESTINATION ${INKROW_SYSUSERS_DIR} RENAME inkrow-printer-app.conf COMPONENT printer-app)
  # /etc for the prefix /usr; below the prefix otherwise, so that a staged install stays
  # inside its stage.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(app_config_dir ${CMAKE_INSTALL_FULL_SYSCONFDIR})
  else()
    set(app_config_dir ${CMAKE_INSTALL_SYSCONFDIR})
  endif()
  install(FILES ${app_build}/service/inkrow-printer-app.conf
    DESTINATION ${app_config_dir} COMPONENT printer-app)
  if(INKROW_APP_MAN_PAGE)
    install(FILES ${INKROW_APP_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
      COMPONENT printer-app)
  endif()
endif()

include(${PROJECT_SOURCE_DIR}/cmake/packaging.cmake)
