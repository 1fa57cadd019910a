# SPDX-License-Identifier: MIT
# Helpers for registering the end-to-end cases of a build.
include_guard(GLOBAL)

# A test that shows in ctest's summary as skipped, saying why.
function(bigfile_add_skipped_test name reason)
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "skipped: ${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "skipped:")
endfunction()

# How the cases run this build's binary: directly where the kernel can run
# its ABI, else under the toolchain's emulator. A small program linked as the
# tool is tells: a cross build for another processor, or one for i386 on a
# kernel without IA32 support, fails to start. A binary that starts only
# because binfmt_misc hands it to qemu counts as emulated, since the system
# calls that the cases read are then qemu's own. Sets, in the caller's scope,
# runner (the command to run the binary under, empty when native), how (for
# the label), and not_run (why the cases cannot run, if they cannot) with
# needs (the package that would let them, if one would).
function(bigfile_choose_runner)
  set(runner "")
  set(how natively)
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
    if(NOT probe_status EQUAL 0 OR handler_state STREQUAL "enabled")
      set(runner ${CMAKE_CROSSCOMPILING_EMULATOR})
      set(how "under ${emulator_name}")
      find_program(BIGFILE_EMULATOR "${emulator}")
      if(NOT BIGFILE_EMULATOR)
        set(not_run "the kernel cannot run them, and ${emulator} is missing "
                    "(apt-get install qemu-user)")
        set(needs qemu-user PARENT_SCOPE)
      elseif(CMAKE_CXX_FLAGS MATCHES "-fsanitize=[^ ]*address")
        set(not_run "AddressSanitizer hangs under ${emulator_name}")
      endif()
    endif()
  endif()
  set(runner "${runner}" PARENT_SCOPE)
  set(how "${how}" PARENT_SCOPE)
  if(DEFINED not_run)
    set(not_run "${not_run}" PARENT_SCOPE)
  endif()
endfunction()
