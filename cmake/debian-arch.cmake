# SPDX-License-Identifier: MIT
# The Debian architecture of the binaries, from the compiler's target: it
# names the ABI in the tests and the packages, also in a cross build.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
  OUTPUT_VARIABLE target OUTPUT_STRIP_TRAILING_WHITESPACE)
set(BIGFILE_DEBIAN_ARCH ${CMAKE_SYSTEM_PROCESSOR})
foreach(pair IN ITEMS "^x86_64-=amd64" "^i[3-6]86-=i386" "^arm.*-gnueabihf$=armhf"
                      "^arm.*-gnueabi$=armel" "^aarch64-=arm64" "^powerpc-=powerpc"
                      "^powerpc64le-=ppc64el" "^riscv64-=riscv64" "^s390x-=s390x"
                      "^mips-=mips" "^mipsel-=mipsel" "^mips64el-.*abi64$=mips64el"
                      "^hppa-=hppa" "^m68k-=m68k")
  string(REPLACE "=" ";" pair ${pair})
  list(GET pair 0 pattern)
  if(target MATCHES "${pattern}")
    list(GET pair 1 BIGFILE_DEBIAN_ARCH)
    break()
  endif()
endforeach()
# The ABI names the tests: the architecture, and its C library where that is
# not Debian's own.
set(BIGFILE_ABI ${BIGFILE_DEBIAN_ARCH})
if(BIGFILE_LIBC STREQUAL "musl")
  set(BIGFILE_ABI ${BIGFILE_DEBIAN_ARCH}-musl)
endif()
