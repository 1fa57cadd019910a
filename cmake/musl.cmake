# SPDX-License-Identifier: MIT
# What every musl toolchain file in cmake/toolchains shares. The ABI's own g++
# (of Debian, for glibc) compiles and links against Debian's musl-dev for the
# ABI, unpacked under BIGFILE_MUSL_ROOT, which the build that adds the ABI
# fetches (see abis.cmake). The binary is always static: it is for systems
# that have no C library of Debian's, and only needs the kernel.
#
# The compiler's own search path holds glibc's headers, so it is replaced:
# the C++ library's headers first, then musl's, then the compiler's own
# (stddef.h, stdarg.h). The tool uses only the header-only parts of the C++
# library, so nothing of libstdc++ is linked. Those headers were configured
# for glibc, and ask __GLIBC_PREREQ(major, minor) whether the C library is a
# glibc of at least that version. On musl the answer is no, so the question
# is defined to say so: each header then takes its path for another C library.
set(BIGFILE_LIBC musl)
if(NOT BIGFILE_MUSL_ROOT)
  return() # read only for what it names (abis.cmake), which then fetches the root
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BIGFILE_MUSL_ROOT)
file(GLOB musl_libc "${BIGFILE_MUSL_ROOT}/usr/lib/*-linux-musl*/libc.a")
if(NOT musl_libc)
  message(FATAL_ERROR "no musl libc.a under BIGFILE_MUSL_ROOT (${BIGFILE_MUSL_ROOT})")
endif()
get_filename_component(musl_lib ${musl_libc} DIRECTORY)
get_filename_component(musl_triplet ${musl_lib} NAME)
set(musl_include ${BIGFILE_MUSL_ROOT}/usr/include/${musl_triplet})

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -xc++ -E -v -
  INPUT_FILE /dev/null OUTPUT_QUIET ERROR_VARIABLE searched COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "\n [^\n]*/c\\+\\+/[^\n]*" cxx_include "${searched}")
string(REPLACE "\n " "" cxx_include "${cxx_include}")
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
  OUTPUT_VARIABLE compiler_include OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(musl_flags -nostdinc)
foreach(directory IN LISTS cxx_include musl_include compiler_include)
  list(APPEND musl_flags -isystem ${directory})
endforeach()
# musl names the large-file calls (open64, off64_t) only when asked to.
list(APPEND musl_flags "'-D__GLIBC_PREREQ(major,minor)=0'" -D_LARGEFILE64_SOURCE)
list(JOIN musl_flags " " musl_flags)
# In the rule itself, not in CMAKE_CXX_FLAGS, which a build may set whole.
# A musl build is for small systems, so it is made for size (-Os, after the
# build type's level), each function and datum in a section of its own, so
# that the link keeps only those used: a tenth of the binary.
set(CMAKE_CXX_COMPILE_OBJECT "<CMAKE_CXX_COMPILER> ${musl_flags} -ffunction-sections \
-fdata-sections -fno-exceptions -fno-asynchronous-unwind-tables <DEFINES> <INCLUDES> <FLAGS> -Os \
-o <OBJECT> -c <SOURCE>")

# The start files (crt1.o, or rcrt1.o for a static PIE) and the C library are
# musl's, found first by -B; the compiler adds its own around them as for any
# static link (crtbeginT.o, or crtbeginS.o), and its runtime, libgcc. The
# data follow the code in the file without padding to a page boundary (a
# small common page size): up to a page less of file, on MIPS 4 KB.
get_filename_component(musl_lib "${musl_lib}" ABSOLUTE)
set(CMAKE_CXX_LINK_EXECUTABLE "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> \
-B${musl_lib}/ -nodefaultlibs -Wl,--gc-sections,-z,common-page-size=64 <OBJECTS> -o <TARGET> <LINK_LIBRARIES> \
-Wl,--start-group -lc -lgcc -lgcc_eh -Wl,--end-group")
