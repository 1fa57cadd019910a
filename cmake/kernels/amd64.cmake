# SPDX-License-Identifier: MIT
# amd64: Debian's 64-bit kernel on a PC.
set(BIGFILE_KERNEL_PACKAGE linux-image-amd64)
set(BIGFILE_KERNEL_QEMU qemu-system-x86_64 -M pc)
set(BIGFILE_KERNEL_QEMU_PACKAGE qemu-system-x86)
set(BIGFILE_KERNEL_CONSOLE ttyS0)
