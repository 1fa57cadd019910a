# SPDX-License-Identifier: MIT
# mipsel: 32-bit little-endian MIPS, as on many routers (g++-mipsel-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(BIGFILE_TRIPLET mipsel-linux-gnu)
set(BIGFILE_QEMU qemu-mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
