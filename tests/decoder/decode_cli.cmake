# The decode and test-page tools from the command line: every stream of the module reads
# back with the defaults (a form-feed job included); an empty file is an error; a
# picture path that cannot be written fails before any work and is named once; drawing
# without a print mode warns and names the options. Needs DECODE, PAGE and WORK.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

include(${CMAKE_CURRENT_LIST_DIR}/../support/run_expect.cmake)

# A form-feed job of three pages decodes with no option: one sheet, one form feed.
expect_run(0 ${PAGE} --form-feed --pages 3 --resolution 300 --output ${WORK}/ff.prn)
expect_text("${out}" "5 page headers, 1 form feed\n")
expect_run(0 ${DECODE} --quality 10 --media 0 --png ${WORK}/ff ${WORK}/ff.prn)
expect_text("${out}" "header repeated at row")
expect_text("${out}" "total: 1 page\n")
if(NOT EXISTS ${WORK}/ff/page1-preview.png)
  message(FATAL_ERROR "no preview of the form-feed job")
endif()

# Cut before its form feed, the job needs the option, and the error says which.
execute_process(COMMAND head -c -1 ${WORK}/ff.prn OUTPUT_FILE ${WORK}/cut.prn
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot cut the stream")
endif()
expect_run(1 ${DECODE} --no-listing ${WORK}/cut.prn)
expect_text("${err}" "--continue-page-on-header")
expect_run(0 ${DECODE} --no-listing --continue-page-on-header ${WORK}/cut.prn)

# An empty file is an error, not "0 pages".
file(WRITE ${WORK}/empty.prn "")
expect_run(1 ${DECODE} ${WORK}/empty.prn)
expect_text("${err}" "is empty")

# Pictures without a print mode: a warning naming the options.
expect_run(0 ${PAGE} --resolution 300 --output ${WORK}/page.prn)
expect_run(0 ${DECODE} --no-listing --png ${WORK}/guess ${WORK}/page.prn)
expect_text("${err}" "warning: no print mode given")
expect_text("${err}" "--quality Q --media M")

# Bad picture paths fail before any work, naming the path once.
file(WRITE ${WORK}/plain-file "")
expect_run(2 ${DECODE} --png ${WORK}/plain-file/pictures ${WORK}/page.prn)
expect_text("${err}" "${WORK}/plain-file/pictures")
expect_run(2 ${PAGE} --resolution 300 --output ${WORK}/bad.prn --png ${WORK}/missing/dir/p.png)
string(REGEX MATCHALL "${WORK}/missing/dir/p.png" named "${err}")
list(LENGTH named times)
if(NOT times EQUAL 1 OR out MATCHES "wrote")
  message(FATAL_ERROR "the bad path is named ${times} times, or work was done:\n${out}\n${err}")
endif()
