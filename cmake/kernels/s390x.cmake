# SPDX-License-Identifier: MIT
# s390x: Debian's kernel for IBM Z, the one 64-bit big-endian kernel, on
# QEMU's s390-ccw-virtio machine, whose disks hang on channel I/O, not PCI.
set(BIGFILE_KERNEL_PACKAGE linux-image-s390x)
set(BIGFILE_KERNEL_QEMU qemu-system-s390x -M s390-ccw-virtio)
set(BIGFILE_KERNEL_QEMU_PACKAGE qemu-system-misc)
set(BIGFILE_KERNEL_CONSOLE ttysclp0)
set(BIGFILE_KERNEL_DISK -drive if=none,id=disk,format=raw,cache=unsafe,file={disk}
                        -device virtio-blk-ccw,drive=disk
                        -drive if=none,id=paced,format=raw,cache=unsafe,file={paced},throttling.bps-write={pace}
                        -device virtio-blk-ccw,drive=paced)
set(BIGFILE_KERNEL_MODULES virtio_blk)
set(BIGFILE_KERNEL_SECONDS 170) # its guest took 172 s in a CI run
