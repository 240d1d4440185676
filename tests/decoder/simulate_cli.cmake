# The simulator from the command line: a page simulated to a picture, patch readings and
# a CGATS chart reading; every refusal with its status and its reason. Needs SIMULATE,
# PAGE and WORK.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

include(${CMAKE_CURRENT_LIST_DIR}/../support/run_expect.cmake)

expect_run(0 ${PAGE} --resolution 300 --output ${WORK}/page.prn)
file(WRITE ${WORK}/patches.txt "# two patches of the test page\nA 100 100 200 200 0 0 0 0\nB 0 0 40 40 0 0 0 0\n")
set(mode --quality 10 --media 0)

# The whole way: progress, readings, picture and chart reading.
expect_run(0 ${SIMULATE} ${mode} --scale 4 --png ${WORK}/page.png --patches ${WORK}/patches.txt
  --ti3 ${WORK}/page.ti3 ${WORK}/page.prn)
expect_text("${err}" "page 1: 100 % of")
expect_text("${out}" "B 95.00 -0.00 -2.00\n")
foreach(file page.png page.ti3)
  if(NOT EXISTS ${WORK}/${file})
    message(FATAL_ERROR "no ${file}")
  endif()
endforeach()
file(READ ${WORK}/page.ti3 ti3)
expect_text("${ti3}" "NUMBER_OF_SETS 2\n")
expect_run(0 ${SIMULATE} --help)
expect_text("${out}" "usage: inkrow-simulate")

# Refusals: status 2 for the command line and outputs, 1 for the stream and the page.
string(ASCII 27 escape)
file(WRITE ${WORK}/junk.prn "${escape}(Zjunk")
file(WRITE ${WORK}/bad-patches.txt "A 1 2 3\n")
file(WRITE ${WORK}/far-patches.txt "far 0 0 9000 10\n")
foreach(case
    "2|give the job's print mode|${WORK}/page.prn|--png|${WORK}/x.png"
    "2|--ti3 needs --patches|${mode}|--ti3|${WORK}/x.ti3|${WORK}/page.prn"
    "2|nothing to do|${mode}|${WORK}/page.prn"
    "2|unknown option --frobnicate|${mode}|--frobnicate|${WORK}/page.prn"
    "2|--scale needs a number from 1 to 64|${mode}|--scale|0|${WORK}/page.prn"
    "2|--media needs a number from -32768 to 32767|--quality|10|--media|plain|${WORK}/page.prn"
    "2|a patch needs ID X0 Y0 X1 Y1|${mode}|--patches|${WORK}/bad-patches.txt|${WORK}/page.prn"
    "2|cannot open|${mode}|--png|${WORK}/x.png|${WORK}/no-such.prn"
    "2|cannot write the picture ${WORK}/no-dir/x.png|${mode}|--png|${WORK}/no-dir/x.png|${WORK}/page.prn"
    "1|offset 0|${mode}|--png|${WORK}/x.png|${WORK}/junk.prn"
    "1|has 1 page, no page 2|${mode}|--page|2|--png|${WORK}/x.png|${WORK}/page.prn"
    "1|which quality 10 with media 18 does not have|--quality|10|--media|18|--png|${WORK}/x.png|${WORK}/page.prn"
    "1|patch far is empty or outside the page|${mode}|--patches|${WORK}/far-patches.txt|${WORK}/page.prn")
  string(REPLACE "|" ";" case "${case}")
  list(POP_FRONT case status reason)
  expect_run(${status} ${SIMULATE} ${case})
  expect_text("${err}" "${reason}")
endforeach()
if(EXISTS ${WORK}/x.png)
  message(FATAL_ERROR "a refused run left a picture behind")
endif()
