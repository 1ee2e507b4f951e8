# Runs one unit-test program under the cross build's emulator for ctest:
#
#   cmake -DEMULATOR=wine -DPROGRAM=x_tests.exe -P RunUnderEmulator.cmake
#
# Under wine a program that cannot start at all may end with status 0 and
# print nothing, so a run passes only when it ends with status 0 after
# GoogleTest's own verdict. A program that hangs is stopped after five
# minutes with what it wrote until then, so that the test it hung in shows.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output
  TIMEOUT 300)
message("${output}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ended with status ${status}")
endif()
if(NOT output MATCHES "\\[  PASSED  \\] [0-9]+ tests?\\.")
  message(FATAL_ERROR "${PROGRAM} ended without GoogleTest's verdict: did it start at all?")
endif()
