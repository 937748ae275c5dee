# fdx-preview: prints the hardware tree of an lshw XML file, or of this
# machine, as the console shows it.
if(TARGET fdx_hardware)
  add_executable(fdx_preview preview.cpp)
  target_link_libraries(fdx_preview PRIVATE fdx_hardware fdx_options)
  set_target_properties(fdx_preview PROPERTIES OUTPUT_NAME fdx-preview)
endif()
