# SPDX-License-Identifier: MIT
# riscv64: 64-bit RISC-V (g++-riscv64-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(BIGFILE_TRIPLET riscv64-linux-gnu)
set(BIGFILE_QEMU qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
