# SPDX-License-Identifier: MIT
# ppc64el: 64-bit little-endian POWER (g++-powerpc64le-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(BIGFILE_TRIPLET powerpc64le-linux-gnu)
set(BIGFILE_QEMU qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
