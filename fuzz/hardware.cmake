# The hardware tree built from arbitrary XML text.
if(TARGET fdx_hardware AND TARGET fdx_inventory)
  fdx_add_fuzzer(NAME hardware_fuzz SOURCE hardware_fuzz.cpp LIBS fdx_hardware fdx_inventory CORPUS corpus/hardware)
endif()
