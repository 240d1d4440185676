# Installs the build into a staging prefix and builds the consumer against it, the way a
# user of the installed library would. MODE: package (find_package on the staged
# install), pkgconfig (the compiler line from pkg-config), buildtree (find_package on the
# build directory) or embed (add_subdirectory of the source tree without libpng or
# GoogleTest). Needs BUILD_DIR, SOURCE_DIR, WORK_DIR, VERSION, C_COMPILER; CONSUMER_FLAGS
# go to the consumer's compile and link lines (a sanitized library needs them); LAUNCHER,
# if set, is the outer build's compiler launcher.
cmake_minimum_required(VERSION 3.25)
set(consumer ${SOURCE_DIR}/tests/install/consumer)
set(stage ${WORK_DIR}/stage)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    string(JOIN " " line ${ARGN})
    message(FATAL_ERROR "${line}\nfailed (${status}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "package" OR MODE STREQUAL "pkgconfig")
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage} --component runtime)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage} --component development)
  file(GLOB_RECURSE sonames ${stage}/*/libinkrow.so.0)
  file(GLOB_RECURSE devlinks ${stage}/*/libinkrow.so)
  if(NOT sonames OR NOT devlinks)
    message(FATAL_ERROR "the staged install lacks libinkrow.so.0 or libinkrow.so")
  endif()
  if(NOT EXISTS ${stage}/include/inkrow/output.h)
    message(FATAL_ERROR "the staged install lacks include/inkrow/output.h")
  endif()
endif()

if(MODE STREQUAL "pkgconfig")
  file(GLOB_RECURSE pc_files ${stage}/*/inkrow.pc)
  list(GET pc_files 0 pc_file)
  get_filename_component(pc_dir ${pc_file} DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  set(ENV{PKG_CONFIG_LIBDIR} ${pc_dir})
  run(pkg-config --modversion inkrow)
  string(STRIP "${run_output}" found_version)
  if(NOT found_version STREQUAL VERSION)
    message(FATAL_ERROR "pkg-config reports ${found_version}, expected ${VERSION}")
  endif()
  run(pkg-config --cflags inkrow)
  string(STRIP "${run_output}" cflags)
  run(pkg-config --libs inkrow)
  string(STRIP "${run_output}" libs)
  separate_arguments(cflags UNIX_COMMAND "${cflags}")
  separate_arguments(libs UNIX_COMMAND "${libs}")
  separate_arguments(extra UNIX_COMMAND "${CONSUMER_FLAGS}")
  run(${C_COMPILER} -std=c11 -Wall -Wextra -Wpedantic -Werror ${extra} ${cflags}
      ${consumer}/consumer.c -o ${WORK_DIR}/consumer ${libs})
  set(ENV{LD_LIBRARY_PATH} ${pc_dir}/..)
  run(${WORK_DIR}/consumer)
else()
  set(configure ${CMAKE_COMMAND} -S ${consumer} -B ${WORK_DIR}/build -DEXPECTED_VERSION=${VERSION}
      -DCMAKE_C_COMPILER=${C_COMPILER})
  if(MODE STREQUAL "package")
    list(APPEND configure -DCMAKE_PREFIX_PATH=${stage} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
         "-DCMAKE_C_FLAGS=${CONSUMER_FLAGS}")
  elseif(MODE STREQUAL "buildtree")
    list(APPEND configure -Dinkrow_DIR=${BUILD_DIR} "-DCMAKE_C_FLAGS=${CONSUMER_FLAGS}")
  elseif(MODE STREQUAL "embed")
    # An embedding project has neither libpng nor GoogleTest: any attempt to find them
    # fails the configure.
    list(APPEND configure -DINKROW_SOURCE_DIR=${SOURCE_DIR} -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON
         -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON)
    # The nested build compiles the whole library again: it uses the outer build's
    # launcher when that has one, and none otherwise, so it needs no tool setup did
    # not install.
    if(LAUNCHER)
      list(APPEND configure -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER}
           -DCMAKE_C_COMPILER_LAUNCHER=${LAUNCHER})
    endif()
  else()
    message(FATAL_ERROR "unknown MODE ${MODE}")
  endif()
  run(${configure})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/build -j2)
  run(${WORK_DIR}/build/consumer)
endif()
message(STATUS "${MODE}: ${run_output}")
