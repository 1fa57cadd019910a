# SPDX-License-Identifier: MIT
# s390x on musl: the same compiler as s390x's, with Debian's musl-dev for s390x.
include(${CMAKE_CURRENT_LIST_DIR}/s390x.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../musl.cmake)
