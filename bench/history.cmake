# Recording 300 KB scans in the history and comparing two of them as the
# views show them (through the real module).
if(TARGET fdx_console_commands AND TARGET ferrodex_module)
  add_executable(history_bench ${CMAKE_CURRENT_LIST_DIR}/history_bench.cpp)
  target_link_libraries(history_bench PRIVATE fdx_console_commands fdx_history fdx_options)
  target_compile_definitions(history_bench PRIVATE FDX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                   FDX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_dependencies(history_bench ferrodex_module)
endif()
