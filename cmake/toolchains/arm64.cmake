# SPDX-License-Identifier: MIT
# arm64: 64-bit ARM, today's ARM boards (g++-aarch64-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(BIGFILE_TRIPLET aarch64-linux-gnu)
set(BIGFILE_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
