# What the scan takes from outside to build host commands: the folder a host
# printed for `mktemp -d`, and package names and versions from the registry.
if(TARGET fdx_scan)
  fdx_add_fuzzer(NAME scan_remote_fuzz SOURCE scan_remote_fuzz.cpp LIBS fdx_scan CORPUS corpus/scan_remote_fuzz)
endif()
