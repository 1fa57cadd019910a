# SPDX-License-Identifier: MIT
# ppc64el on musl: the same compiler as ppc64el's, with Debian's musl-dev for ppc64el.
include(${CMAKE_CURRENT_LIST_DIR}/ppc64el.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../musl.cmake)
