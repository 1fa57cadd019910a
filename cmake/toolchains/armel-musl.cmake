# SPDX-License-Identifier: MIT
# armel on musl: the same compiler as armel's, with Debian's musl-dev for armel.
include(${CMAKE_CURRENT_LIST_DIR}/armel.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../musl.cmake)
