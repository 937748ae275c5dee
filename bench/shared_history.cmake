# The scan history of a 5,000-host fleet in SQLite and in PostgreSQL (a
# private cluster the bench starts), read as `find` and `export` read it.
if(TARGET fdx_testsupport)
  add_executable(shared_history_bench ${CMAKE_CURRENT_LIST_DIR}/shared_history_bench.cpp)
  target_link_libraries(shared_history_bench PRIVATE fdx_history fdx_testsupport fdx_options)
endif()
