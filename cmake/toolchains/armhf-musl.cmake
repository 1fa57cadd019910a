# SPDX-License-Identifier: MIT
# armhf on musl: the same compiler as armhf's, with Debian's musl-dev for armhf.
include(${CMAKE_CURRENT_LIST_DIR}/armhf.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../musl.cmake)
