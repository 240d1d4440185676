# The replay program on a case of its own: regenerating writes a golden file and leaves
# an equal one alone; a stream that differs names its first difference and the decoder
# command, and leaves the golden stream expanded beside the new one; a missing golden
# file is a file error; regenerating from a stream the decoder refuses writes nothing.
# Needs PAGE, REPLAY and WORK.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${PAGE} --black-only --resolution 300 --output ${WORK}/case.new
  RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "inkrow-page failed (${status})")
endif()
set(golden ${WORK}/case.prn.gz)

function(expect_replay expected_status needle)
  execute_process(COMMAND ${REPLAY} ${ARGN} RESULT_VARIABLE status ERROR_VARIABLE err
    OUTPUT_VARIABLE out)
  string(FIND "${out}${err}" "${needle}" at)
  if(NOT status EQUAL expected_status OR at EQUAL -1)
    message(FATAL_ERROR "${ARGN}: status ${status}, expected ${expected_status} and "
      "\"${needle}\" in:\n${out}${err}")
  endif()
endfunction()

expect_replay(0 "bytes, new)" --regenerate case ${golden} ${WORK}/case.new)
expect_replay(0 "unchanged" --regenerate case ${golden} ${WORK}/case.new)
expect_replay(0 "equal to the golden stream" case ${golden} ${WORK}/case.new)
# A byte that starts no command, appended: the first difference is the stream's old end.
file(SIZE ${WORK}/case.new bytes)
file(APPEND ${WORK}/case.new "x")
expect_replay(1 "first difference at byte ${bytes}" case ${golden} ${WORK}/case.new)
expect_replay(1 "diff <(inkrow-decode ${WORK}/case.prn) <(inkrow-decode ${WORK}/case.new)"
  case ${golden} ${WORK}/case.new)
file(SIZE ${WORK}/case.prn expanded)
if(NOT expanded EQUAL bytes)
  message(FATAL_ERROR "the golden stream was not expanded beside the new one")
endif()
expect_replay(2 "no readable golden stream" case ${WORK}/missing.prn.gz ${WORK}/case.new)
expect_replay(1 "does not decode" --regenerate case ${WORK}/written.prn.gz ${WORK}/case.new)
if(EXISTS ${WORK}/written.prn.gz)
  message(FATAL_ERROR "a stream the decoder refuses was written as a golden stream")
endif()
