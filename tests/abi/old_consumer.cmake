# A program built against an earlier release's header keeps working with this library:
# the consumer built against the baseline's header and against today's, both run against
# the library just built, must write the same stream byte for byte.
# Needs C_COMPILER, SOURCE_DIR, BASELINE_INCLUDE, LIBRARY_DIR, WORK_DIR, CONSUMER_FLAGS.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
separate_arguments(extra UNIX_COMMAND "${CONSUMER_FLAGS}")
set(ENV{LD_LIBRARY_PATH} ${LIBRARY_DIR})
foreach(side old:${BASELINE_INCLUDE} new:${SOURCE_DIR}/include)
  string(REPLACE ":" ";" side "${side}")
  list(GET side 0 name)
  list(GET side 1 include)
  execute_process(COMMAND ${C_COMPILER} -std=c11 -Wall -Wextra -Werror ${extra} -I${include}
      ${SOURCE_DIR}/tests/install/consumer/consumer.c -o ${WORK_DIR}/consumer-${name}
      -L${LIBRARY_DIR} -linkrow
    RESULT_VARIABLE status ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "building the consumer against ${include} failed:\n${err}")
  endif()
  execute_process(COMMAND ${WORK_DIR}/consumer-${name} ${WORK_DIR}/${name}.prn
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the consumer built against ${include} failed (${status}):\n${out}${err}")
  endif()
endforeach()
file(SHA256 ${WORK_DIR}/old.prn old)
file(SHA256 ${WORK_DIR}/new.prn new)
if(NOT old STREQUAL new)
  message(FATAL_ERROR "the consumer built against ${BASELINE_INCLUDE} writes another stream")
endif()
message(STATUS "old and new consumers write the same stream (${new})")
