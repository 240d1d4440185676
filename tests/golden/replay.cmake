# One golden case: prints the test page with inkrow-page into NEW and hands it to the
# replay program, which compares it with GOLDEN (or, with INKROW_REGENERATE_GOLDEN=1 in
# the environment, writes it into GOLDEN). Run as
#   cmake -DPAGE=<inkrow-page> -DREPLAY=<inkrow_golden_replay> -DDECODE=<inkrow-decode>
#         -DCASE=<name> -DARGS=<a|b|c> -DGOLDEN=<file.prn.gz> -DNEW=<file.new> -P replay.cmake
string(REPLACE "|" ";" page_args "${ARGS}")
execute_process(COMMAND ${PAGE} ${page_args} --output ${NEW}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "inkrow-page ${page_args} failed (${status}):\n${out}${err}")
endif()
set(mode "")
if("$ENV{INKROW_REGENERATE_GOLDEN}" STREQUAL "1")
  set(mode --regenerate)
endif()
execute_process(COMMAND ${REPLAY} ${mode} --decoder ${DECODE} ${CASE} ${GOLDEN} ${NEW}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "golden case ${CASE} failed")
endif()
