# Tests of the terminal face: its pure logic without a terminal, and the
# whole face driven through tmux.
if(TARGET fdx_console_tui_logic)
  fdx_add_test(NAME tui_tests
    SOURCES tui_text_test.cpp tui_tree_test.cpp tui_list_test.cpp tui_form_test.cpp tui_keys_test.cpp
    LIBS fdx_console_tui_logic)
endif()
if(TARGET fdx_console_tui)
  fdx_add_test(NAME tui_screen_tests
    SOURCES tui_ui_test.cpp
    LIBS fdx_console_tui)
endif()

# The end-to-end run needs a `ferrodex` that starts the terminal face.
if(TARGET ferrodex)
  set(_fdx_face_linked FALSE)
  foreach(_fdx_target ferrodex fdx_console_commands)
    if(TARGET ${_fdx_target})
      get_target_property(_fdx_links ${_fdx_target} LINK_LIBRARIES)
      if(_fdx_links AND "fdx_console_tui" IN_LIST _fdx_links)
        set(_fdx_face_linked TRUE)
      endif()
    endif()
  endforeach()
  if(_fdx_face_linked)
    add_test(NAME tui_tmux_test
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tui_tmux_test.sh $<TARGET_FILE:ferrodex>)
    set_tests_properties(tui_tmux_test PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77 LABELS console RUN_SERIAL TRUE)
    # A second ferrodex on the same file while the face has unsaved changes.
    add_test(NAME tui_lock_tmux_test
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tui_lock_tmux_test.sh $<TARGET_FILE:ferrodex>)
    set_tests_properties(tui_lock_tmux_test PROPERTIES TIMEOUT 90 SKIP_RETURN_CODE 77 LABELS console RUN_SERIAL TRUE)

    # What a hostile host stored in the inventory shows on the screen.
    add_executable(console_image_tool console_image_tool.cpp)
    target_link_libraries(console_image_tool PRIVATE fdx_console_commands fdx_options)
    add_test(NAME tui_hostile_text_test
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tui_hostile_text_test.sh $<TARGET_FILE:ferrodex>
              $<TARGET_FILE:console_image_tool> ${CMAKE_SOURCE_DIR}/tests/data/lshw/hostile.xml)
    set_tests_properties(tui_hostile_text_test PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77 LABELS console RUN_SERIAL TRUE)
    # "Import Hosts..." on a group's menu, through its form.
    add_test(NAME tui_import_tmux_test
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tui_import_tmux_test.sh $<TARGET_FILE:ferrodex>
              ${CMAKE_SOURCE_DIR}/tests/data/import/inventory.ini)
    set_tests_properties(tui_import_tmux_test PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77 LABELS console RUN_SERIAL TRUE)
    # The host-key dialog against a real sshd whose key changed.
    add_test(NAME hostkey_tmux_test
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/hostkey_tmux_test.sh $<TARGET_FILE:ferrodex>)
    set_tests_properties(hostkey_tmux_test PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77 LABELS "console;peers"
                                                      RUN_SERIAL TRUE)
    # Refresh All of a group against a real sshd, one host never finishing.
    add_test(NAME fleet_tmux_test
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/fleet_tmux_test.sh $<TARGET_FILE:ferrodex>)
    set_tests_properties(fleet_tmux_test PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77 LABELS "console;peers"
                                                     RUN_SERIAL TRUE)
  endif()
endif()
