# SPDX-License-Identifier: MIT
# The Debian dependencies of a binary, read from the binary itself, for the
# Debian package (run by cpack). Each shared library that it needs is named by
# its Debian package, at the newest version of the library's symbols that it
# asks for: libc.so.6 with GLIBC_2.34 among its versions needs libc6
# (>= 2.34). A static binary needs nothing. A library that is not known here
# stops the packing, rather than leave the package's dependencies short.
#
# The libraries known: the C library, its mathematics library and its
# dynamic loader (ld.so.1 on mips, m68k and powerpc, ld64.so.N and
# ld-linux-*.so.N elsewhere), and GCC's runtime, which 32-bit ARM binaries
# need for their unwinding tables.
set(BIGFILE_KNOWN_LIBRARIES
  "^(lib[cm]\\.so\\.6|ld(64)?(-linux[-a-z0-9_]*)?\\.so\\.[0-9]+)$=libc6=GLIBC"
  "^libgcc_s\\.so\\.1$=libgcc-s1=GCC")

function(bigfile_debian_depends readelf binary result)
  execute_process(COMMAND ${readelf} --wide --dynamic --version-info ${binary}
    OUTPUT_VARIABLE elf COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE ";" "," elf "${elf}")
  string(REPLACE "\n" ";" lines "${elf}")
  set(packages "")
  set(file "")
  foreach(line IN LISTS lines)
    if(line MATCHES "Shared library: \\[(.+)\\]")
      set(library ${CMAKE_MATCH_1})
      set(package "")
      foreach(known IN LISTS BIGFILE_KNOWN_LIBRARIES)
        string(REPLACE "=" ";" known "${known}")
        list(GET known 0 pattern)
        if(library MATCHES "${pattern}")
          list(GET known 1 package)
          list(GET known 2 prefix)
          set(prefix_of_${package} ${prefix})
        endif()
      endforeach()
      if(NOT package)
        message(FATAL_ERROR "${binary} needs ${library}, whose Debian package is not known here")
      endif()
      list(APPEND packages ${package})
      set(package_of_${library} ${package})
    elseif(line MATCHES "File: ([^ ]+)")
      set(file ${CMAKE_MATCH_1})
    elseif(line MATCHES "Name: ([A-Z]+)_([0-9.]+) " AND DEFINED package_of_${file})
      set(package ${package_of_${file}})
      if(CMAKE_MATCH_1 STREQUAL prefix_of_${package} AND
         CMAKE_MATCH_2 VERSION_GREATER "${newest_${package}}")
        set(newest_${package} ${CMAKE_MATCH_2})
      endif()
    endif()
  endforeach()
  list(REMOVE_DUPLICATES packages)
  list(SORT packages)
  set(depends "")
  foreach(package IN LISTS packages)
    if(newest_${package})
      list(APPEND depends "${package} (>= ${newest_${package}})")
    else()
      list(APPEND depends ${package})
    endif()
  endforeach()
  list(JOIN depends ", " depends)
  set(${result} "${depends}" PARENT_SCOPE)
endfunction()
