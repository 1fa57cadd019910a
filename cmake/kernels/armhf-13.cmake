# SPDX-License-Identifier: MIT
# armhf: Debian 13's kernel, on the same board as Debian 12's.
include(${CMAKE_CURRENT_LIST_DIR}/armhf.cmake)
set(BIGFILE_KERNEL_RELEASE trixie)
