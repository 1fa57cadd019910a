# SPDX-License-Identifier: MIT
# mips64el: Debian's 64-bit 5Kc kernel on QEMU's Malta board, which prints
# nothing with its default processor and hangs with more than one.
set(BIGFILE_KERNEL_PACKAGE linux-image-5kc-malta)
set(BIGFILE_KERNEL_QEMU qemu-system-mips64el -M malta -cpu 5KEf)
set(BIGFILE_KERNEL_QEMU_PACKAGE qemu-system-mips)
set(BIGFILE_KERNEL_CONSOLE ttyS0)
set(BIGFILE_KERNEL_PROCESSORS 1)
set(BIGFILE_KERNEL_SECONDS 220) # its guest took 215 s in a CI run
