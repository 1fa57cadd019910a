# SPDX-License-Identifier: MIT
# mips64el on musl: the same compiler as mips64el's, with Debian's musl-dev for mips64el.
include(${CMAKE_CURRENT_LIST_DIR}/mips64el.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../musl.cmake)
