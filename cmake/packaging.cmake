# A Debian package and a tarball of the default install (the tool and its
# manual page): cpack -G DEB, cpack -G TGZ.
set(CPACK_PACKAGE_NAME bigfile)
set(CPACK_PACKAGE_VENDOR "The bigfile developers")
set(CPACK_PACKAGE_CONTACT "The bigfile developers <bigfile@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "make a sparse file of an exact length in mebibytes")
set(CPACK_PACKAGE_DESCRIPTION [[
bigfile gives the file bigfile in the current directory an exact length in
mebibytes with one 64-bit length call, writing no data, and reports each step.
A file that grows becomes sparse, so files of many gigabytes appear at once:
useful for testing large-file support, quotas and disk-full handling, also on
32-bit x86 systems, where plain file offsets stop at 2 GiB.]])
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES OFF)
include(CPack)
