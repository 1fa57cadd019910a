# SPDX-License-Identifier: MIT
# i386 on musl: the same compiler as i386's, with Debian's musl-dev for i386.
include(${CMAKE_CURRENT_LIST_DIR}/i386.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../musl.cmake)
