# SPDX-License-Identifier: MIT
# mips64el: 64-bit little-endian MIPS (n64) (g++-mips64el-linux-gnuabi64).
set(CMAKE_SYSTEM_PROCESSOR mips64el)
set(BIGFILE_TRIPLET mips64el-linux-gnuabi64)
set(BIGFILE_QEMU qemu-mips64el)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
