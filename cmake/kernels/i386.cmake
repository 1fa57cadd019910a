# SPDX-License-Identifier: MIT
# i386: Debian's 32-bit 686 kernel on a PC, whose large-file checks are the
# ones a 32-bit system really runs.
set(BIGFILE_KERNEL_PACKAGE linux-image-686)
set(BIGFILE_KERNEL_QEMU qemu-system-i386 -M pc)
set(BIGFILE_KERNEL_QEMU_PACKAGE qemu-system-x86)
set(BIGFILE_KERNEL_CONSOLE ttyS0)
set(BIGFILE_KERNEL_SECONDS 160) # its guest took 158 s in a CI run
