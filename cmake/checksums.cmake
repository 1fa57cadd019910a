# SPDX-License-Identifier: MIT
# Run by the packages target once every package is in dist: writes
# SHA256SUMS over them, in sha256sum's form, and names the ABIs that were
# not packed and why, one a line in the file skipped.
#   cmake -D dist=DIR -D skipped=FILE -P checksums.cmake
file(GLOB packages RELATIVE ${dist} ${dist}/*.deb ${dist}/*.tar.gz)
list(SORT packages)
set(sums "")
foreach(package IN LISTS packages)
  file(SHA256 ${dist}/${package} sum)
  string(APPEND sums "${sum}  ${package}\n")
endforeach()
file(WRITE ${dist}/SHA256SUMS "${sums}")
list(LENGTH packages count)
message(STATUS "${count} packages in ${dist}, listed with their checksums in SHA256SUMS")
file(STRINGS ${skipped} reasons)
foreach(why IN LISTS reasons)
  message(STATUS "not packed: ${why}")
endforeach()
