# Lists the dynamic symbols the library defines and compares them with the ten
# entry points of the public interface, each bound to the version node INKROW_0 (nm
# prints the node itself as an absolute symbol, which is left out here).
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(found "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
  if(NOT name STREQUAL "INKROW_0")
    list(APPEND found ${name})
  endif()
endforeach()
list(SORT found)
set(expected "")
foreach(entry OutputClose OutputComplete OutputFlush OutputFormFeed OutputInit OutputInitPart
    OutputInitTwo OutputOpen OutputProduce OutputProduceTwo)
  list(APPEND expected ${entry}@@INKROW_0)
endforeach()
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  found:    ${found}")
endif()
message(STATUS "exports: ${found}")
