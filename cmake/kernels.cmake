# SPDX-License-Identifier: MIT
# The table inside a real kernel. qemu-user hands every system call to the
# host's 64-bit kernel, so a 32-bit kernel's own large-file checks never run
# under it; here Debian's own kernel of the build's ABI boots under
# qemu-system with the build's binary, and every case runs there, on tmpfs
# and on a fresh volume of each file system in tests/filesystems.py.
#
# The build fetches the kernel and the guest's programs from this machine's
# apt sources into BIGFILE_GUEST_CACHE (tests/guest.py fetch); ctest boots the
# guest once, as the test ARCH-kernel/boot, and shows each case's result as
# ARCH-kernel/CASE (tmpfs) or ARCH-kernel/FILESYSTEM/CASE. Adding an ABI's
# kernel takes one file in cmake/kernels, named for its Debian architecture.
include_guard(GLOBAL)

set(BIGFILE_GUEST_PACKAGES busybox python3 strace util-linux libstdc++6)

# Registers the guest's tests for this build's binary, if BIGFILE_KERNELS
# names its ABI. case_names: the table's cases.
function(bigfile_add_kernel_tests cases_names)
  set(arch ${BIGFILE_DEBIAN_ARCH})
  set(entry ${PROJECT_SOURCE_DIR}/cmake/kernels/${arch}.cmake)
  set(kernels ${BIGFILE_KERNELS})
  if(kernels STREQUAL "all")
    file(GLOB kernels RELATIVE ${PROJECT_SOURCE_DIR}/cmake/kernels
      ${PROJECT_SOURCE_DIR}/cmake/kernels/*.cmake)
    list(TRANSFORM kernels REPLACE "\\.cmake$" "")
  endif()
  if(NOT arch IN_LIST kernels OR NOT EXISTS ${entry})
    return()
  endif()
  # The guests share the machine's processors: one alone gets them all, and
  # runs that many file systems' tables at a time; ctest counts them.
  cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
  list(LENGTH kernels guests)
  math(EXPR processors "${cores} / ${guests}")
  if(processors LESS 1)
    set(processors 1)
  endif()
  include(${entry})
  set(name ${arch}-kernel)

  list(GET BIGFILE_KERNEL_QEMU 0 qemu)
  find_program(BIGFILE_QEMU_SYSTEM ${qemu})
  find_program(BIGFILE_MMDEBSTRAP mmdebstrap)
  set(missing "")
  if(NOT BIGFILE_QEMU_SYSTEM)
    list(APPEND missing ${BIGFILE_KERNEL_QEMU_PACKAGE})
  endif()
  if(NOT BIGFILE_MMDEBSTRAP)
    list(APPEND missing mmdebstrap)
  endif()
  if(missing)
    list(JOIN missing " " packages)
    message(STATUS "${name}: the cases do not run in the real kernel: apt-get install ${packages}")
    if(BIGFILE_REQUIRE_ABIS)
      message(FATAL_ERROR "BIGFILE_REQUIRE_ABIS is on, but ${name} needs ${packages}")
    endif()
    bigfile_add_skipped_test(${name}/needs-${packages} "apt-get install ${packages}")
    return()
  endif()
  message(STATUS "${name}: the cases run in ${BIGFILE_KERNEL_PACKAGE} under ${qemu}")

  set(guest ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(guest_py ${PROJECT_SOURCE_DIR}/tests/guest.py)
  set(required "")
  if(BIGFILE_REQUIRE_ABIS)
    set(required --required)
  endif()
  add_custom_target(${name}-root ALL
    COMMAND ${Python3_EXECUTABLE} ${guest_py} fetch ${arch} ${BIGFILE_KERNEL_PACKAGE}
      ${BIGFILE_GUEST_PACKAGES} --cache ${BIGFILE_GUEST_CACHE} --stamp ${guest}/root
      ${required}
    COMMENT "Fetching ${BIGFILE_KERNEL_PACKAGE} and the guest's programs, unless cached"
    VERBATIM)

  execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/filesystems.py --names
    OUTPUT_VARIABLE filesystems OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" filesystems "${filesystems}")
  set(results "")
  foreach(filesystem IN LISTS filesystems)
    list(TRANSFORM cases_names PREPEND ${filesystem}/ OUTPUT_VARIABLE cases)
    list(APPEND results ${cases})
  endforeach()

  # ctest reads this when it runs, so that a guest whose packages could not
  # be fetched shows as one skipped test that says why.
  list(JOIN BIGFILE_KERNEL_QEMU "\" \"" qemu_words)
  set(label "${name} ${BIGFILE_KERNEL_PACKAGE} under ${qemu}")
  string(CONFIGURE [[
if(NOT EXISTS "@guest@/root")
  add_test(@name@/fetched "@CMAKE_COMMAND@" -E false)
else()
  file(READ "@guest@/root" root)
  if(root MATCHES "^skipped:")
    add_test(@name@/not-run "@CMAKE_COMMAND@" -E echo "${root}")
    set_tests_properties(@name@/not-run PROPERTIES SKIP_REGULAR_EXPRESSION "skipped:")
  else()
    add_test(@name@/boot "@Python3_EXECUTABLE@" "@guest_py@" boot --stamp "@guest@/root"
      --binary "$<TARGET_FILE:bigfile>" --kernel @arch@ --console @BIGFILE_KERNEL_CONSOLE@
      --results "@guest@/results" --seconds 1200 --processors @processors@ -- "@qemu_words@")
    set_tests_properties(@name@/boot PROPERTIES FIXTURES_SETUP @name@ TIMEOUT 1500
      PROCESSORS @processors@
      COST 1000 LABELS "@label@" SKIP_RETURN_CODE 77)
    # Each case's result is a file that the boot wrote; the guest's own tmpfs
    # goes without a name: ARCH-kernel/CASE.
    foreach(result IN ITEMS @results@)
      string(REGEX REPLACE "^tmpfs/" "" test ${result})
      add_test(@name@/${test} "@CMAKE_COMMAND@" -E cat "@guest@/results/${result}")
      set_tests_properties(@name@/${test} PROPERTIES FIXTURES_REQUIRED @name@
        LABELS "@label@" PASS_REGULAR_EXPRESSION "^ok: " SKIP_REGULAR_EXPRESSION "^skipped: ")
    endforeach()
  endif()
endif()
]] include_file @ONLY)
  file(GENERATE OUTPUT ${guest}/tests.cmake CONTENT "${include_file}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${guest}/tests.cmake)
endfunction()
