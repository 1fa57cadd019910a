# SPDX-License-Identifier: MIT
# s390x: 64-bit big-endian IBM Z (g++-s390x-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(BIGFILE_TRIPLET s390x-linux-gnu)
set(BIGFILE_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
