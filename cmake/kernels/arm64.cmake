# SPDX-License-Identifier: MIT
# arm64: Debian's 64-bit ARM kernel on QEMU's virt board; a Cortex-A57 boots
# it three times faster than -cpu max.
set(BIGFILE_KERNEL_PACKAGE linux-image-arm64)
set(BIGFILE_KERNEL_QEMU qemu-system-aarch64 -M virt -cpu cortex-a57)
set(BIGFILE_KERNEL_QEMU_PACKAGE qemu-system-arm)
set(BIGFILE_KERNEL_CONSOLE ttyAMA0)
