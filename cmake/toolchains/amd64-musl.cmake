# SPDX-License-Identifier: MIT
# amd64 on musl: the host's own g++ (g++), with Debian's musl-dev for amd64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BIGFILE_QEMU qemu-x86_64)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER x86_64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BIGFILE_QEMU})
include(${CMAKE_CURRENT_LIST_DIR}/../musl.cmake)
