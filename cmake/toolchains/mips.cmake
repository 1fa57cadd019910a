# SPDX-License-Identifier: MIT
# mips: 32-bit big-endian MIPS, as on many routers; its O_LARGEFILE is 0x2000 and a
# 64-bit length travels in an aligned register pair (g++-mips-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR mips)
set(BIGFILE_TRIPLET mips-linux-gnu)
set(BIGFILE_QEMU qemu-mips)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
