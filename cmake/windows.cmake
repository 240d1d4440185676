# The Windows build (MinGW-w64, see cmake/toolchain-mingw-w64-x86_64.cmake): the module
# as inkrow.dll and the module's own tests, run under Wine. The render stage, the
# decoder's picture output, the tools and the front ends are POSIX programs and are not
# built here. Included from the top-level CMakeLists.txt, which stops after it.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  # The public records fix pointer fields at 8-byte offsets (output.h asserts it too).
  message(FATAL_ERROR "inkrow builds for 64-bit Windows only")
endif()

# Programs carry their runtime (libgcc, libstdc++, winpthread) inside, so the DLL and
# the test programs run on a bare Windows or Wine with no MinGW DLLs beside them.
add_link_options(-static)

# Every folder under src/ is the module; the platform heap is linked separately so the
# tests can put their counting heap in its place.
file(GLOB INKROW_CORE_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*/*.cpp)
list(FILTER INKROW_CORE_SOURCES EXCLUDE REGEX "/src/platform/")
add_library(inkrow_core OBJECT ${INKROW_CORE_SOURCES})
target_include_directories(inkrow_core PUBLIC ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(inkrow_core PUBLIC INKROW_BUILDING_LIBRARY=1)

# inkrow.dll: the export table is exactly the .def file's ten undecorated names (the
# version script's role on ELF); the import library is libinkrow.dll.a.
add_library(inkrow SHARED $<TARGET_OBJECTS:inkrow_core> ${PROJECT_SOURCE_DIR}/src/platform/heap.cpp
  ${PROJECT_SOURCE_DIR}/src/api/exports.def)
target_include_directories(inkrow PUBLIC ${PROJECT_SOURCE_DIR}/include)
target_include_directories(inkrow PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_options(inkrow PRIVATE -Wl,--no-undefined)
set_target_properties(inkrow PROPERTIES PREFIX "" OUTPUT_NAME inkrow
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

if(INKROW_TESTS)
  enable_testing()
  add_subdirectory(tests/windows)
endif()
