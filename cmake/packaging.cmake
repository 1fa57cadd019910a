# SPDX-License-Identifier: MIT
# The documents installed beside the tool, and a Debian package and a tarball
# of the whole install: cpack -G DEB, cpack -G TGZ. Both are reproducible:
# built again from the same commit, anywhere, they come out byte for byte the
# same, with a .sha256 beside each.

# The manual page and the changelog go in compressed as Debian wants them,
# with gzip -9n, which records no file name or time. The manual page shows the
# version.
find_program(BIGFILE_GZIP gzip REQUIRED)
configure_file(doc/bigfile.1 ${CMAKE_BINARY_DIR}/versioned/bigfile.1 @ONLY)
set(compressed)
foreach(source IN ITEMS ${CMAKE_BINARY_DIR}/versioned/bigfile.1
                        ${PROJECT_SOURCE_DIR}/packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(copy ${CMAKE_BINARY_DIR}/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND ${BIGFILE_GZIP} -9nf ${copy}
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${copy}.gz)
endforeach()
add_custom_target(compressed-documents ALL DEPENDS ${compressed})
install(FILES ${CMAKE_BINARY_DIR}/bigfile.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
# A musl binary holds musl itself, whose licence asks for its notice to go
# with every copy: Debian's copyright file of musl goes beside the tool's.
if(BIGFILE_LIBC STREQUAL "musl")
  install(FILES ${BIGFILE_MUSL_ROOT}/usr/share/doc/musl/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright.musl)
endif()

set(CPACK_PACKAGE_NAME bigfile)
set(CPACK_PACKAGE_VENDOR "The bigfile developers")
set(BIGFILE_MAINTAINER "The bigfile developers <bigfile@example.org>" CACHE STRING
  "Maintainer of the Debian package: a name and a mail address")
set(CPACK_PACKAGE_CONTACT ${BIGFILE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "give a file an exact length in mebibytes, writing no data")
set(CPACK_PACKAGE_DESCRIPTION [[
bigfile gives the file bigfile in the current directory an exact length in
mebibytes with one 64-bit length call, writing no data itself, and reports
each step. On ext4, xfs, btrfs, f2fs and tmpfs the file grows sparse, so files
of many gigabytes appear at once and take no disk space: useful for testing
large-file support, also on 32-bit systems (i386, armhf, armel, mipsel and
others), where plain file offsets stop at 2 GiB. On vfat and exfat the file
system allocates and zeroes what the file grows by, so the file fills the
volume: useful for testing disk-full handling.]])
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
# The dependencies are read from the binary when cpack runs (depends.cmake):
# dpkg-shlibdeps knows the libraries of this machine's architecture only.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
# The packages hold a stripped binary; the build's own keeps its symbols and
# the recorded switches for the hardening check.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
# Every time recorded in the packages is SOURCE_DATE_EPOCH: the caller's if
# set, else the last commit's, read when cpack runs, else a fixed day for a
# tree outside git. repack.cmake then takes out what staging put in.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/repack.cmake)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE}.in @ONLY CONTENT [[
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "@PROJECT_SOURCE_DIR@" log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
  if(NOT status STREQUAL "0" OR NOT epoch MATCHES "^[0-9]+$")
    set(epoch 1796688000) # 2026-12-08, the first release
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
if(CPACK_GENERATOR STREQUAL "DEB")
  include("@PROJECT_SOURCE_DIR@/cmake/depends.cmake")
  bigfile_debian_depends("@CMAKE_READELF@" "$<TARGET_FILE:bigfile>" CPACK_DEBIAN_PACKAGE_DEPENDS)
endif()
]])
file(GENERATE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} INPUT ${CPACK_PROJECT_CONFIG_FILE}.in)
include(CPack)

# cmake --build ... --target tarballs: the tarball of this build and of each
# of its other ABIs, side by side in packages/. In a static build these are
# the binaries that run on a machine of their architecture with no library.
add_custom_target(tarballs)
function(bigfile_add_tarball target build_dir abi)
  add_dependencies(tarballs ${target})
  add_custom_command(TARGET tarballs POST_BUILD
    COMMAND ${CMAKE_CPACK_COMMAND} -G TGZ --config ${build_dir}/CPackConfig.cmake
            -B ${CMAKE_BINARY_DIR}/packages
    COMMENT "Packing the ${abi} tarball")
endfunction()
# This build's own tarball is added with the other ABIs' (abis.cmake), which
# know whether a musl build stands for it.

# cmake --build ... --target packages (BIGFILE_PACKAGES): the Debian package
# of each dynamic build and the tarball of each static one, this build's and
# its other ABIs', each with a .sha256 beside it, in dist/, and SHA256SUMS
# over all of them (bigfile_finish_packages, once every build is added).
add_custom_target(packages)
set(BIGFILE_DIST ${CMAKE_BINARY_DIR}/dist)
add_custom_command(TARGET packages PRE_BUILD
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${BIGFILE_DIST} ${CMAKE_BINARY_DIR}/packing)
function(bigfile_add_packages target build_dir static)
  if(NOT BIGFILE_PACKAGES)
    return()
  endif()
  set(generator DEB)
  if(static)
    set(generator TGZ)
  endif()
  add_dependencies(packages ${target})
  add_custom_command(TARGET packages POST_BUILD
    COMMAND ${CMAKE_CPACK_COMMAND} -G ${generator} --config ${build_dir}/CPackConfig.cmake
            -B ${CMAKE_BINARY_DIR}/packing -D CPACK_OUTPUT_FILE_PREFIX=${BIGFILE_DIST}
    COMMENT "Packing ${target} (${generator})")
endfunction()
bigfile_add_packages(bigfile ${CMAKE_BINARY_DIR} ${BIGFILE_STATIC})

function(bigfile_finish_packages skipped)
  string(REPLACE ";" "\n" skipped "${skipped}")
  file(WRITE ${CMAKE_BINARY_DIR}/not-packed.txt "${skipped}")
  add_custom_command(TARGET packages POST_BUILD
    COMMAND ${CMAKE_COMMAND} -D dist=${BIGFILE_DIST}
            -D skipped=${CMAKE_BINARY_DIR}/not-packed.txt
            -P ${PROJECT_SOURCE_DIR}/cmake/checksums.cmake
    VERBATIM)
endfunction()
