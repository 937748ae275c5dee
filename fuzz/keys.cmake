# Fuzz target of the private key file reader shared by both engines.
if(TARGET fdx_sshcore)
  fdx_add_fuzzer(NAME private_key_fuzz SOURCE private_key_fuzz.cpp LIBS fdx_sshcore CORPUS corpus/private_key_fuzz)
endif()
if(TARGET fdx_sshcore)
  fdx_add_fuzzer(NAME agent_reply_fuzz SOURCE agent_reply_fuzz.cpp LIBS fdx_sshcore CORPUS corpus/agent_reply_fuzz)
endif()
