# Embeds resource files into a generated C++ source: each file becomes a byte
# array and an entry of the module's resource table.
#   fdx_embed_resources(OUTPUT file.cpp SYMBOL name ENTRIES "TYPE|id|name|path" ...)
function(fdx_embed_resources)
  cmake_parse_arguments(R "" "OUTPUT;SYMBOL" "ENTRIES" ${ARGN})
  set(depends)
  foreach(entry ${R_ENTRIES})
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 3 path)
    list(APPEND depends ${path})
  endforeach()
  set(list_file ${R_OUTPUT}.entries)
  string(REPLACE ";" "\n" lines "${R_ENTRIES}")
  file(CONFIGURE OUTPUT ${list_file} CONTENT "${lines}\n" @ONLY)
  add_custom_command(OUTPUT ${R_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${R_OUTPUT} -DSYMBOL=${R_SYMBOL} -DLIST_FILE=${list_file}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedResources.cmake
    DEPENDS ${depends} ${list_file} ${CMAKE_SOURCE_DIR}/cmake/EmbedResources.cmake
    COMMENT "Embedding resources into ${R_OUTPUT}"
    VERBATIM)
endfunction()
