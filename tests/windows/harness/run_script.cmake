# Runs the harness on a script and compares its output with the expected
# lines. With CLSID the module is registered with regsvr32 first and the
# snap-in made through the COM runtime (unregistered again at the end);
# otherwise the harness loads the module itself.
#
#   cmake -DRUNNER=wine_run.sh -DHARNESS=fdx-harness.exe -DMODULE=x.dll [-DCLSID={...}]
#         -DSCRIPT=script.txt -DEXPECTED=expected.txt -P run_script.cmake
if(CLSID)
  execute_process(COMMAND ${RUNNER} regsvr32 /s ${MODULE} RESULT_VARIABLE registered)
  if(NOT registered EQUAL 0)
    message(FATAL_ERROR "regsvr32 ${MODULE} failed: ${registered}")
  endif()
  set(source --clsid ${CLSID})
else()
  set(source --dll ${MODULE})
endif()
execute_process(
  COMMAND ${RUNNER} ${HARNESS} ${source} ${SCRIPT}
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(CLSID)
  execute_process(COMMAND ${RUNNER} regsvr32 /u /s ${MODULE})
endif()
file(READ ${EXPECTED} expected)
if(NOT status EQUAL 0 OR NOT output STREQUAL expected)
  message(FATAL_ERROR "exit status ${status}\n--- output:\n${output}--- expected:\n${expected}--- errors:\n${errors}")
endif()
