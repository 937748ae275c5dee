# A whole refresh of a host through the console host, beside the stock
# OpenSSH client running the same two commands.
if(TARGET fdx_testsupport)
  add_executable(refresh_bench ${CMAKE_CURRENT_LIST_DIR}/refresh_bench.cpp)
  target_link_libraries(refresh_bench PRIVATE fdx_testsupport fdx_options)
  target_compile_definitions(refresh_bench PRIVATE FDX_FERRODEX="${CMAKE_BINARY_DIR}/console/ferrodex")
endif()
