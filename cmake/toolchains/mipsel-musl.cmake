# SPDX-License-Identifier: MIT
# mipsel on musl: the same compiler as mipsel's, with Debian's musl-dev for mipsel.
include(${CMAKE_CURRENT_LIST_DIR}/mipsel.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../musl.cmake)
