# The console's side of the snap-in interfaces: the scope tree, the result
# pane, the console object with the name space, header and result data, the
# verbs, the image lists and the menu collection. Portable code over the
# platform's console interfaces, built once for each console that hosts a
# snap-in: the Linux host `ferrodex`, the tests' recording console and the
# Windows test console (built with MinGW).
set(fdx_console_side_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(fdx_console_side STATIC
  ${fdx_console_side_dir}/console_object.cpp
  ${fdx_console_side_dir}/console_verb.cpp
  ${fdx_console_side_dir}/image_list.cpp
  ${fdx_console_side_dir}/menu_collector.cpp
  ${fdx_console_side_dir}/result_pane.cpp
  ${fdx_console_side_dir}/scope_tree.cpp
)
target_link_libraries(fdx_console_side PUBLIC fdx_platform fdx_options)
