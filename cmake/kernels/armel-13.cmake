# SPDX-License-Identifier: MIT
# armel: Debian 13's kernel, on the same board as Debian 12's.
include(${CMAKE_CURRENT_LIST_DIR}/armel.cmake)
set(BIGFILE_KERNEL_RELEASE trixie)
