# Hardening and link mode for every binary of the project, set once for the
# whole tree so that no target can miss them. The switches are recorded in the
# binaries (.GCC.command.line) so that the hardening check can read them back.
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)

# Position-independent executables; static ones (BIGFILE_STATIC) as static
# PIEs, so that they keep address randomisation too. The link mode is set here
# rather than by check_pie_supported(), whose -pie would come last on the link
# line and turn a static PIE back into a dynamic one.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
if(BIGFILE_STATIC)
  set(BIGFILE_PIE_LINK -static-pie)
  # A static PIE relocates itself at every start; packed relative relocations
  # take about a tenth off what a run costs. Only static binaries get them: a
  # dynamic one would then need a C library of 2022 or later.
  check_linker_flag(CXX LINKER:-z,pack-relative-relocs BIGFILE_HAVE_PACKED_RELOCS)
  if(BIGFILE_HAVE_PACKED_RELOCS)
    add_link_options(LINKER:-z,pack-relative-relocs)
  endif()
else()
  set(BIGFILE_PIE_LINK -pie)
endif()
add_link_options(${BIGFILE_PIE_LINK})

add_compile_options(-fstack-protector-strong -fstack-clash-protection -frecord-gcc-switches)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86)$")
  add_compile_options(-fcf-protection)
endif()
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
