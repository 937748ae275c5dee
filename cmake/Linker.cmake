# Links with gold (part of binutils, so always beside the compiler) where the
# toolchain takes it: the test executables carry a lot of debug information,
# and a build links about a hundred of them, which ccache cannot spare.
# FDX_FAST_LINK=OFF keeps the default linker.
option(FDX_FAST_LINK "Link with gold when the toolchain takes it" ON)
if(FDX_FAST_LINK AND NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  include(CheckLinkerFlag)
  check_linker_flag(CXX "-fuse-ld=gold" FDX_LINKER_GOLD)
  if(FDX_LINKER_GOLD)
    add_link_options(-fuse-ld=gold)
  endif()
endif()
