# SPDX-License-Identifier: MIT
# armel: Debian's kernel for the Raspberry Pi 1 and Zero (ARMv6) on QEMU's
# raspi1ap board. The board takes one processor and exactly 512 MiB, and has
# neither PCI nor virtio: its disk is an SD card, seen once the SDHCI drivers
# load, and it is the only one, so every volume is on it, at the slow grows'
# pace. The kernel needs the package's own device tree, and hangs in the
# board's power driver unless that driver is kept from starting. Its I2C
# driver is kept from starting too: QEMU's controller reads a divider of 0,
# the driver divides by it ("Division by zero in kernel", in the boots of
# loaded runs), and the one boot that then stalled before init (CI,
# 2026-12-10) stopped right after those lines. The guest needs no I2C.
set(BIGFILE_KERNEL_PACKAGE linux-image-rpi)
set(BIGFILE_KERNEL_QEMU qemu-system-arm -M raspi1ap)
set(BIGFILE_KERNEL_QEMU_PACKAGE qemu-system-arm)
set(BIGFILE_KERNEL_CONSOLE ttyAMA0)
set(BIGFILE_KERNEL_DISK -drive if=sd,format=raw,cache=unsafe,file={disk},throttling.bps-write={pace})
set(BIGFILE_KERNEL_MODULES sdhci sdhci-pltfm sdhci-iproc)
set(BIGFILE_KERNEL_MEMORY 512)
set(BIGFILE_KERNEL_PROCESSORS 1)
set(BIGFILE_KERNEL_DTB usr/lib/linux-image-*-rpi/bcm2835-rpi-a-plus.dtb)
set(BIGFILE_KERNEL_ARGUMENTS initcall_blacklist=bcm2835_power_driver_init,bcm2835_i2c_driver_init)
# Its guest took 190 to 470 s in CI runs, with what ran beside it.
set(BIGFILE_KERNEL_SECONDS 470)
