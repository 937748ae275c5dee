# Tests of the terminal face: its pure logic without a terminal (the whole
# face driven through tmux is in tests/integration/console).
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

