# Registers the module with regsvr32, runs the harness on a script against
# the snap-in class CLSID made through the COM runtime, unregisters the
# module again and compares the output with the expected lines.
#
#   cmake -DRUNNER=wine_run.sh -DHARNESS=fdx-harness.exe -DMODULE=x.dll -DCLSID={...}
#         -DSCRIPT=script.txt -DEXPECTED=expected.txt -P run_script.cmake
execute_process(COMMAND ${RUNNER} regsvr32 /s ${MODULE} RESULT_VARIABLE registered)
if(NOT registered EQUAL 0)
  message(FATAL_ERROR "regsvr32 ${MODULE} failed: ${registered}")
endif()
execute_process(
  COMMAND ${RUNNER} ${HARNESS} --clsid ${CLSID} ${SCRIPT}
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
execute_process(COMMAND ${RUNNER} regsvr32 /u /s ${MODULE})
file(READ ${EXPECTED} expected)
if(NOT status EQUAL 0 OR NOT output STREQUAL expected)
  message(FATAL_ERROR "exit status ${status}\n--- output:\n${output}--- expected:\n${expected}--- errors:\n${errors}")
endif()
