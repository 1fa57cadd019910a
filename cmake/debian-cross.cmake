# SPDX-License-Identifier: MIT
# What every toolchain file in cmake/toolchains shares: Debian's cross compiler
# for BIGFILE_TRIPLET, its libraries under /usr/BIGFILE_TRIPLET, and qemu-user
# (BIGFILE_QEMU) to run the binaries where the kernel cannot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${BIGFILE_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${BIGFILE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BIGFILE_QEMU} -L /usr/${BIGFILE_TRIPLET})
