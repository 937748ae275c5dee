# What a snap-in's data object says about a host node (its server's address
# and port), read back by the console host.
if(TARGET fdx_console_core)
  fdx_add_fuzzer(NAME node_data_fuzz
    SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/node_data_fuzz.cpp
    LIBS fdx_console_core
    CORPUS corpus/node_data)
endif()
