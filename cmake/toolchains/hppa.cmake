# SPDX-License-Identifier: MIT
# hppa: 32-bit big-endian PA-RISC, whose stack grows upwards (g++-hppa-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR hppa)
set(BIGFILE_TRIPLET hppa-linux-gnu)
set(BIGFILE_QEMU qemu-hppa)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
