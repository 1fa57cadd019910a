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
  # It must link, and name no program interpreter: GCC's ARM and MIPS link
  # rules name one even for a static PIE, which then cannot start.
  if(NOT DEFINED BIGFILE_HAVE_STATIC_PIE)
    set(probe ${CMAKE_BINARY_DIR}/static-pie-probe)
    file(WRITE ${probe}.cpp "int main() { return 0; }\n")
    try_compile(linked ${probe}.dir SOURCES ${probe}.cpp LINK_OPTIONS -static-pie
      COPY_FILE ${probe})
    set(interpreter "")
    if(linked)
      file(STRINGS ${probe} interpreter REGEX "^/lib[^ ]*/ld[-.]" LIMIT_COUNT 1)
    endif()
    if(linked AND NOT interpreter)
      set(BIGFILE_HAVE_STATIC_PIE ON CACHE INTERNAL "Whether static PIEs can be made")
    else()
      set(BIGFILE_HAVE_STATIC_PIE OFF CACHE INTERNAL "Whether static PIEs can be made")
    endif()
    message(STATUS "Static PIEs: ${BIGFILE_HAVE_STATIC_PIE} ${interpreter}")
  endif()
  set(link_mode -static)
  if(BIGFILE_HAVE_STATIC_PIE)
    set(link_mode -static-pie)
    # A static PIE relocates itself at every start; packed relative
    # relocations take about a tenth off what a run costs. Only static PIEs
    # get them: a dynamic binary would then need a C library of 2022 or
    # later, and a plain static one has no relocations to pack.
    # The arm64 linker takes the switch with only a warning that it ignores it.
    # musl's start file reads no packed relocations before its release 1.2.4,
    # and Debian 12 has 1.2.3: a musl binary keeps the plain ones.
    set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie LINKER:-z,pack-relative-relocs)
    check_cxx_source_compiles("int main() { return 0; }" BIGFILE_HAVE_PACKED_RELOCS
      FAIL_REGEX "pack-relative-relocs ignored")
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(BIGFILE_HAVE_PACKED_RELOCS AND NOT BIGFILE_LIBC STREQUAL "musl")
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
# musl makes nothing read-only after start-up in a static binary: it has no
# dynamic linker, and its start files do not read the RELRO segment. There a
# RELRO segment would be a promise not kept, and on MIPS it would cost its
# page-aligned padding, 8 KB of a 60 KB binary; so a musl binary has none,
# and the hardening check is told (BIGFILE_RELRO).
if(BIGFILE_LIBC STREQUAL "musl")
  set(relro norelro)
else()
  set(relro relro)
endif()
set(BIGFILE_RELRO ${relro} CACHE INTERNAL "Whether the binaries have a RELRO segment")
add_link_options(LINKER:-z,${relro} LINKER:-z,now LINKER:-z,noexecstack)

# Level 3 needs __builtin_dynamic_object_size. The checks only work with the
# optimiser on, and glibc warns about them without it. musl has no checked
# variants of the calls (no __printf_chk), so there the level is none: said,
# and cached for the hardening check like the rest.
check_cxx_source_compiles([[
  #if !defined(__has_builtin) || !__has_builtin(__builtin_dynamic_object_size)
  #error no __builtin_dynamic_object_size
  #endif
  int main() { return 0; }
]] BIGFILE_HAVE_FORTIFY_3)
if(BIGFILE_LIBC STREQUAL "musl")
  set(fortify_level none)
elseif(BIGFILE_HAVE_FORTIFY_3)
  set(fortify_level 3)
else()
  set(fortify_level 2)
endif()
set(BIGFILE_FORTIFY_LEVEL ${fortify_level} CACHE INTERNAL "The _FORTIFY_SOURCE level, or none")
if(NOT fortify_level STREQUAL "none")
  add_compile_options(
    "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${fortify_level}>")
endif()
