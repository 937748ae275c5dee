# Refreshing sixteen hosts side by side against one after the other.
if(TARGET fdx_testsupport)
  add_executable(fleet_bench ${CMAKE_CURRENT_LIST_DIR}/fleet_bench.cpp)
  target_link_libraries(fleet_bench PRIVATE fdx_testsupport fdx_options)
  target_compile_definitions(fleet_bench PRIVATE FDX_FERRODEX="${CMAKE_BINARY_DIR}/console/ferrodex"
                                                 FDX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
