#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the table of cases inside a real Linux kernel, booted under
qemu-system, on the guest's own tmpfs and on a fresh volume of each file
system in filesystems.py.

  guest.py fetch ARCH PACKAGE... --cache DIR --stamp FILE [--required]
      Unpacks ARCH's packages and their dependencies from this machine's apt
      sources, through mmdebstrap's private apt state, into a root under DIR,
      and writes the root's path to FILE. A root is made once for each set
      of packages and sources; the packages themselves are kept under DIR by
      version, so that making a root again fetches only what changed. When
      the sources cannot be reached, FILE says why, and the guest's tests
      show as skipped (--required: the fetch fails instead).
  guest.py boot --stamp FILE --binary BINARY --console DEVICE --results DIR
                [--image GLOB] [--dtb GLOB] [--append WORDS] [--modules NAME...]
                [--memory MIB] [--processors N] [--seconds N] [--package DEB]
                -- QEMU...
      Boots the root's kernel (the file that GLOB names in the root) under
      QEMU once, with N processors that each run a file system's table, runs
      every case on every file system there, and writes each case's result
      to DIR/FILESYSTEM/CASE: a line that starts "ok:", "FAIL:" or
      "skipped:", and for a failure what went wrong. The volumes are the
      partitions of one disk, which QEMU's words attach where they say
      {disk}; the modules are those that the kernel needs to see it. With
      --package DEB, the guest's own dpkg then installs the Debian package,
      runs the tool from PATH through a case, removes the package, and
      refuses the package relabelled for another architecture: the result is
      DIR/dpkg/package.
  guest.py inside
      The guest's side: what its init runs.
"""
import argparse
import concurrent.futures
import fcntl
import fnmatch
import glob
import gzip
import hashlib
import json
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import uuid
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from cases import CASES, supervise  # noqa: E402  pylint: disable=wrong-import-position
from filesystems import FILESYSTEMS  # noqa: E402  pylint: disable=wrong-import-position

SKIPPED = 77
MARK = "bigfile-guest:"
# A guest whose console stays silent this long has hung. It prints the
# kernel's messages as it boots, and a line as each case starts and every
# few seconds while one runs, which never takes longer than a case may stall.
STALLED = 180
# What the root leaves out of the guest, as patterns of paths: the kernel's
# other modules, the documents and data that nothing in the guest reads,
# udev's and the C library's character sets, dpkg's state, the parts of
# Python's library that no case imports, and what this script keeps beside
# the root (its dot files).
LEFT_OUT = (".*", "boot", "lib/modules", "usr/share", "var/cache", "var/lib", "lib/udev", "etc/udev",
            "usr/lib/*/gconv", "usr/lib/python3*/test", "usr/lib/python3*/pydoc_data",
            "usr/lib/python3*/ensurepip", "usr/lib/python3*/lib2to3", "usr/lib/python3*/idlelib")
MiB = 1 << 20
PARTITIONS_SECONDS = 60  # an SD card is seen some seconds after its driver loads
RELABELLED = ("amd64", "arm64")  # the other architecture is the first of these that differs
GUEST_FILES = ("guest.py", "cases.py", "filesystems.py")
GUEST_DIRECTORIES = ("proc", "sys", "dev", "tmp", "mnt", "var/lib", "guest", "guest/modules")
INIT = """#!/bin/busybox sh
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
busybox mount -t proc proc /proc
busybox mount -t sysfs sysfs /sys
busybox mount -t devtmpfs devtmpfs /dev
busybox mount -t tmpfs tmpfs /tmp
python3 /guest/guest.py inside
busybox sync
busybox reboot -f
"""


def say(*words):
    print(MARK, *words, flush=True)


# The fetch ---------------------------------------------------------------

def apt_sources():
    """This machine's own apt sources, in the form that mmdebstrap reads."""
    deb822 = sorted(glob.glob("/etc/apt/sources.list.d/*.sources"))
    if deb822:
        return "\n".join(open(path, encoding="utf-8").read() for path in deb822)
    one_line = ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list"))
    return "".join(open(path, encoding="utf-8").read() for path in one_line
                   if os.path.exists(path))


def release(sources):
    """The first suite that the sources name: this machine's release."""
    for line in sources.splitlines():
        words = line.split()
        if words[:1] == ["Suites:"]:
            return words[1]
        if words[:1] == ["deb"]:
            return [w for w in words[1:] if not w.startswith("[")][1]
    return "stable"


def fetch(arch, packages, cache, stamp, required):
    os.makedirs(cache, exist_ok=True)
    # Builds of several ABIs fetch side by side, and share the packages kept.
    with open(os.path.join(cache, ".lock"), "w", encoding="utf-8") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        return fetch_locked(arch, packages, cache, stamp, required)


def fetch_locked(arch, packages, cache, stamp, required):
    sources = apt_sources()
    key = hashlib.sha256(repr((arch, sorted(packages), sources)).encode()).hexdigest()[:16]
    root = os.path.join(cache, f"{arch}-{key}")
    debs = os.path.join(cache, "debs")
    os.makedirs(debs, exist_ok=True)
    if not os.path.exists(os.path.join(root, ".complete")):
        shutil.rmtree(root, ignore_errors=True)
        unpacking = root + ".unpacking"
        shutil.rmtree(unpacking, ignore_errors=True)
        started = time.monotonic()
        if not shutil.which("mmdebstrap"):
            return not_fetched(arch, "mmdebstrap is missing (apt-get install mmdebstrap)", stamp,
                               required)
        archives = os.path.join(unpacking, "var/cache/apt/archives")
        with open(f"{root}.sources", "w+", encoding="utf-8") as listed:
            listed.write(sources)
            listed.seek(0)
            status, why, _ = supervise(
                ["mmdebstrap", "--variant=extract", f"--architectures={arch}",
                 f"--include={','.join(packages)}", "--skip=download/empty",
                 "--skip=cleanup/apt/cache", '--setup-hook=mkdir -p "$1"/var/cache/apt/archives',
                 f"--setup-hook=sync-in {debs} /var/cache/apt/archives/",
                 # The packages that the root is made of, as apt chose them:
                 # the guest's dpkg database is written from them.
                 "--extract-hook=APT_CONFIG=$MMDEBSTRAP_APT_CONFIG apt-get install --print-uris "
                 f"-qq -o Dir::Cache::Archives=/nonexistent {' '.join(packages)} > \"$1/.uris\"",
                 release(sources), unpacking, "-"],
                f"{root}.log", lambda: bytes_under(archives), stdin=listed)
        with open(f"{root}.log", encoding="utf-8", errors="replace") as file:
            output = file.read()
        if status != 0:
            return not_fetched(arch, "the packages could not be fetched from this machine's apt "
                               "sources: " + " / ".join(([why] if why else [])
                                                        + output.strip().splitlines()[-3:]),
                               stamp, required, output)
        relative_links(unpacking)
        for name in os.listdir(archives):
            if name.endswith(".deb"):
                os.replace(os.path.join(archives, name), os.path.join(debs, name))
        with open(os.path.join(unpacking, ".uris"), encoding="utf-8") as uris:
            fetched = sorted(line.split()[1] for line in uris if line.strip())
        with open(os.path.join(unpacking, ".packages"), "w", encoding="utf-8") as out:
            out.write("\n".join(fetched) + "\n")
        os.rename(unpacking, root)
        open(os.path.join(root, ".complete"), "w", encoding="utf-8").close()
        print(f"{arch}: unpacked {len(fetched)} packages into {root} "
              f"in {time.monotonic() - started:.0f} s")
    with open(stamp, "w", encoding="utf-8") as out:
        out.write(root + "\n")
    return 0


def not_fetched(arch, why, stamp, required, output=""):
    """Says why the root was not made, in the stamp, where its tests show it
    as skipped; or, with --required, fails."""
    if required:
        print(output, file=sys.stderr)
        sys.exit(f"guest.py: {arch}: {why}")
    with open(stamp, "w", encoding="utf-8") as out:
        out.write(f"skipped: {arch}: {why}\n")
    print(f"{arch}: {why}")
    return 0


def bytes_under(top):
    """How much is under top: what shows a download's progress."""
    return sum(os.lstat(os.path.join(d, n)).st_size for d, _, names in os.walk(top) for n in names)


def relative_links(root):
    """Makes the root's absolute symbolic links relative, so that qemu-user,
    which looks for a program's interpreter inside the root, does not follow
    one out of it (mips64el's /lib64/ld.so.1, say)."""
    for directory, _, names in os.walk(root):
        for name in names:
            path = os.path.join(directory, name)
            target = os.readlink(path) if os.path.islink(path) else ""
            if target.startswith("/") and not directory.startswith(os.path.join(root, "dev")):
                os.remove(path)
                os.symlink(os.path.relpath(root + target, directory), path)


# The initramfs -------------------------------------------------------------

def cpio(entries):
    """A newc cpio archive, as the kernel unpacks it, of (name, mode, data)."""
    out = bytearray()
    for number, (name, mode, data) in enumerate(entries + [("TRAILER!!!", 0, b"")], 1):
        encoded = name.encode() + b"\0"
        fields = (number, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(encoded), 0)
        out += b"070701" + "".join(f"{v:08x}" for v in fields).encode() + encoded
        out += bytes(-len(out) % 4) + data
        out += bytes(-len(out) % 4)
    return bytes(out)


def tree(top, left_out=()):
    """(name, mode, data) of everything under top but the paths that match
    left_out, in name order."""
    def kept(path):
        return not any(fnmatch.fnmatch(path, pattern) for pattern in left_out)

    entries = []
    for directory, subdirectories, files in os.walk(top):
        relative = os.path.relpath(directory, top)
        subdirectories[:] = sorted(s for s in subdirectories
                                   if kept(os.path.normpath(os.path.join(relative, s))))
        for name in sorted(subdirectories + files):
            path = os.path.join(directory, name)
            entry = os.path.normpath(os.path.join(relative, name))
            if not kept(entry):
                continue
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                data = os.readlink(path).encode()
            elif stat.S_ISREG(info.st_mode):
                with open(path, "rb") as file:
                    data = file.read()
            else:
                data = b""
            if stat.S_ISDIR(info.st_mode) or stat.S_ISLNK(info.st_mode) or \
                    stat.S_ISREG(info.st_mode):
                entries.append((entry, info.st_mode, data))
    return entries


def module_dependencies(module_file):
    with open(module_file, "rb") as file:
        data = file.read()
    at = data.find(b"\0depends=")
    if at < 0:
        return []
    names = data[at + len(b"\0depends="):data.index(b"\0", at + 1)].decode()
    return [name for name in names.split(",") if name]


def modules_to_load(modules_dir, wanted):
    """The module files that wanted needs, each after those it depends on;
    modules built into the kernel need none."""
    def normal(name):
        return name.replace("-", "_")
    files = {}
    for directory, _, names in os.walk(os.path.join(modules_dir, "kernel")):
        for name in names:
            if name.endswith(".ko"):
                files[normal(name[:-3])] = os.path.relpath(os.path.join(directory, name),
                                                           modules_dir)
    with open(os.path.join(modules_dir, "modules.builtin"), encoding="utf-8") as builtin:
        built_in = {normal(os.path.basename(line.strip())[:-3]) for line in builtin}
    order = []

    def visit(name):
        name = normal(name)
        if name in built_in or name in order:
            return
        if name not in files:
            raise SystemExit(f"guest.py: the kernel has no module {name}")
        for dependency in module_dependencies(os.path.join(modules_dir, files[name])):
            visit(dependency)
        order.append(name)
    for name in wanted:
        visit(name)
    return [files[name] for name in order]


def initramfs(root, wanted_modules, guest_files):
    """The root's guest, as one initramfs: the root's programs and libraries
    (made once a root and kept beside it), the modules that the volumes need,
    and this run's binary, cases and init. The first part is compressed: a
    board with 256 MiB holds it twice only so, packed and unpacked."""
    left_out = hashlib.sha256(repr(LEFT_OUT).encode()).hexdigest()[:8]
    base = os.path.join(root, f".initramfs-{left_out}.gz")
    (version,) = os.listdir(os.path.join(root, "lib/modules"))
    modules_dir = os.path.join(root, "lib/modules", version)
    modules = modules_to_load(modules_dir, wanted_modules)
    if not os.path.exists(base):
        entries = tree(root, LEFT_OUT)
        with open(f"{base}.{os.getpid()}", "wb") as out:
            packed = gzip.compress(cpio(entries), compresslevel=6, mtime=0)
            out.write(packed + bytes(-len(packed) % 4))  # the next archive starts aligned
        os.replace(f"{base}.{os.getpid()}", base)
    guest = [(d, stat.S_IFDIR | 0o755, b"") for d in GUEST_DIRECTORIES]
    guest.append(("init", stat.S_IFREG | 0o755, INIT.encode()))
    for name, data in guest_files.items():
        guest.append((f"guest/{name}", stat.S_IFREG | 0o755, data))
    for module in modules:
        with open(os.path.join(modules_dir, module), "rb") as file:
            guest.append((f"guest/modules/{os.path.basename(module)}", stat.S_IFREG | 0o644,
                          file.read()))
    load_order = "".join(f"/guest/modules/{os.path.basename(m)}\n" for m in modules)
    guest.append(("guest/modules/order", stat.S_IFREG | 0o644, load_order.encode()))
    with open(base, "rb") as file:
        return file.read() + cpio(guest), version


# The boot ----------------------------------------------------------------

def make_volumes(directory):
    """A fresh volume image of each file system that has one; returns the
    paths of those made, by name, and why each other was not."""
    made, missing = {}, {}
    for fs in FILESYSTEMS:
        if fs.mkfs is None:
            continue
        if not shutil.which(fs.mkfs[0]):
            missing[fs.name] = f"{fs.mkfs[0]} is missing on this machine (apt-get install {fs.package})"
            continue
        image = os.path.join(directory, f"{fs.name}.img")
        with open(image, "wb") as file:
            file.truncate(fs.mib * MiB)
        checked(*fs.mkfs, image)
        made[fs.name] = image
    return made, missing


def copy_data(source, target, offset):
    """Copies source into target at offset, skipping its holes."""
    with open(source, "rb") as src:
        end = os.fstat(src.fileno()).st_size
        at = 0
        while at < end:
            try:
                at = os.lseek(src.fileno(), at, os.SEEK_DATA)
            except OSError:  # nothing but a hole is left
                break
            hole = os.lseek(src.fileno(), at, os.SEEK_HOLE)
            while at < hole:
                chunk = os.pread(src.fileno(), min(hole - at, 8 * MiB), at)
                os.pwrite(target.fileno(), chunk, offset + at)
                at += len(chunk)


def make_disk(path, images):
    """One disk holding each image in a GPT partition named for it (the guest
    finds each volume by that name), 1 MiB aligned. The disk's size is a power
    of two, as an SD card's must be; its image is sparse."""
    sector, entries, entry_size = 512, 128, 128
    starts, at = [], MiB
    for image in images.values():
        starts.append(at)
        at += -(-os.path.getsize(image) // MiB) * MiB
    size = 1 << (at + MiB - 1).bit_length()
    sectors = size // sector
    linux_data = uuid.UUID("0fc63daf-8483-4772-8e79-3d69d8477de4").bytes_le
    table = b"".join(
        struct.pack("<16s16sQQQ72s", linux_data, uuid.uuid5(uuid.NAMESPACE_URL, name).bytes_le,
                    start // sector, (start + os.path.getsize(image)) // sector - 1, 0,
                    name.encode("utf-16-le"))
        for (name, image), start in zip(images.items(), starts))
    table = table.ljust(entries * entry_size, b"\0")
    table_sectors = len(table) // sector

    def header(current, backup, table_at):
        fields = [b"EFI PART", 0x10000, 92, 0, 0, current, backup, 2 + table_sectors,
                  sectors - 2 - table_sectors, uuid.uuid5(uuid.NAMESPACE_URL, path).bytes_le,
                  table_at, entries, entry_size, zlib.crc32(table)]
        fields[3] = zlib.crc32(struct.pack("<8sIIIIQQQQ16sQIII", *fields))
        return struct.pack("<8sIIIIQQQQ16sQIII", *fields).ljust(sector, b"\0")
    # A protective MBR: one partition of type 0xEE over the whole disk.
    mbr = bytearray(sector)
    mbr[446:462] = struct.pack("<B3sB3sII", 0, b"\0\2\0", 0xEE, b"\xff\xff\xff", 1,
                               min(sectors - 1, 0xFFFFFFFF))
    mbr[510:512] = b"\x55\xaa"
    with open(path, "wb") as disk:
        disk.truncate(size)
        disk.write(mbr + header(1, sectors - 1, 2) + table)
        disk.seek(size - sector - len(table))
        disk.write(table + header(sectors - 1, 1, sectors - 1 - table_sectors))
        for image, start in zip(images.values(), starts):
            copy_data(image, disk, start)
            os.remove(image)


def record(results, console, missing):
    """Writes each case's result, from the guest's console, under results."""
    current, lines = None, []

    def flush():
        if current:
            os.makedirs(os.path.dirname(current), exist_ok=True)
            with open(current, "w", encoding="utf-8") as out:
                out.write("\n".join(lines) + "\n")
    section = None
    for line in console.splitlines():
        line = line.rstrip("\r")
        if MARK in line:  # a kernel's line may come first, unended
            words = line[line.index(MARK) + len(MARK):].split()
            if words[:1] == ["begin"]:
                section = words[1]
            continue
        if section is None:
            continue
        verdict, _, rest = line.partition(": ")
        if verdict in ("ok", "FAIL", "skipped") and rest:
            flush()
            name = rest.split(" (")[0]
            current, lines = os.path.join(results, section, name), [line]
        elif line.startswith("  ") and current:
            lines.append(line)
    flush()
    for name, why in missing.items():
        os.makedirs(os.path.join(results, name))
        for case in CASES:
            with open(os.path.join(results, name, case["name"]), "w", encoding="utf-8") as out:
                out.write(f"skipped: {case['name']} ({why})\n")


def checked(*command):
    """Runs one of the host's commands under supervise(); returns its output,
    or fails with it."""
    with tempfile.NamedTemporaryFile("r", prefix="bigfile-guest-") as output:
        status, why, _ = supervise(list(command), output.name, stdin=subprocess.DEVNULL)
        text = output.read()
    if status != 0:
        raise SystemExit(f"guest.py: {' '.join(command)} failed: {why or status}\n{text}")
    return text


def dpkg_status(root):
    """The dpkg database of the root's packages, as a bootstrap records them:
    each one's control fields, marked installed. Made once a root."""
    status = os.path.join(root, ".dpkg-status")
    if not os.path.exists(status):
        with open(os.path.join(root, ".packages"), encoding="utf-8") as names:
            debs = [os.path.join(os.path.dirname(root), "debs", name) for name in names.read().split()]
        paragraphs = []
        for deb in debs:
            fields = checked("dpkg-deb", "--field", deb)
            package, rest = fields.split("\n", 1)
            paragraphs.append(f"{package}\nStatus: install ok installed\n{rest}")
        with open(f"{status}.{os.getpid()}", "w", encoding="utf-8") as out:
            out.write("\n".join(paragraphs))
        os.replace(f"{status}.{os.getpid()}", status)
    with open(status, "rb") as file:
        return file.read()


def packages_for_dpkg(root, deb, scratch):
    """The guest's files for the dpkg test: the package, the same package
    relabelled for another architecture, and the database of the root."""
    own = checked("dpkg-deb", "--field", deb, "Architecture").strip()
    other = next(name for name in RELABELLED if name != own)
    tree = os.path.join(scratch, "relabelled")
    checked("dpkg-deb", "--raw-extract", deb, tree)
    control = os.path.join(tree, "DEBIAN", "control")
    with open(control, encoding="utf-8") as file:
        fields = re.sub(r"(?m)^Architecture: .*$", f"Architecture: {other}", file.read())
    with open(control, "w", encoding="utf-8") as file:
        file.write(fields)
    foreign = os.path.join(scratch, f"foreign_{other}.deb")
    checked("dpkg-deb", "--root-owner-group", "--build", tree, foreign)
    shutil.rmtree(tree)
    files = {}
    for name, path in (("package.deb", deb), ("foreign.deb", foreign)):
        with open(path, "rb") as file:
            files[name] = file.read()
    os.remove(foreign)
    files["dpkg-status"] = dpkg_status(root)
    return files


def only(root, pattern):
    """The one file in root that pattern names."""
    found = glob.glob(os.path.join(root, pattern))
    if len(found) != 1:
        raise SystemExit(f"guest.py: {len(found)} files match {pattern} in {root}")
    return found[0]


def boot(options, qemu):
    with open(options.stamp, encoding="utf-8") as file:
        root = file.read().strip()
    if root.startswith("skipped:"):
        print(root)
        return SKIPPED
    shutil.rmtree(options.results, ignore_errors=True)
    os.makedirs(options.results)
    images, missing = make_volumes(options.results)
    disk = os.path.join(options.results, "disk.img")
    make_disk(disk, images)
    wanted = [m for m in options.modules if m] + [
        m for fs in FILESYSTEMS if fs.name in images for m in fs.modules]
    guest_files = {name: open(os.path.join(HERE, name), "rb").read() for name in GUEST_FILES}
    with open(options.binary, "rb") as file:
        guest_files["bigfile"] = file.read()
    # The sanitizers' settings of the test run hold in the guest too.
    environment = {k: v for k, v in os.environ.items() if k in ("ASAN_OPTIONS", "UBSAN_OPTIONS")}
    config = dict(volumes=list(images), environment=environment)
    if options.package:
        guest_files.update(packages_for_dpkg(root, options.package, options.results))
    guest_files["config.json"] = json.dumps(config).encode()
    started = time.monotonic()
    image, version = initramfs(root, wanted, guest_files)
    initrd = os.path.join(options.results, "initramfs")
    with open(initrd, "wb") as out:
        out.write(image)
    command = [word.replace("{disk}", disk) for word in qemu] + [
        "-nodefaults", "-no-reboot", "-display", "none", "-serial", "stdio",
        "-m", str(options.memory), "-smp", str(options.processors),
        "-kernel", only(root, options.image), "-initrd", initrd,
        "-append", f"console={options.console} panic=-1 rdinit=/init "
        + options.append]
    if options.dtb:
        command += ["-dtb", only(root, options.dtb)]
    print(f"booting {version}: {' '.join(command)}", flush=True)
    log = os.path.join(options.results, "console.log")
    status, why, _ = supervise(command, log, stalled=STALLED, most=options.seconds,
                               stdin=subprocess.DEVNULL)
    with open(log, encoding="utf-8", errors="replace") as console_file:
        console = console_file.read()
    os.remove(initrd)
    os.remove(disk)
    for line in console.splitlines():
        if MARK in line and "took" in line:
            print(line[line.index(MARK) + len(MARK):].strip())
    if f"{MARK} done" not in console:
        tail = "\n".join(console.splitlines()[-30:])
        print(f"the guest did not finish: {why or f'qemu exited with {status}'}; the last lines "
              f"of its console:\n{tail}")
        return 1
    record(options.results, console, missing)
    print(f"the guest ran its table in {time.monotonic() - started:.0f} s")
    return 0


# Inside the guest ------------------------------------------------------------

def partitions(names):
    """The device of each partition named in names, once the kernel has seen
    them all."""
    deadline = time.monotonic() + PARTITIONS_SECONDS
    while True:
        found = {}
        for uevent in glob.glob("/sys/class/block/*/uevent"):
            with open(uevent, encoding="utf-8") as file:
                fields = dict(line.strip().split("=", 1) for line in file if "=" in line)
            if fields.get("PARTNAME") in names:
                found[fields["PARTNAME"]] = "/dev/" + fields["DEVNAME"]
        if len(found) == len(names) or time.monotonic() > deadline:
            return found
        time.sleep(0.2)


def every_case(verdict, why):
    return "".join(f"{verdict}: {c['name']} ({why})\n" for c in CASES)


def mount(fs, device):
    """Mounts fs's volume; returns its mount point and, when it is not
    mounted, the table's lines instead: skipped where the file system is known
    not to mount on this kernel, failed where it should have, or should not."""
    pages = os.sysconf("SC_PAGE_SIZE")
    mount_point = f"/mnt/{fs.name}"
    os.makedirs(mount_point)
    if device is None:
        return None, every_case("FAIL", f"the kernel did not see the partition {fs.name}")
    done = subprocess.run(["busybox", "mount", "-t", fs.type, device, mount_point],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    mounts = done.returncode == 0
    if mounts != fs.mounts_with(pages):
        return None, every_case("FAIL", f"{fs.name} {'mounted' if mounts else 'did not mount'} "
                                f"with {pages // 1024} KiB pages: {done.stdout.strip()}")
    if not mounts:
        why = f"{fs.name} does not mount with this kernel's {pages // 1024} KiB pages"
        return None, every_case("skipped", why)
    return mount_point, None


def inside():
    started = time.monotonic()
    with open("/guest/config.json", encoding="utf-8") as file:
        config = json.load(file)
    with open("/guest/modules/order", encoding="utf-8") as order:
        for module in order.read().split():
            # A module that refuses this kernel (f2fs with 64 KiB pages) shows
            # as its file system's failed mount, which the table may expect.
            if subprocess.run(["insmod", module], check=False).returncode != 0:
                say("could not load", module)
    devices = partitions(config["volumes"])
    with open("/proc/uptime", encoding="utf-8") as uptime:
        up = float(uptime.read().split()[0])
    say("booted and loaded its modules in", f"{up:.1f} s")
    with open("/proc/sys/kernel/printk", "w", encoding="ascii") as printk:
        printk.write("1")  # the kernel's messages would break the results' lines
    os.chmod("/guest/bigfile", 0o755)
    os.environ.update(config["environment"])
    by_name = {fs.name: fs for fs in FILESYSTEMS}
    places, unmounted = {"tmpfs": None}, {}
    for name in config["volumes"]:
        places[name], unmounted[name] = mount(by_name[name], devices.get(name))
    bits = "64" if sys.maxsize > 1 << 32 else "32"  # the guest's programs are its kernel's

    def leg(name):
        """The table on one file system: its output, and how long it took."""
        begun = time.monotonic()
        if unmounted.get(name):
            return name, unmounted[name], 0.0
        command = [sys.executable, "/guest/cases.py", "/guest/bigfile", "--kernel-bits", bits,
                   "--filesystem", name, "--progress"]
        place = ["--work-root", places[name]] if places[name] else []
        # Its progress goes to the console as it comes; its results, after.
        done = subprocess.run(command + place, stdout=subprocess.PIPE, text=True, check=False)
        return name, done.stdout, time.monotonic() - begun

    # The file systems' tables run side by side, one on each processor.
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        for name, output, seconds in pool.map(leg, places):
            say("begin", name)
            print(output, end="", flush=True)
            say("end", name, "took", f"{seconds:.1f} s")
    if os.path.exists("/guest/package.deb"):
        begun = time.monotonic()
        say("begin", "dpkg")
        print(package_test(), flush=True)
        say("end", "dpkg", "took", f"{time.monotonic() - begun:.1f} s")
    say("done in", f"{time.monotonic() - started:.1f} s")


def package_test():
    """Installs the package with the guest's own dpkg, runs the tool from PATH
    through a case, removes the package, and has the package relabelled for
    another architecture refused; returns the result's lines."""
    for directory in ("/var/lib/dpkg/info", "/var/lib/dpkg/updates", "/var/lib/dpkg/triggers",
                      "/var/log"):
        os.makedirs(directory, exist_ok=True)
    shutil.copy("/guest/dpkg-status", "/var/lib/dpkg/status")

    def dpkg(*words):  # busybox's shell has a dpkg of its own: name the real one
        return subprocess.run(["/usr/bin/dpkg", *words], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, check=False)
    faults = []
    installed = dpkg("--install", "/guest/package.deb")
    if installed.returncode != 0:
        faults.append(f"dpkg --install failed: {installed.stdout.strip()}")
    else:
        files = [path for path in dpkg("--listfiles", "bigfile").stdout.split()
                 if os.path.isfile(path)]
        if shutil.which("bigfile") != "/usr/bin/bigfile":
            faults.append(f"bigfile in PATH is {shutil.which('bigfile')}, not /usr/bin/bigfile")
        else:
            case = subprocess.run([sys.executable, "/guest/cases.py", "/usr/bin/bigfile",
                                   "count-3000"], stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True, check=False)
            if case.returncode != 0:
                faults.append(f"the installed tool failed its case: {case.stdout.strip()}")
        if "/usr/share/man/man1/bigfile.1.gz" not in files:
            faults.append(f"no manual page among the package's files: {files}")
        removed = dpkg("--remove", "bigfile")
        left = [path for path in files if os.path.lexists(path)]
        if removed.returncode != 0 or left:
            faults.append(f"dpkg --remove left {left}: {removed.stdout.strip()}")
    refused = dpkg("--install", "/guest/foreign.deb")
    if refused.returncode == 0 or "does not match system" not in refused.stdout:
        faults.append(f"a package of another architecture was not refused: {refused.stdout}")
    if faults:
        return "FAIL: package" + "".join("\n  " + fault.replace("\n", "\n  ") for fault in faults)
    architecture = dpkg("--print-architecture").stdout.strip()
    return (f"ok: package (the {architecture} package installed, ran and removed; "
            "another architecture's refused)")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    verbs = parser.add_subparsers(dest="verb", required=True)
    fetching = verbs.add_parser("fetch")
    fetching.add_argument("arch")
    fetching.add_argument("packages", nargs="+")
    fetching.add_argument("--cache", required=True)
    fetching.add_argument("--stamp", required=True)
    fetching.add_argument("--required", action="store_true")
    booting = verbs.add_parser("boot")
    for option in ("--stamp", "--binary", "--console", "--results"):
        booting.add_argument(option, required=True)
    booting.add_argument("--image", default="boot/vmlinuz-*")
    booting.add_argument("--dtb")
    booting.add_argument("--append", default="")
    booting.add_argument("--modules", nargs="*", default=[])
    booting.add_argument("--memory", type=int, default=1024)
    booting.add_argument("--seconds", type=int, default=900)
    booting.add_argument("--processors", type=int, default=1)
    booting.add_argument("--package")
    verbs.add_parser("inside")
    qemu = []
    if "--" in argv:
        argv, qemu = argv[:argv.index("--")], argv[argv.index("--") + 1:]
    options = parser.parse_args(argv[1:])
    if options.verb == "fetch":
        return fetch(options.arch, options.packages, options.cache, options.stamp,
                     options.required)
    if options.verb == "boot":
        return boot(options, qemu)
    return inside()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
