# SPDX-License-Identifier: MIT
# powerpc: 32-bit big-endian PowerPC, where a 64-bit length travels as two
# 32-bit halves, high half first (g++-powerpc-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(BIGFILE_TRIPLET powerpc-linux-gnu)
set(BIGFILE_QEMU qemu-ppc)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
