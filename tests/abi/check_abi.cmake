# The binary interface of the built library against the committed baseline of the
# release it must stay compatible with (abi/VERSION/): the entry points with their
# version nodes and argument types, and every record of the public header (through the
# records probe). Any difference that abidiff reports fails: an intended change belongs
# to a new release, with a new baseline made by scripts/abi-baseline.sh.
# Needs ABIDIFF, BASELINE (the release's folder), LIBRARY, RECORDS.
foreach(pair "libinkrow.abi;${LIBRARY}" "records.abi;${RECORDS}")
  list(GET pair 0 baseline)
  list(GET pair 1 binary)
  execute_process(COMMAND ${ABIDIFF} --no-added-syms ${BASELINE}/${baseline} ${binary}
    RESULT_VARIABLE status OUTPUT_VARIABLE report ERROR_VARIABLE report)
  # abidiff's status is a bit mask: 1 an error, 2 a usage error, 4 an ABI change, 8 an
  # incompatible one.
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "abidiff ${baseline} against ${binary} (status ${status}):\n${report}")
  endif()
endforeach()
message(STATUS "binary interface unchanged against ${BASELINE}")
