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

include(${PROJECT_SOURCE_DIR}/cmake/packaging.cmake)
