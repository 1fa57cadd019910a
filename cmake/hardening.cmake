# SPDX-License-Identifier: MIT
# Hardening and link mode for every binary of the project, set once for the
# whole tree so that no target can miss them. The switches are recorded in the
# binaries (.GCC.command.line) so that the hardening check can read them back.
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)

# Position-independent executables. The link mode is set here rather than by
# check_pie_supported(), whose -pie would come last on the link line and turn
# a static PIE back into a dynamic one. Static binaries (BIGFILE_STATIC) are
# static PIEs where the C library has the start file for them (rcrt1.o), so
# that they keep address randomisation too; Debian's armhf and powerpc cross
# libraries lack it, and there they are plain static executables. The mode is
# cached for the hardening check, which expects what the build could do.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
if(BIGFILE_STATIC)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
  check_cxx_source_compiles("int main() { return 0; }" BIGFILE_HAVE_STATIC_PIE)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  set(link_mode -static)
  if(BIGFILE_HAVE_STATIC_PIE)
    set(link_mode -static-pie)
    # A static PIE relocates itself at every start; packed relative
    # relocations take about a tenth off what a run costs. Only static PIEs
    # get them: a dynamic binary would then need a C library of 2022 or
    # later, and a plain static one has no relocations to pack.
    # The arm64 linker takes the switch with only a warning that it ignores it.
    set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie LINKER:-z,pack-relative-relocs)
    check_cxx_source_compiles("int main() { return 0; }" BIGFILE_HAVE_PACKED_RELOCS
      FAIL_REGEX "pack-relative-relocs ignored")
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(BIGFILE_HAVE_PACKED_RELOCS)
      add_link_options(LINKER:-z,pack-relative-relocs)
    endif()
  endif()
else()
  set(link_mode -pie)
endif()
set(BIGFILE_LINK_MODE ${link_mode} CACHE INTERNAL "How the binaries are linked")
add_link_options(${BIGFILE_LINK_MODE})

# Each protection that the target has. Control-flow protection exists on x86
# only, and hppa, whose stack grows upwards, has neither stack protector nor
# stack-clash protection; GCC merely warns about them there, hence -Werror.
# The flags are cached for the hardening check, which expects these.
set(hardening_flags "")
set(CMAKE_REQUIRED_FLAGS -Werror)
foreach(flag IN ITEMS -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "BIGFILE_HAVE${flag}" have)
  check_cxx_compiler_flag(${flag} ${have})
  if(${have})
    list(APPEND hardening_flags ${flag})
  endif()
endforeach()
unset(CMAKE_REQUIRED_FLAGS)
set(BIGFILE_HARDENING_FLAGS "${hardening_flags}" CACHE INTERNAL "The protections compiled in")
add_compile_options(${hardening_flags} -frecord-gcc-switches)
add_link_options(LINKER:-z,relro LINKER:-z,now LINKER:-z,noexecstack)

# Level 3 needs __builtin_dynamic_object_size. The checks only work with the
# optimiser on, and glibc warns about them without it.
check_cxx_source_compiles([[
  #if !defined(__has_builtin) || !__has_builtin(__builtin_dynamic_object_size)
  #error no __builtin_dynamic_object_size
  #endif
  int main() { return 0; }
]] BIGFILE_HAVE_FORTIFY_3)
if(BIGFILE_HAVE_FORTIFY_3)
  set(BIGFILE_FORTIFY_LEVEL 3)
else()
  set(BIGFILE_FORTIFY_LEVEL 2)
endif()
add_compile_options(
  "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${BIGFILE_FORTIFY_LEVEL}>")
