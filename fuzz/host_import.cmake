# The host lists an import reads, and the known_hosts file both SSH engines
# read.
if(TARGET fdx_host_import)
  fdx_add_fuzzer(NAME host_import_fuzz SOURCE host_import_fuzz.cpp LIBS fdx_host_import CORPUS corpus/host_import)
endif()
if(TARGET fdx_sshcore)
  fdx_add_fuzzer(NAME known_hosts_fuzz SOURCE known_hosts_fuzz.cpp LIBS fdx_sshcore CORPUS corpus/known_hosts)
endif()
