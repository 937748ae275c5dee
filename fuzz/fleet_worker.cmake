# What a scan worker and its parent hand each other through their pipes.
if(TARGET fdx_scan)
  fdx_add_fuzzer(NAME fleet_worker_fuzz SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/fleet_worker_fuzz.cpp LIBS fdx_scan
                 CORPUS corpus/fleet_worker_fuzz)
endif()
