# The history's readers: a host's scan handed to the console, the times
# that name a scan, and the comparison of two trees of any shape.
if(TARGET fdx_console_commands)
  fdx_add_fuzzer(NAME history_fuzz
    SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/history_fuzz.cpp
    LIBS fdx_console_commands fdx_history
    CORPUS corpus/history)
endif()
