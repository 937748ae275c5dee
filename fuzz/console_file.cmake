# The console file container: parsing untrusted bytes, and the round trip of
# whatever parses.
if(TARGET fdx_console_core)
  fdx_add_fuzzer(NAME console_file_fuzz
    SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/console_file_fuzz.cpp
    LIBS fdx_console_core
    CORPUS corpus/console_file)
endif()
