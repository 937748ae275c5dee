# The vault of an encrypted inventory: header, check and sealed records.
if(TARGET fdx_inventory)
  fdx_add_fuzzer(NAME vault_fuzz SOURCE vault_fuzz.cpp LIBS fdx_inventory CORPUS corpus/vault)
endif()
