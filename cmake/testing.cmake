# SPDX-License-Identifier: MIT
# Helpers for registering the end-to-end cases of a build.
include_guard(GLOBAL)

# A test that shows in ctest's summary as skipped, saying why.
function(bigfile_add_skipped_test name reason)
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "skipped: ${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "skipped:")
endfunction()

# How the cases run this build's binary: directly where the kernel can run
# its ABI, else under the toolchain's emulator; BIGFILE_EMULATE chooses the
# emulator always. A small program linked as the tool is tells: a cross build
# for another processor, or one for i386 on a kernel without IA32 support,
# fails to start. A binary that starts only because binfmt_misc hands it to
# qemu counts as emulated, since the system calls that the cases read are then
# qemu's own. Sets, in the caller's scope, runner (the command to run the
# binary under, empty when native), how (for the label), note (what the run
# says of its runner), and not_run (why the cases cannot run, if they cannot)
# with needs (the package that would let them, if one would).
function(bigfile_choose_runner)
  set(runner "")
  set(how natively)
  set(note "")
  if(CMAKE_CROSSCOMPILING)
    set(probe ${CMAKE_CURRENT_BINARY_DIR}/probe)
    file(WRITE ${probe}.cpp "int main() { return 0; }\n")
    try_compile(probe_built ${probe}.dir SOURCES ${probe}.cpp
      LINK_OPTIONS ${BIGFILE_LINK_MODE} COPY_FILE ${probe})
    set(probe_status "not built")
    if(probe_built)
      execute_process(COMMAND ${probe} RESULT_VARIABLE probe_status OUTPUT_QUIET ERROR_QUIET)
    endif()
    list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 emulator)
    get_filename_component(emulator_name "${emulator}" NAME)
    set(handler_state "")
    if(emulator_name AND EXISTS /proc/sys/fs/binfmt_misc/${emulator_name})
      file(STRINGS /proc/sys/fs/binfmt_misc/${emulator_name} handler_state LIMIT_COUNT 1)
    endif()
    if(NOT probe_status EQUAL 0 OR handler_state STREQUAL "enabled" OR BIGFILE_EMULATE)
      set(how "under ${emulator_name}")
      find_program(BIGFILE_EMULATOR "${emulator}")
      if(NOT BIGFILE_EMULATOR)
        set(not_run "the kernel cannot run them, and ${emulator} is missing "
                    "(apt-get install qemu-user)")
        set(needs qemu-user PARENT_SCOPE)
      elseif(CMAKE_CXX_FLAGS MATCHES "-fsanitize=[^ ]*address")
        set(not_run "AddressSanitizer hangs under ${emulator_name}")
      else()
        bigfile_emulator_runner()
      endif()
    endif()
  endif()
  set(runner "${runner}" PARENT_SCOPE)
  set(how "${how}" PARENT_SCOPE)
  set(note "${note}" PARENT_SCOPE)
  if(DEFINED not_run)
    set(not_run "${not_run}" PARENT_SCOPE)
  endif()
endfunction()

# The emulator runs a dynamically linked binary on the C library that the
# ABI's own Debian users have, fetched from this machine's release: the cross
# toolchain's copy is built otherwise, and under Debian 12's qemu-i386 the
# child of a program that forks never starts on it. Where that library cannot
# be had (no mmdebstrap, no mirror, an architecture that the release lacks),
# the cross toolchain's copy stands in, and the run says why. Sets runner,
# how and note in the caller's scope.
macro(bigfile_emulator_runner)
  set(runner ${CMAKE_CROSSCOMPILING_EMULATOR})
  if(NOT BIGFILE_STATIC)
    set(userland ${CMAKE_CURRENT_BINARY_DIR}/userland)
    execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/debian-root.py
      ${BIGFILE_DEBIAN_ARCH} libstdc++6 --cache ${BIGFILE_GUEST_CACHE} --stamp ${userland}
      OUTPUT_QUIET RESULT_VARIABLE fetched)
    set(root "skipped: the fetch failed (${fetched})")
    if(fetched EQUAL 0)
      file(READ ${userland} root)
      string(STRIP "${root}" root)
    endif()
    if(root MATCHES "^skipped: (.*)")
      set(note "on the cross toolchain's C library, since Debian's own could not be had: "
               "${CMAKE_MATCH_1}")
      string(REPLACE ";" "" note "${note}")
    else()
      # A copy in the build tree, which the case run as nobody can also reach
      # where the cache lies in root's own home; made once for each root, and
      # put in place whole, since builds of the tree may configure this at once.
      get_filename_component(copy ${root} NAME)
      set(copy ${CMAKE_CURRENT_BINARY_DIR}/${copy})
      if(NOT EXISTS ${copy})
        string(RANDOM partial)
        execute_process(COMMAND cp -a ${root} ${copy}.${partial} COMMAND_ERROR_IS_FATAL ANY)
        execute_process(COMMAND mv -T ${copy}.${partial} ${copy} ERROR_QUIET)
        file(REMOVE_RECURSE ${copy}.${partial})
      endif()
      set(runner ${emulator} -L ${copy})
      set(how "under ${emulator_name} on Debian's libc6")
      set(note "on Debian's own C library of ${BIGFILE_DEBIAN_ARCH}")
    endif()
    message(STATUS "${BIGFILE_DEBIAN_ARCH}: ${emulator_name} runs the binary ${note}")
  endif()
endmacro()
