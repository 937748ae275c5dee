# The text form of the registry hives, as read back from their files.
fdx_add_fuzzer(NAME registry_fuzz SOURCE registry_fuzz.cpp LIBS fdx_platform CORPUS corpus/registry)
