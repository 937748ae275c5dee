# Parse and build of a large lshw document against a bare pugixml parse.
if(TARGET fdx_hardware AND TARGET fdx_inventory)
  add_executable(hardware_bench hardware_bench.cpp)
  target_link_libraries(hardware_bench PRIVATE fdx_hardware fdx_inventory pugixml::pugixml fdx_options)
  target_compile_definitions(hardware_bench PRIVATE FDX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
