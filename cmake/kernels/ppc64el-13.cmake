# SPDX-License-Identifier: MIT
# ppc64el: Debian 13's kernel, on the same board as Debian 12's.
include(${CMAKE_CURRENT_LIST_DIR}/ppc64el.cmake)
set(BIGFILE_KERNEL_RELEASE trixie)
