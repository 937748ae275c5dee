# Fuzz targets of the SSH-2 client: the transport's packet reader and the
# parsers of the messages it reads from servers, and the host-key cache's
# texts read back into keys.
if(TARGET fdx_ssh2)
  fdx_add_fuzzer(NAME ssh2_packet_fuzz SOURCE ssh2_packet_fuzz.cpp LIBS fdx_ssh2 CORPUS corpus/ssh2_packet_fuzz)
  fdx_add_fuzzer(NAME ssh2_messages_fuzz SOURCE ssh2_messages_fuzz.cpp LIBS fdx_ssh2 CORPUS corpus/ssh2_messages_fuzz)
  fdx_add_fuzzer(NAME hostkey_cache_fuzz SOURCE hostkey_cache_fuzz.cpp LIBS fdx_ssh2 CORPUS corpus/hostkey_cache_fuzz)
endif()
