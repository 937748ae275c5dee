# A host's jump route, as typed, stored or imported.
if(TARGET fdx_scan)
  fdx_add_fuzzer(NAME jump_route_fuzz SOURCE jump_route_fuzz.cpp LIBS fdx_scan CORPUS corpus/jump_route)
endif()
