# SPDX-License-Identifier: MIT
# armel: 32-bit ARM with software floating point, for ARMv5 and ARMv6 boards such as the
# Raspberry Pi 1 and Zero (g++-arm-linux-gnueabi).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(BIGFILE_TRIPLET arm-linux-gnueabi)
set(BIGFILE_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
