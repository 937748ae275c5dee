# Compiles through ccache when it is installed (scripts/setup.sh installs it),
# so that a second build tree, a fresh worktree or a preset switched back and
# forth compiles only what changed. A launcher the user chose, on the command
# line, in the cache or in the CMAKE_<LANG>_COMPILER_LAUNCHER environment
# variable, is kept as it is; FDX_CCACHE=OFF turns this off.
option(FDX_CCACHE "Compile through ccache when it is installed" ON)
if(FDX_CCACHE)
  find_program(FDX_CCACHE_PROGRAM ccache)
  mark_as_advanced(FDX_CCACHE_PROGRAM)
  if(FDX_CCACHE_PROGRAM)
    foreach(lang C CXX)
      if(NOT CMAKE_${lang}_COMPILER_LAUNCHER AND NOT DEFINED ENV{CMAKE_${lang}_COMPILER_LAUNCHER})
        set(CMAKE_${lang}_COMPILER_LAUNCHER ${FDX_CCACHE_PROGRAM})
      endif()
    endforeach()
  endif()
endif()
