# The map in printer-app/README.md is the output of `inkrow-printer-app modes`, which
# reads the catalogue: the two may not drift apart. Run as
#   cmake -DAPP=<inkrow-printer-app> -DREADME=<printer-app/README.md> -P check_readme.cmake
execute_process(COMMAND ${APP} modes OUTPUT_VARIABLE map RESULT_VARIABLE status TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "inkrow-printer-app modes failed (${status})")
endif()
# The tables from the first driver heading on.
string(FIND "${map}" "### " start)
string(SUBSTRING "${map}" ${start} -1 tables)
string(STRIP "${tables}" tables)
file(READ ${README} readme)
string(FIND "${readme}" "${tables}" found)
if(found EQUAL -1)
  message(FATAL_ERROR "printer-app/README.md does not hold the output of "
    "`inkrow-printer-app modes`; paste it in:\n${tables}")
endif()
