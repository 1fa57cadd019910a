#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The file systems that the kernels' guests test on, and what each does with
a length: one entry a file system. The cases take their expectations from
here, the guests make and mount the volumes from here, and the README's table
is rendered from here, so that the three cannot drift apart.

  filesystems.py --names            their names, one a line
  filesystems.py --mkfs             the mkfs tools and their packages, a pair a line
  filesystems.py --table            the README's table
  filesystems.py --check README.md  whether the README has it as it is here
"""
import sys

MiB = 1 << 20
LARGEST = 2147483647  # the largest count the tool reads
EFBIG = "[27]-ftruncate64 error: File too large"
ENOSPC = "[28]-ftruncate64 error: No space left on device"
KERNELS = (64, 32)  # the word sizes of the kernels, which decide the page cache's limit
RELEASES = {12: "6.1", 13: "6.12"}  # Debian's releases, and their kernels


class FileSystem:
    """name: as the cases and the tests call it. mkfs: the Debian package and
    the host's command that make the volume, given its image last (None: the
    guest's own tmpfs, which has no volume). mib: the
    volume's size. modules: what the guest kernel loads to mount it. largest:
    the largest count that succeeds, by the kernel's word size, on a volume
    with room for it (a 32-bit kernel's page cache stops every file at 16 TiB
    - 4 KiB); None where only the free space stops a file. allocates: growing
    writes the new part out, so that the file takes room, and a count past the
    free space fails with "No space left on device", or with past_volume when
    it is past the size of the whole volume. unix: the volume keeps modes,
    links and FIFOs. mount: the type to mount, where it is not the name.
    pages: the only page size of a kernel that mounts it, where it has one,
    and no_mount, the table's words for the kernels that mount it then.
    releases: the Debian releases whose kernels have it. zeroes: those whose
    kernels grow a file a step at a time, writing zeros into what each step
    allocates, so that a grow takes time and one that fails leaves the file
    part-grown (all that have it, where it allocates). program: the program
    that mounts it through FUSE, as `program DEVICE DIRECTORY`, where no
    kernel driver does."""

    def __init__(self, name, mkfs, mib, modules, largest, allocates=False, past_volume=None,
                 unix=True, mount=None, pages=None, no_mount=None, releases=tuple(RELEASES),
                 zeroes=None, program=None):
        self.name, self.mib, self.modules = name, mib, modules
        self.releases = releases
        self.zeroes = (releases if allocates else ()) if zeroes is None else zeroes
        self.package, self.mkfs = mkfs or (None, None)
        self.largest, self.allocates, self.past_volume = largest, allocates, past_volume
        self.unix, self.type = unix, mount or name
        self.pages, self.no_mount = pages, no_mount
        self.program = program

    def mounts_with(self, pages):
        """Whether a kernel whose pages are this many bytes mounts it."""
        return self.pages is None or self.pages == pages

    def refusal(self, length, growth, room, volume, kernel):
        """The line with which the length call refuses length (None: it does
        not), growth bytes past the file's end, with room bytes free on a
        volume of volume bytes."""
        if self.largest and length > self.largest[kernel] * MiB:
            return EFBIG
        if self.allocates and growth > room:
            return self.past_volume if self.past_volume and length > volume else ENOSPC
        return None


def on_every_kernel(count):
    return dict.fromkeys(KERNELS, count)


# A 64-bit kernel and a 32-bit one: 2^51 - 2^20 bytes fits in the first, and
# the second stops at 16 TiB - 4 KiB, whose last whole MiB is count 16777215.
PAGE_CACHE = {64: LARGEST, 32: 16777215}
FAT_CODE_PAGES = ["nls_cp437", "nls_ascii"]
FILESYSTEMS = [
    FileSystem("tmpfs", None, 0, [], PAGE_CACHE),
    FileSystem("ext4", ("e2fsprogs", ["mkfs.ext4", "-q", "-b", "4096"]), 64, ["ext4", "crc32c_generic"],
               on_every_kernel(16777215)),
    FileSystem("ext4-1k", ("e2fsprogs", ["mkfs.ext4", "-q", "-b", "1024"]), 64, ["ext4", "crc32c_generic"],
               on_every_kernel(4194303), mount="ext4"),
    FileSystem("xfs", ("xfsprogs", ["mkfs.xfs", "-q"]), 320, ["xfs", "crc32c_generic"], PAGE_CACHE),
    FileSystem("btrfs", ("btrfs-progs", ["mkfs.btrfs", "-q"]), 128, ["btrfs", "crc32c_generic"], PAGE_CACHE),
    FileSystem("f2fs", ("f2fs-tools", ["mkfs.f2fs", "-q"]), 64, ["f2fs", "crc32_generic"],
               on_every_kernel(4129111), pages=4096,
               no_mount="all but ppc64el, whose pages are 64 KiB"),
    FileSystem("vfat", ("dosfstools", ["mkfs.vfat"]), 72, ["vfat"] + FAT_CODE_PAGES, on_every_kernel(4095),
               allocates=True, unix=False),
    FileSystem("exfat", ("exfatprogs", ["mkfs.exfat"]), 72, ["exfat"], None, allocates=True,
               past_volume=EFBIG, unix=False, zeroes=(12,)),
    FileSystem("ntfs", ("ntfs-3g", ["mkfs.ntfs", "--quiet", "--fast", "--force"]), 72, ["ntfs3"],
               None, allocates=True, past_volume=EFBIG, unix=False, mount="ntfs3", releases=(13,),
               zeroes=()),
    FileSystem("udf", ("udftools", ["mkudffs", "--blocksize=512"]), 64, ["udf"],
               on_every_kernel(4194304)),  # 4 TiB
    # NTFS as most systems mount it: ntfs-3g, through FUSE. Its grows are
    # sparse, so a file fills nothing, and its limit is the page cache's.
    FileSystem("ntfs-3g", ("ntfs-3g", ["mkfs.ntfs", "--quiet", "--fast", "--force"]), 72, ["fuse"],
               PAGE_CACHE, unix=False, program="ntfs-3g", no_mount="all, through FUSE"),
]
BY_NAME = {fs.name: fs for fs in FILESYSTEMS}


def table():
    """The README's table: what each file system does with a length."""
    def reason(line):
        return line.split(": ", 1)[1]

    def largest(fs, kernel):
        if fs.largest is None:
            return "the free space"
        return "every count" if fs.largest[kernel] == LARGEST else f"{fs.largest[kernel]:,}"

    def past_largest(fs):
        if fs.largest is None or min(fs.largest.values()) == LARGEST:
            return "—"
        return reason(EFBIG) + (" (32-bit)" if max(fs.largest.values()) == LARGEST else "")

    def past_free(fs):
        if not fs.allocates:
            return "—"
        past_volume = f"; past the volume's size, {reason(fs.past_volume)}" if fs.past_volume else ""
        return f"{reason(ENOSPC)}{past_volume}; the file is left as it was"

    def kernels(fs):
        if fs.releases != tuple(RELEASES):
            return " and ".join(f"Debian {r}'s" for r in fs.releases)
        return fs.no_mount or "all"

    def growing(fs):
        if not fs.allocates:
            return "sparse"
        if fs.zeroes == fs.releases:
            return "allocated and zeroed"
        if not fs.zeroes:
            return "allocated"
        return ", ".join(f"{'allocated and zeroed' if r in fs.zeroes else 'allocated'} in {RELEASES[r]}"
                         for r in fs.releases)

    rows = [["file system", "kernels", *(f"largest count, {k}-bit" for k in KERNELS),
             "growing", "past the largest", "past the free space"],
            ["---"] * 2 + ["---:"] * len(KERNELS) + ["---"] * 3]
    for fs in FILESYSTEMS:
        rows.append([fs.name, kernels(fs), *(largest(fs, k) for k in KERNELS), growing(fs),
                     past_largest(fs), past_free(fs)])
    return "".join("| " + " | ".join(row) + " |\n" for row in rows)


def main(argv):
    if argv[1:] == ["--names"]:
        print("\n".join(fs.name for fs in FILESYSTEMS))
        return 0
    if argv[1:] == ["--mkfs"]:
        print("\n".join(f"{fs.mkfs[0]} {fs.package}" for fs in FILESYSTEMS if fs.mkfs))
        return 0
    if argv[1:] == ["--table"]:
        sys.stdout.write(table())
        return 0
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2], encoding="utf-8") as readme:
            if table() in readme.read():
                print(f"{argv[2]} has the file systems' table as the tests expect it")
                return 0
        print(f"{argv[2]} does not have the file systems' table as the tests expect it; "
              f"it should read:\n{table()}")
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
