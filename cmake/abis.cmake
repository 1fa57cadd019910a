# SPDX-License-Identifier: MIT
# The other ABIs: each is this same project built with its toolchain file in
# cmake/toolchains as an external project under abi/NAME, with the same
# options, and with its own table of cases, which ctest runs with this one.
# Adding an ABI takes a toolchain file and its name in this list.
set(BIGFILE_KNOWN_ABIS
  i386 armhf armel mipsel arm64 mips64el ppc64el s390x # Debian 12 release architectures
  powerpc mips hppa m68k riscv64                       # ports, and riscv64, not in Debian 12
  # Static builds on musl, for every architecture that Debian has musl-dev for:
  # each is the static tarball of its architecture.
  amd64-musl i386-musl armhf-musl armel-musl mipsel-musl arm64-musl mips64el-musl ppc64el-musl
  s390x-musl)

include(ExternalProject)
include(${CMAKE_CURRENT_LIST_DIR}/testing.cmake)

set(abis ${BIGFILE_ABIS})
if(abis STREQUAL "all")
  set(abis ${BIGFILE_KNOWN_ABIS})
endif()

# What the toolchain file of an ABI names, read in a function's scope so that
# it does not become this build's: the compiler, its Debian package, the
# emulator program, and for a musl build the release whose musl-dev it takes.
function(bigfile_read_toolchain toolchain)
  include(${toolchain})
  list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 emulator)
  set(abi_compiler ${CMAKE_CXX_COMPILER} PARENT_SCOPE)
  set(package g++-${BIGFILE_TRIPLET})
  if(NOT BIGFILE_TRIPLET)
    set(package g++) # the host's own compiler, under its target's name
  endif()
  set(abi_package ${package} PARENT_SCOPE)
  set(abi_emulator ${emulator} PARENT_SCOPE)
  set(abi_libc "${BIGFILE_LIBC}" PARENT_SCOPE)
  set(abi_musl_release "${BIGFILE_MUSL_RELEASE}" PARENT_SCOPE)
endfunction()

# This project built once more under abi/NAME, with the toolchain file (none:
# the host's compiler) and the same options, static or not; its tarball joins
# the tarballs target, and its packages the packages target, unless musl's
# static build of its architecture stands for it there. A musl build is
# given its musl root (the ARGV3), and boots no kernels: the guests of its
# architecture's glibc build run it.
function(bigfile_add_build name toolchain static)
  set(binary_dir ${CMAKE_BINARY_DIR}/abi/${name})
  set(musl_root "${ARGV3}")
  set(kernels "${BIGFILE_KERNELS}")
  if(musl_root)
    set(kernels "")
  endif()
  # The glibc build's guests run its architecture's musl build too.
  string(REGEX REPLACE "-(static|musl)$" "" arch ${name})
  set(musl_binary "")
  if(NOT musl_root AND arch IN_LIST musl_arches AND "${arch}-musl" IN_LIST abis)
    set(musl_binary ${CMAKE_BINARY_DIR}/abi/${arch}-musl/bigfile)
  endif()
  ExternalProject_Add(bigfile-${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${binary_dir}
    PREFIX ${CMAKE_BINARY_DIR}/abi/.${name}
    CMAKE_CACHE_ARGS
      -DCMAKE_TOOLCHAIN_FILE:FILEPATH=${toolchain}
      -DCMAKE_BUILD_TYPE:STRING=${CMAKE_BUILD_TYPE}
      -DCMAKE_CXX_FLAGS:STRING=${CMAKE_CXX_FLAGS}
      -DCMAKE_EXE_LINKER_FLAGS:STRING=${CMAKE_EXE_LINKER_FLAGS}
      -DBUILD_TESTING:BOOL=${BUILD_TESTING}
      -DBIGFILE_WERROR:BOOL=${BIGFILE_WERROR}
      -DBIGFILE_STATIC:BOOL=${static}
      -DBIGFILE_REQUIRE_ABIS:BOOL=${BIGFILE_REQUIRE_ABIS}
      -DBIGFILE_EMULATE:BOOL=${BIGFILE_EMULATE}
      "-DBIGFILE_KERNELS:STRING=${kernels}"
      -DBIGFILE_GUEST_CACHE:PATH=${BIGFILE_GUEST_CACHE}
      -DBIGFILE_MUSL_ROOT:PATH=${musl_root}
      -DBIGFILE_MUSL_BINARY:FILEPATH=${musl_binary}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  # Configure at every build, so that a compiler or emulator installed since
  # the last one is found, and the choice of runner is made afresh.
  ExternalProject_Add_Step(bigfile-${name} reconsider
    COMMAND ${CMAKE_COMMAND} -E true DEPENDERS configure ALWAYS TRUE)
  if(musl_root OR NOT static OR NOT arch IN_LIST musl_arches)
    bigfile_add_tarball(bigfile-${name} ${binary_dir} ${name})
    bigfile_add_packages(bigfile-${name} ${binary_dir} ${static})
  endif()
endfunction()

# A test that shows in ctest's summary as skipped, named for what is missing.
function(bigfile_skip_abi abi what)
  message(STATUS "${abi}: not built, ${what} is missing (apt-get install ${what})")
  set_property(GLOBAL APPEND PROPERTY BIGFILE_NOT_BUILT "${abi}, for want of ${what}")
  if(BIGFILE_REQUIRE_ABIS)
    message(FATAL_ERROR "BIGFILE_REQUIRE_ABIS is on, but ${abi} needs ${what}")
  endif()
  if(BUILD_TESTING)
    bigfile_add_skipped_test(${abi}/needs-${what} "apt-get install ${what}")
  endif()
endfunction()

# Each musl build's root of Debian's musl-dev for its architecture, fetched
# side by side, since each is a download of its own. musl_arches: the
# architectures that have one, whose static tarball it then makes.
set(musl_arches "")
set(fetches "")
find_package(Python3 3.7 REQUIRED COMPONENTS Interpreter)
foreach(abi IN LISTS abis)
  if(abi MATCHES "^(.*)-musl$" AND EXISTS ${PROJECT_SOURCE_DIR}/cmake/toolchains/${abi}.cmake)
    set(arch ${CMAKE_MATCH_1})
    bigfile_read_toolchain(${PROJECT_SOURCE_DIR}/cmake/toolchains/${abi}.cmake)
    set(stamp ${CMAKE_BINARY_DIR}/abi/${abi}.root)
    file(REMOVE ${stamp})
    set(release "")
    if(abi_musl_release)
      set(release "--release ${abi_musl_release}")
    endif()
    set(required "")
    if(BIGFILE_REQUIRE_ABIS)
      set(required --required)
    endif()
    string(APPEND fetches "'${Python3_EXECUTABLE}' '${PROJECT_SOURCE_DIR}/cmake/debian-root.py' "
      "${arch} musl-dev ${release} ${required} --cache '${BIGFILE_GUEST_CACHE}' "
      "--stamp '${stamp}' >'${stamp}.log' 2>&1 </dev/null &\n")
  endif()
endforeach()
if(fetches)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/abi)
  execute_process(COMMAND sh -c "${fetches}wait")
endif()
foreach(abi IN LISTS abis)
  set(stamp ${CMAKE_BINARY_DIR}/abi/${abi}.root)
  if(EXISTS ${stamp})
    file(STRINGS ${stamp} root LIMIT_COUNT 1)
    set(BIGFILE_${abi}_MUSL_ROOT "${root}")
    if(NOT root MATCHES "^skipped: ")
      string(REGEX REPLACE "-musl$" "" arch ${abi})
      list(APPEND musl_arches ${arch})
    endif()
  endif()
endforeach()

if(NOT BIGFILE_STATIC OR NOT BIGFILE_DEBIAN_ARCH IN_LIST musl_arches)
  bigfile_add_tarball(bigfile ${CMAKE_BINARY_DIR} ${BIGFILE_DEBIAN_ARCH})
endif()
if(BIGFILE_PACKAGES AND NOT BIGFILE_DEBIAN_ARCH IN_LIST musl_arches)
  bigfile_add_build(${BIGFILE_DEBIAN_ARCH}-static "" ON)
endif()
foreach(abi IN LISTS abis)
  set(toolchain ${PROJECT_SOURCE_DIR}/cmake/toolchains/${abi}.cmake)
  if(NOT EXISTS ${toolchain})
    message(FATAL_ERROR "BIGFILE_ABIS names ${abi}, which has no toolchain file ${toolchain}")
  endif()
  bigfile_read_toolchain(${toolchain})
  find_program(BIGFILE_${abi}_COMPILER ${abi_compiler})
  find_program(BIGFILE_${abi}_EMULATOR ${abi_emulator})
  if(NOT BIGFILE_${abi}_COMPILER)
    bigfile_skip_abi(${abi} ${abi_package})
    continue()
  endif()
  # Without the emulator the ABI can still be built and, where the kernel
  # runs it, tested: its own table says which.
  if(NOT BIGFILE_${abi}_EMULATOR AND BIGFILE_REQUIRE_ABIS)
    message(FATAL_ERROR "BIGFILE_REQUIRE_ABIS is on, but ${abi} needs ${abi_emulator} "
                        "(apt-get install qemu-user)")
  endif()

  if(abi_libc STREQUAL "musl")
    set(stamp ${CMAKE_BINARY_DIR}/abi/${abi}.root)
    if(NOT EXISTS ${stamp})
      file(READ ${stamp}.log fetch_output)
      message(FATAL_ERROR "${abi}: musl-dev could not be fetched:\n${fetch_output}")
    elseif(BIGFILE_${abi}_MUSL_ROOT MATCHES "^skipped: (.*)")
      # Not even BIGFILE_REQUIRE_ABIS makes this an error: the mirror's
      # answer was final, and the glibc build stays the static one.
      message(STATUS "${abi}: not built, Debian's musl-dev could not be had: ${CMAKE_MATCH_1}")
      if(BUILD_TESTING)
        bigfile_add_skipped_test(${abi}/needs-musl-dev "${CMAKE_MATCH_1}")
      endif()
      continue()
    endif()
    bigfile_add_build(${abi} ${toolchain} ON ${BIGFILE_${abi}_MUSL_ROOT})
  else()
    bigfile_add_build(${abi} ${toolchain} ${BIGFILE_STATIC})
    if(BIGFILE_PACKAGES AND NOT abi IN_LIST musl_arches)
      bigfile_add_build(${abi}-static ${toolchain} ON)
    endif()
  endif()
  set(binary_dir ${CMAKE_BINARY_DIR}/abi/${abi})

  # ctest reads the ABI's own table from its build; before that build exists,
  # the ABI shows as one failing test rather than as nothing at all.
  if(BUILD_TESTING)
    set(include_file ${CMAKE_BINARY_DIR}/abi/${abi}-tests.cmake)
    file(CONFIGURE OUTPUT ${include_file} @ONLY CONTENT [[
if(EXISTS "@binary_dir@/CTestTestfile.cmake")
  subdirs("@binary_dir@")
else()
  add_test(@abi@/built "@CMAKE_COMMAND@" -E false)
endif()
]])
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
  endif()
endforeach()
if(BIGFILE_PACKAGES)
  get_property(not_built GLOBAL PROPERTY BIGFILE_NOT_BUILT)
  bigfile_finish_packages("${not_built}")
endif()
