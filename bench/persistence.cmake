# Saving and loading a large inventory, beside a plain copy of its bytes.
if(TARGET fdx_inventory)
  add_executable(persistence_bench ${CMAKE_CURRENT_LIST_DIR}/persistence_bench.cpp)
  target_link_libraries(persistence_bench PRIVATE fdx_inventory fdx_options)
  target_compile_definitions(persistence_bench PRIVATE FDX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
