# The upload library against the stock sftp and scp -O clients, all sending
# the same 64 MiB file to the same private sshd with the same algorithms.
if(TARGET fdx_scp)
  add_executable(scp_bench scp_bench.cpp ${CMAKE_SOURCE_DIR}/tests/support/sshd_peer.cpp
                 ${CMAKE_SOURCE_DIR}/tests/support/peer_process.cpp
                 stock_client.cpp)
  target_link_libraries(scp_bench PRIVATE fdx_scp fdx_options)
endif()
