# A console file of 5,000 real-sized servers: its size, saving and opening
# it, and the built ferrodex reading it.
if(TARGET fdx_inventory AND TARGET fdx_console_core AND TARGET ferrodex)
  add_executable(fleet_size_bench ${CMAKE_CURRENT_LIST_DIR}/fleet_size_bench.cpp)
  target_link_libraries(fleet_size_bench PRIVATE fdx_inventory fdx_console_core fdx_options)
  add_dependencies(fleet_size_bench ferrodex)
  target_compile_definitions(fleet_size_bench PRIVATE FDX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                      FDX_BINARY_DIR="${CMAKE_BINARY_DIR}")
endif()
