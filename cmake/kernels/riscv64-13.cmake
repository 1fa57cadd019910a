# SPDX-License-Identifier: MIT
# riscv64: Debian 13's kernel (Debian 12 has none) on QEMU's virt board, with
# QEMU's own OpenSBI firmware. Its file is an uncompressed vmlinux.
set(BIGFILE_KERNEL_RELEASE trixie)
set(BIGFILE_KERNEL_PACKAGE linux-image-riscv64)
set(BIGFILE_KERNEL_QEMU qemu-system-riscv64 -M virt)
set(BIGFILE_KERNEL_QEMU_PACKAGE qemu-system-misc)
set(BIGFILE_KERNEL_CONSOLE ttyS0)
set(BIGFILE_KERNEL_IMAGE boot/vmlinux-*)
