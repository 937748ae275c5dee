# Runs the harness on a script and compares its output with the expected
# lines:  cmake -DRUNNER=... -DHARNESS=... -DMODULE=... -DSCRIPT=... -DEXPECTED=... -P run_script.cmake
execute_process(
  COMMAND ${RUNNER} ${HARNESS} --dll ${MODULE} ${SCRIPT}
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
file(READ ${EXPECTED} expected)
if(NOT status EQUAL 0 OR NOT output STREQUAL expected)
  message(FATAL_ERROR "exit status ${status}\n--- output:\n${output}--- expected:\n${expected}--- errors:\n${errors}")
endif()
