# The saved inventory read back from arbitrary console-file bytes.
if(TARGET fdx_inventory)
  fdx_add_fuzzer(NAME inventory_fuzz SOURCE inventory_fuzz.cpp LIBS fdx_inventory CORPUS corpus/inventory)
endif()
