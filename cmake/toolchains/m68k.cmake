# SPDX-License-Identifier: MIT
# m68k: 32-bit big-endian Motorola 68k (g++-m68k-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR m68k)
set(BIGFILE_TRIPLET m68k-linux-gnu)
set(BIGFILE_QEMU qemu-m68k)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
