# SPDX-License-Identifier: MIT
# arm64: Debian 13's kernel, on the same board as Debian 12's.
include(${CMAKE_CURRENT_LIST_DIR}/arm64.cmake)
set(BIGFILE_KERNEL_RELEASE trixie)
