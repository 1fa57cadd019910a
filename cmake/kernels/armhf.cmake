# SPDX-License-Identifier: MIT
# armhf: Debian's multiplatform ARMv7 kernel on QEMU's virt board, which
# shows it PCI disks only below 4 GiB (highmem=off).
set(BIGFILE_KERNEL_PACKAGE linux-image-armmp)
set(BIGFILE_KERNEL_QEMU qemu-system-arm -M virt,highmem=off -cpu cortex-a15)
set(BIGFILE_KERNEL_QEMU_PACKAGE qemu-system-arm)
set(BIGFILE_KERNEL_CONSOLE ttyAMA0)
set(BIGFILE_KERNEL_SECONDS 180) # its guest took 179 s in a CI run
