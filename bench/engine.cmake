# Deployment and first scan of a host without lshw: the engine package's
# prebuilt binary against a build from its source, in the same run.
if(TARGET fdx_testsupport)
  add_executable(engine_bench ${CMAKE_CURRENT_LIST_DIR}/engine_bench.cpp)
  target_link_libraries(engine_bench PRIVATE fdx_testsupport fdx_options)
  target_compile_definitions(engine_bench PRIVATE FDX_FERRODEX="${CMAKE_BINARY_DIR}/console/ferrodex"
                             FDX_ENGINE_REGISTER="${CMAKE_BINARY_DIR}/tools/fdx-engine-register"
                             FDX_SIGNING_KEY="${CMAKE_BINARY_DIR}/engine-signing-key.pem")
endif()
