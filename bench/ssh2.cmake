# The SSH-2 client against the stock OpenSSH client, both talking to the
# same private sshd with the same algorithms.
if(TARGET fdx_ssh2)
  add_executable(ssh2_bench ssh2_bench.cpp ${CMAKE_SOURCE_DIR}/tests/support/sshd_peer.cpp
                 ${CMAKE_SOURCE_DIR}/tests/support/peer_process.cpp
                 stock_client.cpp)
  target_link_libraries(ssh2_bench PRIVATE fdx_ssh2 fdx_options)
endif()
