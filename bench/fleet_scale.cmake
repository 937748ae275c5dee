# A loopback refresh of 512 hosts with --jobs 32: the parent's peak memory
# and the processor time per scan, beside the stock ssh client doing the
# same fetches.
if(TARGET fdx_testsupport)
  add_executable(fleet_scale_bench ${CMAKE_CURRENT_LIST_DIR}/fleet_scale_bench.cpp)
  target_link_libraries(fleet_scale_bench PRIVATE fdx_testsupport fdx_options)
  target_compile_definitions(fleet_scale_bench PRIVATE FDX_FERRODEX="${CMAKE_BINARY_DIR}/console/ferrodex"
                                                       FDX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
