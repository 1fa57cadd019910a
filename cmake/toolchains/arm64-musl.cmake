# SPDX-License-Identifier: MIT
# arm64 on musl: the same compiler as arm64's, with Debian's musl-dev for arm64.
include(${CMAKE_CURRENT_LIST_DIR}/arm64.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../musl.cmake)
