# Key logins of the SSH-2 client against the stock OpenSSH client with the
# same key, both talking to the same private sshd.
if(TARGET fdx_ssh2)
  add_executable(key_login_bench key_login_bench.cpp ${CMAKE_SOURCE_DIR}/tests/support/sshd_peer.cpp
                 ${CMAKE_SOURCE_DIR}/tests/support/peer_process.cpp
                 stock_client.cpp)
  target_link_libraries(key_login_bench PRIVATE fdx_ssh2 fdx_options)
endif()
