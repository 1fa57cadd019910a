# SPDX-License-Identifier: MIT
# A Debian package and a tarball of the default install (the tool and its
# manual page): cpack -G DEB, cpack -G TGZ.

# The Debian architecture of the binaries, from the compiler's target: it
# names the ABI in the tests and the packages, also in a cross build.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
  OUTPUT_VARIABLE target OUTPUT_STRIP_TRAILING_WHITESPACE)
set(BIGFILE_DEBIAN_ARCH ${CMAKE_SYSTEM_PROCESSOR})
foreach(pair IN ITEMS "^x86_64-=amd64" "^i[3-6]86-=i386" "^arm.*-gnueabihf$=armhf"
                      "^arm.*-gnueabi$=armel" "^aarch64-=arm64" "^powerpc-=powerpc"
                      "^powerpc64le-=ppc64el" "^riscv64-=riscv64" "^s390x-=s390x")
  string(REPLACE "=" ";" pair ${pair})
  list(GET pair 0 pattern)
  if(target MATCHES "${pattern}")
    list(GET pair 1 BIGFILE_DEBIAN_ARCH)
    break()
  endif()
endforeach()

set(CPACK_PACKAGE_NAME bigfile)
set(CPACK_PACKAGE_VENDOR "The bigfile developers")
set(CPACK_PACKAGE_CONTACT "The bigfile developers <bigfile@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "make a sparse file of an exact length in mebibytes")
set(CPACK_PACKAGE_DESCRIPTION [[
bigfile gives the file bigfile in the current directory an exact length in
mebibytes with one 64-bit length call, writing no data, and reports each step.
A file that grows becomes sparse, so files of many gigabytes appear at once:
useful for testing large-file support, quotas and disk-full handling, also on
32-bit x86 systems, where plain file offsets stop at 2 GiB.]])
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_SOURCE_GENERATOR TGZ)
# The tarball names the Debian architecture, and says when the binary in it
# needs no libraries at all.
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${BIGFILE_DEBIAN_ARCH})
if(BIGFILE_STATIC)
  string(APPEND CPACK_PACKAGE_FILE_NAME -static)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${BIGFILE_DEBIAN_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES OFF)
include(CPack)

# cmake --build ... --target tarballs: the tarball of this build and of each
# of its other ABIs, side by side in packages/. In a static build these are
# the binaries that run on a machine of their architecture with no library.
add_custom_target(tarballs
  COMMAND ${CMAKE_CPACK_COMMAND} -G TGZ --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -B ${CMAKE_BINARY_DIR}/packages
  DEPENDS bigfile
  COMMENT "Packing the ${BIGFILE_DEBIAN_ARCH} tarball")
