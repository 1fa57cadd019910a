# SPDX-License-Identifier: MIT
# s390x: Debian 13's kernel, on the same board as Debian 12's.
include(${CMAKE_CURRENT_LIST_DIR}/s390x.cmake)
set(BIGFILE_KERNEL_RELEASE trixie)
