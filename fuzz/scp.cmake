# Fuzz targets of the upload library: its SSH-2 packet stream (version line,
# packets and messages), server host keys and signatures, SFTP replies and
# scp-sink acknowledgements.
if(TARGET fdx_scp)
  fdx_add_fuzzer(NAME scp_packet_fuzz SOURCE scp_packet_fuzz.cpp LIBS fdx_scp CORPUS corpus/scp_packet_fuzz)
  fdx_add_fuzzer(NAME scp_hostkey_fuzz SOURCE scp_hostkey_fuzz.cpp LIBS fdx_scp CORPUS corpus/scp_hostkey_fuzz)
  fdx_add_fuzzer(NAME scp_sftp_fuzz SOURCE scp_sftp_fuzz.cpp LIBS fdx_scp CORPUS corpus/scp_sftp_fuzz)
  fdx_add_fuzzer(NAME scp_ack_fuzz SOURCE scp_ack_fuzz.cpp LIBS fdx_scp CORPUS corpus/scp_ack_fuzz)
  fdx_add_fuzzer(NAME scp_auth_fuzz SOURCE scp_auth_fuzz.cpp LIBS fdx_scp CORPUS corpus/scp_auth_fuzz)
  fdx_add_fuzzer(NAME scp_sftp_limits_fuzz SOURCE scp_sftp_limits_fuzz.cpp LIBS fdx_scp CORPUS corpus/scp_sftp_limits_fuzz)
  fdx_add_fuzzer(NAME scp_forward_fuzz SOURCE scp_forward_fuzz.cpp LIBS fdx_scp CORPUS corpus/scp_forward_fuzz)
endif()
