# Reading 1,000 stored scans out of a console and exporting them.
if(TARGET fdx_console_commands AND TARGET ferrodex_module)
  add_executable(export_bench ${CMAKE_CURRENT_LIST_DIR}/export_bench.cpp)
  target_link_libraries(export_bench PRIVATE fdx_console_commands fdx_options)
  add_dependencies(export_bench ferrodex_module)
  target_compile_definitions(export_bench PRIVATE FDX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                  FDX_BINARY_DIR="${CMAKE_BINARY_DIR}")
endif()
