# SPDX-License-Identifier: MIT
# i386: 32-bit x86, where plain file offsets stop at 2 GiB (g++-i686-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BIGFILE_TRIPLET i686-linux-gnu)
set(BIGFILE_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/../debian-cross.cmake)
