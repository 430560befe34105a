# Hardening for every program built here, set where each toolchain's own
# defaults cannot collide with it: Debian's g++ already makes PIE, Ubuntu's
# already sets _FORTIFY_SOURCE, and binutils 2.36 and later already mark
# Windows executables; none of it is left to chance.

if(WIN32)
  # ASLR with 64-bit entropy and a non-executable stack and heap, asked for
  # by name: older binutils leave all three out.
  add_link_options(-Wl,--dynamicbase,--high-entropy-va,--nxcompat)
  return()
endif()

# PIE unless the build asks otherwise: the static builds the test VM runs
# (the system presets) turn it off, since a static-pie binary needs a C
# library built for it, and need no PIE check. Where the linker cannot make
# PIE, a build that did not ask for it goes on without it (said once); one
# that asked for it explicitly stops.
if(NOT DEFINED CMAKE_POSITION_INDEPENDENT_CODE OR CMAKE_POSITION_INDEPENDENT_CODE)
  include(CheckPIESupported)
  check_pie_supported(OUTPUT_VARIABLE pie_message LANGUAGES CXX)
  if(CMAKE_CXX_LINK_PIE_SUPPORTED)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  elseif(DEFINED CMAKE_POSITION_INDEPENDENT_CODE)
    message(FATAL_ERROR "CMAKE_POSITION_INDEPENDENT_CODE is ON, but the linker cannot make "
                        "position-independent executables: ${pie_message}")
  else()
    message(WARNING "The linker cannot make position-independent executables: building without PIE. "
                    "(-DCMAKE_POSITION_INDEPENDENT_CODE=ON makes this an error.)")
    set(CMAKE_POSITION_INDEPENDENT_CODE OFF)
  endif()
endif()

add_compile_options(-fstack-protector-strong)
add_link_options(-Wl,-z,relro,-z,now)

# _FORTIFY_SOURCE works only when optimising (glibc warns otherwise, and a
# build without a type does not optimise). A compiler that sets it itself when
# optimising (Ubuntu's g++ sets 3) keeps its own level when that is 2 or more;
# any other gets 2, undefined first so that no earlier definition collides
# with it.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS -O2)
set(CMAKE_REQUIRED_QUIET ON)
check_cxx_source_compiles([[
#if !defined(_FORTIFY_SOURCE) || _FORTIFY_SOURCE < 2
#error the compiler does not fortify by itself
#endif
int main() { return 0; }
]] TAVOCTL_COMPILER_FORTIFIES)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_QUIET)
if(NOT TAVOCTL_COMPILER_FORTIFIES)
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
