# Fleet search queries as a user or a script writes them.
if(TARGET fdx_console_commands)
  fdx_add_fuzzer(NAME fleet_query_fuzz
    SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/fleet_query_fuzz.cpp
    LIBS fdx_console_commands
    CORPUS corpus/fleet_query)
endif()
