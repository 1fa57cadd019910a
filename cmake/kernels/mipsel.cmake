# SPDX-License-Identifier: MIT
# mipsel: Debian's 32-bit 4Kc kernel on QEMU's Malta board. The board hangs
# with more than one processor, and this kernel, without high memory, uses
# 256 MiB.
set(BIGFILE_KERNEL_PACKAGE linux-image-4kc-malta)
set(BIGFILE_KERNEL_QEMU qemu-system-mipsel -M malta)
set(BIGFILE_KERNEL_QEMU_PACKAGE qemu-system-mips)
set(BIGFILE_KERNEL_CONSOLE ttyS0)
set(BIGFILE_KERNEL_MEMORY 256)
set(BIGFILE_KERNEL_PROCESSORS 1)
# Its guest is the slowest (564 s in a CI run), so ctest starts it first.
set(BIGFILE_KERNEL_SECONDS 560)
