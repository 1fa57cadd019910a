# SPDX-License-Identifier: MIT
# The table inside a real kernel. qemu-user hands every system call to the
# host's 64-bit kernel, so a 32-bit kernel's own large-file checks never run
# under it; here Debian's own kernel of the build's ABI boots under
# qemu-system with the build's binary, and every case runs there, on tmpfs
# and on a fresh volume of each file system in tests/filesystems.py.
#
# The build fetches the kernel and the guest's programs from this machine's
# apt sources into BIGFILE_GUEST_CACHE (cmake/debian-root.py); ctest boots the
# guest once, as the test ARCH-kernel/boot, and shows each case's result as
# ARCH-kernel/CASE (tmpfs) or ARCH-kernel/FILESYSTEM/CASE. Adding a kernel
# takes one file in cmake/kernels that sets what its board needs, named for
# its Debian architecture (Debian 12's), or for that and its release
# (ARCH-13.cmake, whose tests are ARCH-kernel-13/...):
#   BIGFILE_KERNEL_RELEASE       the Debian release, by its code name (bookworm)
#   BIGFILE_KERNEL_PACKAGE       the Debian package of the kernel
#   BIGFILE_KERNEL_QEMU          the qemu-system program, machine and processor
#   BIGFILE_KERNEL_QEMU_PACKAGE  the Debian package of that program
#   BIGFILE_KERNEL_CONSOLE       the console device, for console=
# and, where the board needs other than the defaults:
#   BIGFILE_KERNEL_DISK          QEMU's words that attach the disks: {disk}, and
#                                {paced} for the volumes of the slow grows, whose
#                                writes QEMU holds to {pace} bytes a second; a
#                                board with room for one disk names {disk} alone,
#                                paced, and holds every volume there (two virtio
#                                disks on PCI)
#   BIGFILE_KERNEL_MODULES       the modules that the kernel needs to see it
#                                (virtio_pci virtio_blk)
#   BIGFILE_KERNEL_MEMORY        MiB of memory (1024)
#   BIGFILE_KERNEL_PROCESSORS    the most processors that the board takes
#   BIGFILE_KERNEL_IMAGE         the kernel's file in the root (boot/vmlinuz-*)
#   BIGFILE_KERNEL_DTB           the device tree's file in the root (none)
#   BIGFILE_KERNEL_ARGUMENTS     more words for the kernel's command line
#   BIGFILE_KERNEL_SECONDS       about how long its guest's test takes here
#                                (150), so that ctest starts the longest first
include_guard(GLOBAL)

# Debian's releases that the kernels come from, oldest first, by code name and
# number. A guest's programs come from its kernel's release, or from this
# machine's where that is newer: a binary built here needs this machine's C
# library or a newer one.
set(BIGFILE_RELEASES bookworm=12 trixie=13)
file(STRINGS /etc/os-release host_release REGEX "^VERSION_CODENAME=")
string(REPLACE "VERSION_CODENAME=" "" BIGFILE_HOST_RELEASE "${host_release}")

# The number of the release named, or nothing for one not known here.
function(bigfile_release_number codename out)
  set(number "")
  foreach(pair IN LISTS BIGFILE_RELEASES)
    if(pair MATCHES "^${codename}=(.*)")
      set(number ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(${out} "${number}" PARENT_SCOPE)
endfunction()

# dpkg, to install the Debian package, also needs a shell, rm, diff and
# ldconfig; ntfs-3g mounts NTFS through FUSE.
set(BIGFILE_GUEST_PACKAGES busybox python3 strace util-linux libstdc++6
  dpkg dash coreutils diffutils libc-bin ntfs-3g)

# Each of a guest's results, some 300, is a test that shows its file: cat
# starts in a tenth of the time that CMake's own takes.
find_program(BIGFILE_CAT cat REQUIRED)

# Registers the guests' tests for this build's binary: one for each kernel
# entry of its ABI that BIGFILE_KERNELS names (by the entry's file name), or
# all.
function(bigfile_add_kernel_tests)
  set(arch ${BIGFILE_DEBIAN_ARCH})
  file(GLOB entries RELATIVE ${PROJECT_SOURCE_DIR}/cmake/kernels
    ${PROJECT_SOURCE_DIR}/cmake/kernels/*.cmake)
  list(TRANSFORM entries REPLACE "\\.cmake$" "")
  set(kernels ${BIGFILE_KERNELS})
  if(kernels STREQUAL "all")
    set(kernels ${entries})
  elseif(NOT kernels)
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
  set(packed FALSE)
  set(pack_cost 0)
  foreach(entry IN LISTS entries)
    if(entry IN_LIST kernels AND entry MATCHES "^${arch}(-[0-9]+)?$")
      string(REGEX REPLACE "^${arch}" "${arch}-kernel" name ${entry})
      bigfile_add_kernel(${entry} ${name} ${processors})
      set(packed TRUE)
      if(cost GREATER pack_cost)
        set(pack_cost ${cost})
      endif()
    endif()
  endforeach()
  if(packed)
    # This build's Debian package, which each guest's dpkg installs, packed
    # once for all of them by a test that the boots need: cpack builds the
    # whole build first, so a build target that ran it would run itself.
    # Packing the top build builds every ABI's: no two packs at once.
    add_test(NAME ${arch}/pack COMMAND ${CMAKE_CPACK_COMMAND} -G DEB
      --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -B ${CMAKE_CURRENT_BINARY_DIR}/packing
      -D CPACK_OUTPUT_FILE_PREFIX=${CMAKE_CURRENT_BINARY_DIR}/package)
    set_tests_properties(${arch}/pack PROPERTIES FIXTURES_SETUP ${arch}-package
      RESOURCE_LOCK bigfile-build COST ${pack_cost} LABELS guest)
  endif()
endfunction()

# The tests of one kernel entry, named name; sets cost, the seconds that its
# guest takes, in the caller's scope.
function(bigfile_add_kernel entry name processors)
  set(arch ${BIGFILE_DEBIAN_ARCH})
  set(BIGFILE_KERNEL_RELEASE bookworm)
  set(BIGFILE_KERNEL_DISK -drive if=none,id=disk,format=raw,cache=unsafe,file={disk}
                          -device virtio-blk-pci,drive=disk
                          -drive if=none,id=paced,format=raw,cache=unsafe,file={paced},throttling.bps-write={pace}
                          -device virtio-blk-pci,drive=paced)
  set(BIGFILE_KERNEL_MODULES virtio_pci virtio_blk)
  set(BIGFILE_KERNEL_MEMORY 1024)
  set(BIGFILE_KERNEL_PROCESSORS ${processors})
  set(BIGFILE_KERNEL_IMAGE boot/vmlinuz-*)
  set(BIGFILE_KERNEL_DTB "")
  set(BIGFILE_KERNEL_ARGUMENTS "")
  set(BIGFILE_KERNEL_SECONDS 150)
  include(${PROJECT_SOURCE_DIR}/cmake/kernels/${entry}.cmake)
  if(BIGFILE_KERNEL_PROCESSORS LESS processors)
    set(processors ${BIGFILE_KERNEL_PROCESSORS})
  endif()
  bigfile_release_number(${BIGFILE_KERNEL_RELEASE} release)
  bigfile_release_number("${BIGFILE_HOST_RELEASE}" host_release)
  set(userland ${BIGFILE_KERNEL_RELEASE})
  set(new_library --new-library)
  if(host_release GREATER release)
    set(userland ${BIGFILE_HOST_RELEASE})
  endif()
  # The host's table ran every case on this release's C library, Debian's own
  # of the ABI: the guest runs again only the cases of its kernel and file
  # systems, unless its C library is another release's.
  if(userland STREQUAL BIGFILE_HOST_RELEASE)
    set(new_library "")
  endif()
  set(cost ${BIGFILE_KERNEL_SECONDS} PARENT_SCOPE)

  # Each program that is missing shows as a skipped test named for its
  # package; the mkfs tools' volumes are left out, the rest need them all.
  list(GET BIGFILE_KERNEL_QEMU 0 qemu)
  execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/filesystems.py --mkfs
    OUTPUT_VARIABLE tools OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" tools "${tools}")
  set(missing "")
  set(needed "")
  foreach(tool IN ITEMS "${qemu} ${BIGFILE_KERNEL_QEMU_PACKAGE}" "mmdebstrap mmdebstrap"
                       "cpio cpio" "sfdisk fdisk" "depmod kmod" ${tools})
    string(REPLACE " " ";" tool ${tool})
    list(GET tool 0 program)
    list(GET tool 1 package)
    string(MAKE_C_IDENTIFIER "BIGFILE_HAVE_${program}" found)
    find_program(${found} ${program} PATHS /usr/sbin /sbin)
    if(NOT ${found})
      list(APPEND missing ${package})
      if(NOT program MATCHES "^mkfs")
        list(APPEND needed ${package})
      endif()
    endif()
  endforeach()
  list(REMOVE_DUPLICATES missing)
  foreach(package IN LISTS missing)
    message(STATUS "${name}: needs ${package} (apt-get install ${package})")
    if(BIGFILE_REQUIRE_ABIS)
      message(FATAL_ERROR "BIGFILE_REQUIRE_ABIS is on, but ${name} needs ${package}")
    endif()
    bigfile_add_skipped_test(${name}/needs-${package} "apt-get install ${package}")
  endforeach()
  if(needed)
    return()
  endif()
  message(STATUS "${name}: the cases run in ${BIGFILE_KERNEL_PACKAGE} under ${qemu}")

  set(guest ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(guest_py ${PROJECT_SOURCE_DIR}/tests/guest.py)
  set(debian_root ${PROJECT_SOURCE_DIR}/cmake/debian-root.py)
  set(required "")
  if(BIGFILE_REQUIRE_ABIS)
    set(required --required)
  endif()
  add_custom_target(${name}-root ALL
    COMMAND ${Python3_EXECUTABLE} ${debian_root} ${arch} ${BIGFILE_KERNEL_PACKAGE}
      --release ${BIGFILE_KERNEL_RELEASE} --cache ${BIGFILE_GUEST_CACHE}
      --stamp ${guest}/kernel ${required}
    COMMAND ${Python3_EXECUTABLE} ${debian_root} ${arch} ${BIGFILE_GUEST_PACKAGES}
      --release ${userland} --cache ${BIGFILE_GUEST_CACHE} --stamp ${guest}/root ${required}
    COMMENT "Fetching ${BIGFILE_KERNEL_PACKAGE} (${BIGFILE_KERNEL_RELEASE}) and the guest's programs (${userland}), unless cached"
    VERBATIM)
  set(package ${CMAKE_CURRENT_BINARY_DIR}/package/bigfile_${PROJECT_VERSION}_${arch}.deb)

  # A 32-bit kernel also runs the ABI's musl build, where it has one
  # (BIGFILE_MUSL_BINARY, from the build that adds the ABIs): only such a
  # kernel checks what musl hands it.
  set(musl "")
  set(musl_binary "")
  if(BIGFILE_MUSL_BINARY AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(musl --musl)
    set(musl_binary "--musl-binary \"${BIGFILE_MUSL_BINARY}\"")
  endif()

  # The results that the guest writes: the cases whose outcome can differ
  # there from the host's table, on each file system.
  execute_process(COMMAND ${Python3_EXECUTABLE} ${guest_py} list --release ${release} ${new_library} ${musl}
    OUTPUT_VARIABLE results OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" results "${results}")

  # ctest reads this when it runs, so that a guest whose packages could not
  # be fetched shows as one skipped test that says why.
  list(JOIN BIGFILE_KERNEL_QEMU "\" \"" qemu_words)
  list(JOIN BIGFILE_KERNEL_DISK "\" \"" disk_words)
  list(JOIN BIGFILE_KERNEL_MODULES "\" \"" modules)
  set(dtb "")
  if(BIGFILE_KERNEL_DTB)
    set(dtb "--dtb \"${BIGFILE_KERNEL_DTB}\"")
  endif()
  set(label "guest;${name} ${BIGFILE_KERNEL_PACKAGE} under ${qemu}")
  string(CONFIGURE [[
if(NOT EXISTS "@guest@/root")
  add_test(@name@/fetched "@CMAKE_COMMAND@" -E false)
else()
  file(READ "@guest@/kernel" kernel)
  file(READ "@guest@/root" root)
  string(REGEX MATCH "skipped:[^\n]*" skipped "${kernel}${root}")
  if(skipped)
    add_test(@name@/not-run "@CMAKE_COMMAND@" -E echo "${skipped}")
    set_tests_properties(@name@/not-run PROPERTIES SKIP_REGULAR_EXPRESSION "skipped:")
  else()
    add_test(@name@/boot "@Python3_EXECUTABLE@" "@guest_py@" boot --kernel-stamp "@guest@/kernel"
      --stamp "@guest@/root" --release @release@
      --binary "$<TARGET_FILE:bigfile>" --console @BIGFILE_KERNEL_CONSOLE@
      --image "@BIGFILE_KERNEL_IMAGE@" @dtb@ --append "@BIGFILE_KERNEL_ARGUMENTS@"
      --memory @BIGFILE_KERNEL_MEMORY@ --processors @processors@ --modules "@modules@"
      --package "@package@" --results "@guest@/results" --seconds 2400 @new_library@
      @musl_binary@
      -- "@qemu_words@" "@disk_words@")
    set_tests_properties(@name@/boot PROPERTIES FIXTURES_SETUP @name@
      FIXTURES_REQUIRED @arch@-package TIMEOUT 2700
      PROCESSORS @processors@
      COST @BIGFILE_KERNEL_SECONDS@ LABELS "@label@" SKIP_RETURN_CODE 77)
    # Each case's result is a file that the boot wrote; the guest's own tmpfs
    # goes without a name: ARCH-kernel/CASE.
    foreach(result IN ITEMS @results@ first-boot)
      string(REGEX REPLACE "^tmpfs/" "" test ${result})
      add_test(@name@/${test} "@BIGFILE_CAT@" "@guest@/results/${result}")
      set_tests_properties(@name@/${test} PROPERTIES FIXTURES_REQUIRED @name@
        LABELS "@label@" PASS_REGULAR_EXPRESSION "^ok: " SKIP_REGULAR_EXPRESSION "^skipped: ")
    endforeach()
    add_test(@name@/package "@BIGFILE_CAT@" "@guest@/results/dpkg/package")
    set_tests_properties(@name@/package PROPERTIES FIXTURES_REQUIRED @name@
      LABELS "@label@" PASS_REGULAR_EXPRESSION "^ok: ")
  endif()
endif()
]] include_file @ONLY)
  file(GENERATE OUTPUT ${guest}/tests.cmake CONTENT "${include_file}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${guest}/tests.cmake)
endfunction()
