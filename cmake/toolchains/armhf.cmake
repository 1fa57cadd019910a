# SPDX-License-Identifier: MIT
# armhf: 32-bit ARM with hardware floating point (g++-arm-linux-gnueabihf).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(BIGFILE_TRIPLET arm-linux-gnueabihf)
set(BIGFILE_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
