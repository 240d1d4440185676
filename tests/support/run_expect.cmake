# Helpers for the command-line test scripts: run a program and check its status, look for
# a text in what it wrote. expect_run leaves the program's output in `out` and `err`.

function(expect_run expected_status)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
    TIMEOUT 300)
  if(NOT status EQUAL expected_status)
    string(JOIN " " line ${ARGN})
    message(FATAL_ERROR "${line}: status ${status}, expected ${expected_status}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect_text haystack needle)
  string(FIND "${haystack}" "${needle}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected \"${needle}\" in:\n${haystack}")
  endif()
endfunction()
