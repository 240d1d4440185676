# Prints the test page with inkrow-page and compares the SHA-256 of the whole command
# stream with the pinned value, so that any change of any byte fails loudly. Run as
#   cmake -DPAGE=<inkrow-page> -DARGS=<a|b|c> -DOUTPUT=<file> -DEXPECTED=<sha256> -P ...
# A change of the stream that is meant must come with a new pinned value: the message
# gives the one the stream has now.
string(REPLACE "|" ";" page_args "${ARGS}")
execute_process(COMMAND ${PAGE} ${page_args} --output ${OUTPUT}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "inkrow-page ${page_args} failed (${status}):\n${out}${err}")
endif()
file(SHA256 ${OUTPUT} actual)
file(SIZE ${OUTPUT} bytes)
if(NOT actual STREQUAL EXPECTED)
  string(JOIN " " shown ${page_args})
  message(FATAL_ERROR "the stream of inkrow-page ${shown} changed: "
    "${bytes} bytes, SHA-256 ${actual}, pinned ${EXPECTED}")
endif()
message(STATUS "${bytes} bytes, SHA-256 ${actual}")
