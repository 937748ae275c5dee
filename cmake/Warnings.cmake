# Common compile options for every target of the project.
add_library(fdx_options INTERFACE)
target_compile_options(fdx_options INTERFACE
  -Wall -Wextra -Wnon-virtual-dtor -Wno-unused-parameter
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
# The Windows SDK's interfaces declare no destructors; objects implementing
# them delete themselves through Release, never through a base pointer.
if(WIN32)
  target_compile_options(fdx_options INTERFACE -Wno-non-virtual-dtor)
endif()
# GCC 12 reports false -Wrestrict overlaps inside std::string at -O2.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(fdx_options INTERFACE -Wno-restrict)
endif()
# Fuzz builds instrument every library for coverage, not only the targets.
if(FDX_FUZZ)
  target_compile_options(fdx_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
if(FDX_WERROR)
  target_compile_options(fdx_options INTERFACE -Werror)
endif()
if(FDX_SANITIZE)
  target_compile_options(fdx_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(fdx_options INTERFACE -fsanitize=address,undefined)
endif()
