# Guess rates against both encrypted forms, and open and save of a large
# encrypted inventory.
if(TARGET fdx_inventory)
  add_executable(vault_bench ${CMAKE_CURRENT_LIST_DIR}/vault_bench.cpp)
  target_link_libraries(vault_bench PRIVATE fdx_inventory fdx_options)
endif()
