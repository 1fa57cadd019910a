# SPDX-License-Identifier: MIT
# Run by cpack after it has made the packages and before it copies them out
# and writes their checksums (CPACK_POST_BUILD_SCRIPTS). Three things in the
# packages as CPack makes them come from where they were staged rather than
# from the source: a tarball lists its files in the order in which the file
# system lists them, the directories that CPack makes itself take their mode
# from the umask, and a Debian package's Installed-Size counts directories'
# own sizes. Each package is packed again from its contents, its files in
# name order, every mode rw-r--r-- or rwxr-xr-x, and Installed-Size counted
# as dpkg-gencontrol counts it, so that the same commit gives the same bytes
# wherever and by whomever it is packed. Times stay at SOURCE_DATE_EPOCH.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  set(contents ${package}.contents)
  file(REMOVE_RECURSE ${contents})
  file(MAKE_DIRECTORY ${contents})
  if(package MATCHES "\\.tar\\.gz$")
    execute_process(COMMAND tar -xzf ${package} -C ${contents} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND chmod -R u=rwX,go=rX ${contents} COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB top RELATIVE ${contents} ${contents}/*)
    execute_process(
      COMMAND tar --sort=name --owner=0 --group=0 --numeric-owner
              --mtime=@$ENV{SOURCE_DATE_EPOCH} --clamp-mtime -cf - -C ${contents} ${top}
      COMMAND gzip -9n
      OUTPUT_FILE ${package} COMMAND_ERROR_IS_FATAL ANY)
  elseif(package MATCHES "\\.deb$")
    execute_process(COMMAND dpkg-deb -R ${package} ${contents} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND chmod -R u=rwX,go=rX ${contents} COMMAND_ERROR_IS_FATAL ANY)
    # Each file counts its size in KiB, rounded up, and each directory 1 KiB.
    file(GLOB_RECURSE entries LIST_DIRECTORIES true ${contents}/*)
    set(kib 0)
    foreach(entry IN LISTS entries)
      if(entry MATCHES "/DEBIAN(/|$)")
        continue()
      elseif(IS_DIRECTORY ${entry})
        math(EXPR kib "${kib} + 1")
      else()
        file(SIZE ${entry} bytes)
        math(EXPR kib "${kib} + (${bytes} + 1023) / 1024")
      endif()
    endforeach()
    file(READ ${contents}/DEBIAN/control control)
    string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kib}\n"
      control "${control}")
    file(WRITE ${contents}/DEBIAN/control "${control}")
    execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b ${contents} ${package}
      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${contents})
endforeach()
