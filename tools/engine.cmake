# Signs an engine package and describes it in the registry.
add_executable(fdx-engine-register ${CMAKE_CURRENT_LIST_DIR}/engine_register.cpp)
target_link_libraries(fdx-engine-register PRIVATE fdx_scan fdx_sshcore fdx_options)
