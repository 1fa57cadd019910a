# SPDX-License-Identifier: MIT
# ppc64el: Debian's 64-bit little-endian POWER kernel on QEMU's pseries
# machine, with the speculation mitigations that TCG cannot give switched
# off. Its file is an ELF vmlinux, and its pages are 64 KiB.
set(BIGFILE_KERNEL_PACKAGE linux-image-powerpc64le)
set(BIGFILE_KERNEL_QEMU qemu-system-ppc64
  -M pseries,cap-cfpc=broken,cap-sbbc=broken,cap-ibs=broken,cap-ccf-assist=off)
set(BIGFILE_KERNEL_QEMU_PACKAGE qemu-system-ppc)
set(BIGFILE_KERNEL_CONSOLE hvc0)
set(BIGFILE_KERNEL_IMAGE boot/vmlinux-*)
