#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the table of cases inside a real Linux kernel, booted under
qemu-system, on the guest's own tmpfs and on a fresh volume of each file
system in filesystems.py.

  guest.py boot --kernel-stamp FILE --stamp FILE --release N --binary BINARY
                --console DEVICE --results DIR [--image GLOB] [--dtb GLOB]
                [--append WORDS] [--modules NAME...] [--memory MIB]
                [--processors P] [--seconds S] [--package DEB] [--new-library]
                [--musl-binary BINARY] -- QEMU...
      Boots Debian N's kernel (the file that GLOB names in the kernel's root)
      under QEMU once, with the other root's programs, and P processors that
      each run a file system's table; runs there each case whose outcome
      can differ from the host's table (see guest_cases; --new-library: the
      guest's C library is not the one that the host's table ran on), and
      writes each case's result to DIR/FILESYSTEM/CASE: a line that starts
      "ok:", "FAIL:" or "skipped:", and for a failure what went wrong; and
      DIR/first-boot, "ok:" or, when the guest had to be booted again,
      "skipped:" and why. The volumes are the partitions of a disk, which
      QEMU's words attach where they say {disk}, and the paced ones of a
      second where they also say {paced}; the modules are those that the
      kernel needs to see them. With --package DEB, the guest's own dpkg then installs
      the Debian package, runs the tool from PATH through a case, removes the
      package, and refuses the package relabelled for another architecture:
      the result is DIR/dpkg/package. With --musl-binary, the ABI's musl
      build also runs, on the guest's tmpfs, each case of the kernel and of
      the file system (see MUSL): DIR/musl/CASE.
  guest.py list --release N [--new-library] [--musl]
      The results that such a guest writes, FILESYSTEM/CASE, one a line.
  guest.py inside
      The guest's side: what its init runs.
"""
import argparse
import fnmatch
import glob
import gzip
import hashlib
import json
import lzma
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import cases  # noqa: E402  pylint: disable=wrong-import-position
from cases import ABI, FILESYSTEM, KERNEL, chosen_cases, supervise  # noqa: E402  pylint: disable=wrong-import-position
from filesystems import FILESYSTEMS  # noqa: E402  pylint: disable=wrong-import-position

SKIPPED = 77
MARK = "bigfile-guest:"
# A guest whose console stays silent this long has hung. It names each module
# as it loads it, and each case as it starts and every few seconds while one
# runs. Its kernel boots quiet: printing every message on an emulated serial
# port is slow, and the Raspberry Pi's never finished loading raid6_pq so.
STALLED = 300
# A guest that has not booted and loaded its modules within this boots once
# more: the Raspberry Pi's kernel has twice sat idle on a loaded machine, once
# before init, once loading raid6_pq, on a board that boots in 23 s (44 s with
# both processors busy) and did not do so when booted again.
BOOTED = 240
# What the root leaves out of the guest, as patterns of paths: the kernel's
# other modules, the documents and data that nothing in the guest reads,
# udev's and the C library's character sets, dpkg's state, the parts of
# Python's library that no case imports, and what this script keeps beside
# the root (its dot files).
LEFT_OUT = (".*", "boot", "lib/modules", "usr/lib/modules", "usr/share", "var/cache", "var/lib",
            "lib/udev", "usr/lib/udev", "etc/udev",
            "usr/lib/*/gconv", "usr/lib/python3*/test", "usr/lib/python3*/pydoc_data",
            "usr/lib/python3*/ensurepip", "usr/lib/python3*/lib2to3", "usr/lib/python3*/idlelib")
MiB = 1 << 20
# The cases that need a slow grow run on a small volume of their own, where a
# grow goes at the disk's pace: QEMU lets the disk write PACE bytes a second,
# and the guest then keeps at most DIRTY bytes of unwritten data in its page
# cache, so that each step of a fill waits for the disk. The table's other
# cases keep what they write in the page cache, and never wait for the disk.
PACE = 2 * MiB
DIRTY = 1 * MiB
PACED = "-paced"  # the name of a file system's paced volume, after its own
PACED_MIB = 16
# A board with less memory than this holds the guest's root only compressed
# (Malta's 256 MiB), or is kept to what it was tried with (the Raspberry Pi's 512).
UNCOMPRESSED_MIB = 1024
PARTITIONS_SECONDS = 60  # an SD card is seen some seconds after its driver loads
RELABELLED = ("amd64", "arm64")  # the other architecture is the first of these that differs
GUEST_FILES = ("guest.py", "cases.py", "filesystems.py")
GUEST_DIRECTORIES = ("proc", "sys", "dev", "tmp", "mnt", "var/lib", "guest", "guest/modules")
INIT = """#!/bin/busybox sh
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
busybox mount -t proc proc /proc
busybox mount -t sysfs sysfs /sys
busybox mount -t devtmpfs devtmpfs /dev
busybox mkdir -p /dev/pts
busybox mount -t devpts devpts /dev/pts
busybox mount -t tmpfs tmpfs /tmp
python3 /guest/guest.py inside
busybox sync
busybox reboot -f
"""


def say(*words):
    print(MARK, *words, flush=True)


# The cases ---------------------------------------------------------------

def guest_cases(filesystem, release, new_library, grows=None):
    """The cases that a guest of Debian's release runs on a volume of
    filesystem whose grows go so (paced, cached, or either: None): those whose
    outcome depends on something that is new there (cases.py's DEPENDS). The
    file system is new on each of its volumes. The kernel is new at the first
    place that the guest runs a case at: its own tmpfs, and, for the cases
    that need a slow grow, the first file system that has a paced volume; so
    is the C library, where it is another than the host's table ran on."""
    first_paced = next((fs.name for fs in FILESYSTEMS if release in fs.zeroes), None)
    first = [KERNEL] + ([ABI] if new_library else [])
    fast = [FILESYSTEM] + (first if filesystem == "tmpfs" else [])
    slow = [FILESYSTEM] + (first if filesystem == first_paced else [])
    return [c for c in chosen_cases(grows=grows)
            if c in chosen_cases(new=slow if c.get("slow") else fast)]


# Where the musl build runs too, and the cases that it runs there. Its C
# library is in the binary, so the host's table has run its ABI's cases; what
# only a 32-bit kernel checks (the length in a pair of registers, the
# large-file open) is in the cases of the kernel and the file system, which
# it runs on the guest's tmpfs.
MUSL = "musl"


def musl_cases(release):
    return guest_cases("tmpfs", release, new_library=False, grows="cached")


def listed(release, new_library, musl=False):
    """The results that a guest writes, FILESYSTEM/CASE, one a line."""
    return "".join([f"{fs.name}/{c['name']}\n" for fs in FILESYSTEMS
                    for c in guest_cases(fs.name, release, new_library)]
                   + [f"{MUSL}/{c['name']}\n" for c in (musl_cases(release) if musl else ())])


# The initramfs -------------------------------------------------------------

def names_under(top, keep=lambda path: True):
    """The paths under top that keep() accepts, each directory before what it
    holds, as cpio takes them."""
    names = []
    for directory, subdirectories, files in os.walk(top):
        relative = os.path.relpath(directory, top)
        subdirectories[:] = sorted(d for d in subdirectories
                                   if keep(os.path.normpath(os.path.join(relative, d))))
        names += [os.path.normpath(os.path.join(relative, n)) for n in sorted(subdirectories + files)
                  if keep(os.path.normpath(os.path.join(relative, n)))]
    return names


def cpio(top, names):
    """A newc archive of names under top, as the kernel unpacks it, made by GNU
    cpio."""
    with tempfile.NamedTemporaryFile("w+", prefix="bigfile-names-") as listed, \
            tempfile.NamedTemporaryFile("rb", prefix="bigfile-cpio-") as archive:
        listed.write("".join(f"{name}\0" for name in names))
        listed.seek(0)
        status, why, _ = supervise(["cpio", "--create", "--format=newc", "--null", "--quiet",
                                    "--owner=0:0"], archive.name, cwd=top, stdin=listed,
                                   stderr=subprocess.DEVNULL)
        if status != 0:
            raise SystemExit(f"guest.py: cpio failed in {top}: {why or status}")
        return archive.read()


def modules_to_load(root, wanted):
    """The module files that wanted needs, each after those it depends on, in
    the order that kmod's modprobe gives, and the wanted modules that the
    kernel lacks (built-in ones need nothing). A root of Debian 13 keeps
    its modules under /usr."""
    base = root if os.path.isdir(os.path.join(root, "lib/modules")) else os.path.join(root, "usr")
    (version,) = os.listdir(os.path.join(base, "lib/modules"))
    if not os.path.exists(os.path.join(base, "lib/modules", version, "modules.dep")):
        checked("depmod", "--basedir", base, version)
    files, missing = [], []
    for name in wanted:
        status, text = host_run("modprobe", "--dirname", base, "--set-version", version,
                                "--show-depends", name)
        missing += [name] if status != 0 else []
        files += [line.split()[1] for line in text.splitlines() if line.startswith("insmod ")]
    return files, missing, version


def initramfs(root, modules, guest_files, scratch, compressed):
    """The guest, as one initramfs: the root's programs and libraries (made
    once for each layout of a root and kept in it), the kernel's modules
    that the guest loads, in their order, unpacked for busybox's insmod, and
    this run's binary, cases and init. The first part is compressed where
    asked: a board with 256 MiB holds it twice only so, packed and unpacked,
    and the others boot faster without, since an emulated processor takes
    seconds to inflate it."""
    top = sorted(name for name in os.listdir(root) if not name.startswith("."))
    layout = hashlib.sha256(repr((LEFT_OUT, top)).encode()).hexdigest()[:8]
    base = os.path.join(root, f".initramfs-{layout}" + (".gz" if compressed else ".cpio"))
    if not os.path.exists(base):
        kept = names_under(root, lambda path: not any(fnmatch.fnmatch(path, p) for p in LEFT_OUT))
        packed = cpio(root, kept)
        if compressed:
            packed = gzip.compress(packed, compresslevel=6, mtime=0)
        with open(f"{base}.{os.getpid()}", "wb") as out:
            out.write(packed + bytes(-len(packed) % 4))  # the next archive starts aligned
        os.replace(f"{base}.{os.getpid()}", base)
    guest = os.path.join(scratch, "guest-tree")
    shutil.rmtree(guest, ignore_errors=True)
    for directory in GUEST_DIRECTORIES:
        os.makedirs(os.path.join(guest, directory))
    files = dict(guest_files, init=INIT.encode())
    loaded = []
    for module in modules:
        name = os.path.basename(module).removesuffix(".xz")
        data = pathlib.Path(module).read_bytes()
        files[f"modules/{name}"] = lzma.decompress(data) if module.endswith(".xz") else data
        loaded.append(f"/guest/modules/{name}\n")
    files["modules/order"] = "".join(loaded).encode()
    for name, data in files.items():
        path = os.path.join(guest, name if name == "init" else f"guest/{name}")
        pathlib.Path(path).write_bytes(data)
        os.chmod(path, 0o755)
    image = pathlib.Path(base).read_bytes() + cpio(guest, names_under(guest))
    shutil.rmtree(guest)
    return image


# The boot ----------------------------------------------------------------

def make_volumes(directory, missing, release):
    """A fresh volume image of each file system that has one and is not
    missing already, and a small paced one of each that zeroes a grow in
    that release; returns the paths of those made, by name, and adds to
    missing why each other was not."""
    made = {}
    for fs in FILESYSTEMS:
        if fs.mkfs is None or fs.name in missing:
            continue
        if not shutil.which(fs.mkfs[0]):
            missing[fs.name] = ("skipped", f"{fs.mkfs[0]} is missing on this machine "
                                f"(apt-get install {fs.package})")
            continue
        sizes = {fs.name: fs.mib} | ({fs.name + PACED: PACED_MIB} if release in fs.zeroes else {})
        for name, mib in sizes.items():
            made[name] = os.path.join(directory, f"{name}.img")
            with open(made[name], "wb") as file:
                file.truncate(mib * MiB)
            checked(*fs.mkfs, made[name])
    return made


def make_disk(path, images):
    """One disk holding each image in a GPT partition named for it (the guest
    finds each volume by that name), 1 MiB aligned, partitioned by sfdisk.
    The disk's size is a power of two, as an SD card's must be; its image is
    sparse."""
    starts, at = [], MiB
    for image in images.values():
        starts.append(at)
        at += -(-os.path.getsize(image) // MiB) * MiB
    with open(path, "wb") as disk:
        disk.truncate(1 << (at + MiB - 1).bit_length())
    layout = "label: gpt\n" + "".join(
        f"start={start // 512}, size={os.path.getsize(image) // 512}, type=linux, name={name}\n"
        for (name, image), start in zip(images.items(), starts))
    checked("sfdisk", "--quiet", path, stdin_text=layout)
    for image, start in zip(images.values(), starts):
        checked("dd", f"if={image}", f"of={path}", "bs=1M", f"seek={start // MiB}",
                "conv=sparse,notrunc", "status=none")
        os.remove(image)


def record(results, console):
    """Writes each case's result, from the guest's console, under results."""
    found, section, current = {}, None, None
    for line in console.splitlines():
        line = line.rstrip("\r")
        if MARK in line:  # a kernel's line may come first, unended
            words = line[line.index(MARK) + len(MARK):].split()
            section = words[1].removesuffix(PACED) if words[:1] == ["begin"] else section
            continue
        verdict, _, rest = line.partition(": ")
        if section and verdict in ("ok", "FAIL", "skipped") and rest:
            current = os.path.join(results, section, rest.split(" (")[0])
            found[current] = [line]
        elif section and current and line.startswith("  "):
            found[current].append(line)
    for path, lines in found.items():
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as out:
            out.write("\n".join(lines) + "\n")


def host_run(*command, stdin_text=""):
    """Runs one of the host's commands under supervise(), with stdin_text as
    its input; returns its status and output."""
    with tempfile.NamedTemporaryFile("w+", prefix="bigfile-guest-") as given, \
            tempfile.NamedTemporaryFile("r", prefix="bigfile-guest-") as output:
        given.write(stdin_text)
        given.seek(0)
        status, why, _ = supervise(list(command), output.name, stdin=given)
        return status, output.read() + (f"\n{why}" if why else "")


def checked(*command, stdin_text=""):
    """host_run(), which must succeed; returns the output."""
    status, text = host_run(*command, stdin_text=stdin_text)
    if status != 0:
        raise SystemExit(f"guest.py: {' '.join(command)} failed with {status}:\n{text}")
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
    return pathlib.Path(status).read_bytes()


def packages_for_dpkg(root, deb, scratch):
    """The guest's files for the dpkg test: the package, the same package
    relabelled for another architecture, and the database of the root."""
    own = checked("dpkg-deb", "--field", deb, "Architecture").strip()
    other = next(name for name in RELABELLED if name != own)
    tree = os.path.join(scratch, "relabelled")
    checked("dpkg-deb", "--raw-extract", deb, tree)
    control = os.path.join(tree, "DEBIAN", "control")
    fields = pathlib.Path(control).read_text(encoding="utf-8")
    pathlib.Path(control).write_text(re.sub(r"(?m)^Architecture: .*$", f"Architecture: {other}",
                                            fields), encoding="utf-8")
    foreign = os.path.join(scratch, f"foreign_{other}.deb")
    checked("dpkg-deb", "--root-owner-group", "--build", tree, foreign)
    shutil.rmtree(tree)
    files = {"package.deb": pathlib.Path(deb).read_bytes(),
             "foreign.deb": pathlib.Path(foreign).read_bytes(), "dpkg-status": dpkg_status(root)}
    os.remove(foreign)
    return files


def only(root, pattern):
    """The one file in root that pattern names."""
    found = glob.glob(os.path.join(root, pattern))
    if len(found) != 1:
        raise SystemExit(f"guest.py: {len(found)} files match {pattern} in {root}")
    return found[0]


def kernel_modules_for(kernel_root, board, release):
    """The module files that the guest loads, in order, for the board and for
    each file system that the kernel has; and for each that it lacks, the
    verdict on its cases (skipped, or failed where the kernel of that release
    should have it) and why."""
    files, lacking, version = modules_to_load(kernel_root, board)
    if lacking:
        raise SystemExit(f"guest.py: the kernel has no module {', '.join(lacking)}")
    missing = {}
    for fs in FILESYSTEMS:
        needed, lacking, _ = modules_to_load(kernel_root, fs.modules)
        if lacking:
            verdict = "FAIL" if release in fs.releases else "skipped"
            missing[fs.name] = (verdict, f"Debian {release}'s kernel has no {', '.join(lacking)}")
        files += needed
    return list(dict.fromkeys(files)), missing, version  # each once, in its first place


def run_guest(command, log, seconds):
    """Runs the guest's QEMU under supervise(), its console going to log,
    within seconds; returns its status, why it was stopped, and why it was
    booted a second time (None: it was not). A guest that
    has not booted within BOOTED seconds, or that ends or hangs before it has
    run its table, is booted once more in the time left, its first console
    kept beside log: an emulated board has hung on a loaded machine, and
    did not when booted again. One that fails so twice fails."""
    deadline = time.monotonic() + seconds
    again = None
    for attempt in (1, 2):
        started, stuck, booted = time.monotonic(), [], [attempt > 1]

        def tick(process):
            if booted[0] or stuck or time.monotonic() - started < BOOTED:
                return
            booted[0] = f"{MARK} booted".encode() in pathlib.Path(log).read_bytes()
            if not booted[0]:
                stuck.append(True)
                process.terminate()

        status, why, _ = supervise(command, log, tick=tick, stalled=STALLED,
                                   most=deadline - time.monotonic(), stdin=subprocess.DEVNULL)
        console = pathlib.Path(log).read_text(encoding="utf-8", errors="replace")
        if f"{MARK} done" in console or attempt == 2 or time.monotonic() >= deadline:
            return status, why, again
        why = (f"it had not booted and loaded its modules after {BOOTED} s" if stuck
               else why or f"qemu exited with {status}")
        os.replace(log, log.removesuffix(".log") + ".first.log")
        print(f"the guest did not finish: {why}; the last lines of its console:\n"
              + "\n".join(console.splitlines()[-5:]) + "\nbooting it again", flush=True)
        again = why
    return status, why, again


def boot(options, qemu):
    roots = [pathlib.Path(stamp).read_text(encoding="utf-8").strip()
             for stamp in (options.kernel_stamp, options.stamp)]
    if any(said.startswith("skipped:") for said in roots):
        print(*(said for said in roots if said.startswith("skipped:")))
        return SKIPPED
    kernel_root, root = roots
    shutil.rmtree(options.results, ignore_errors=True)
    os.makedirs(options.results)
    modules, missing, version = kernel_modules_for(
        kernel_root, [m for m in options.modules if m], options.release)
    images = make_volumes(options.results, missing, options.release)
    # The paced volumes go on a disk of their own where the board has room for
    # a second, so that the other volumes' writes never wait for the pace: a
    # board with little memory (Malta's 256 MiB) writes them out as it fills.
    apart = any("{paced}" in word for word in qemu)
    held = {"{disk}": {name: image for name, image in images.items()
                       if not (apart and name.endswith(PACED))}}
    if apart:
        held["{paced}"] = {name: image for name, image in images.items() if name.endswith(PACED)}
    disks = {key: os.path.join(options.results, key.strip("{}") + ".img") for key in held}
    for key, volumes in held.items():
        make_disk(disks[key], volumes)
    guest_files = {name: pathlib.Path(HERE, name).read_bytes() for name in GUEST_FILES}
    guest_files["bigfile"] = pathlib.Path(options.binary).read_bytes()
    if options.musl_binary:
        guest_files["bigfile-musl"] = pathlib.Path(options.musl_binary).read_bytes()
    # The sanitizers' settings of the test run hold in the guest too.
    environment = {k: v for k, v in os.environ.items() if k in ("ASAN_OPTIONS", "UBSAN_OPTIONS")}
    config = dict(volumes=list(images), absent=missing, environment=environment,
                  release=options.release, new_library=options.new_library,
                  musl=bool(options.musl_binary))
    if options.package:
        guest_files.update(packages_for_dpkg(root, options.package, options.results))
    guest_files["config.json"] = json.dumps(config).encode()
    started = time.monotonic()
    image = initramfs(root, modules, guest_files, options.results,
                      compressed=options.memory < UNCOMPRESSED_MIB)
    initrd = os.path.join(options.results, "initramfs")
    pathlib.Path(initrd).write_bytes(image)
    words = []
    for word in qemu:
        for key, disk in disks.items():
            word = word.replace(key, disk)
        words.append(word.replace("{pace}", str(PACE)))
    command = words + [
        "-nodefaults", "-no-reboot", "-display", "none", "-serial", "stdio",
        "-m", str(options.memory), "-smp", str(options.processors),
        "-kernel", only(kernel_root, options.image), "-initrd", initrd,
        "-append", f"console={options.console} quiet panic=-1 rdinit=/init "
        + options.append]
    if options.dtb:
        command += ["-dtb", only(kernel_root, options.dtb)]
    print(f"booting {version}: {' '.join(command)}", flush=True)
    log = os.path.join(options.results, "console.log")
    status, why, again = run_guest(command, log, options.seconds)
    # A second boot shows as a result of its own, skipped with the reason, so
    # that the run's summary counts them.
    pathlib.Path(options.results, "first-boot").write_text(
        f"skipped: the guest needed a second boot: {again}\n" if again
        else "ok: the guest ran its table on its first boot\n", encoding="utf-8")
    console = pathlib.Path(log).read_text(encoding="utf-8", errors="replace")
    os.remove(initrd)
    for disk in disks.values():
        os.remove(disk)
    for line in console.splitlines():
        if MARK in line and "took" in line:
            print(line[line.index(MARK) + len(MARK):].strip())
    if f"{MARK} done" not in console:
        tail = "\n".join(console.splitlines()[-30:])
        print(f"the guest did not finish: {why or f'qemu exited with {status}'}; the last lines "
              f"of its console:\n{tail}")
        return 1
    record(options.results, console)
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


def every_case(verdict, why, cases):
    return "".join(f"{verdict}: {c['name']} ({why})\n" for c in cases)


def mount(fs, name, device, cases):
    """Mounts fs's volume name; returns its mount point and, when it is not
    mounted, the lines of its cases instead: skipped where the file system is
    known not to mount on this kernel, failed where it should have, or should
    not."""
    pages = os.sysconf("SC_PAGE_SIZE")
    mount_point = f"/mnt/{name}"
    os.makedirs(mount_point)
    if device is None:
        return None, every_case("FAIL", f"the kernel did not see the partition {name}", cases)
    if fs.program and not shutil.which(fs.program):
        return None, every_case("skipped", f"the guest has no {fs.program} to mount it", cases)
    mounter = [fs.program] if fs.program else ["busybox", "mount", "-t", fs.type]
    done = subprocess.run(mounter + [device, mount_point],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    mounts = done.returncode == 0
    if mounts != fs.mounts_with(pages):
        return None, every_case("FAIL", f"{fs.name} {'mounted' if mounts else 'did not mount'} "
                                f"with {pages // 1024} KiB pages: {done.stdout.strip()}", cases)
    if not mounts:
        why = f"{fs.name} does not mount with this kernel's {pages // 1024} KiB pages"
        return None, every_case("skipped", why, cases)
    return mount_point, None


def grows(name, volumes):
    """How the grows go on the volume name: paced by the disk, cached (where
    the file system has a paced volume beside it), or either (None)."""
    if name.endswith(PACED):
        return "paced"
    return "cached" if name + PACED in volumes else None


def write_settings(settings):
    for setting, value in settings:
        with open(f"/proc/sys/{setting}", "w", encoding="ascii") as file:
            file.write(str(value))


def inside():
    started = time.monotonic()
    config = json.loads(pathlib.Path("/guest/config.json").read_text(encoding="utf-8"))
    with open("/guest/modules/order", encoding="utf-8") as order:
        for module in order.read().split():
            # A module that refuses this kernel (f2fs with 64 KiB pages) shows
            # as its file system's failed mount, which the table may expect.
            say("loading", os.path.basename(module))  # a large one takes a while
            if subprocess.run(["busybox", "insmod", module], check=False).returncode != 0:
                say("could not load", module)
    devices = partitions(config["volumes"])
    with open("/proc/uptime", encoding="utf-8") as uptime:
        up = float(uptime.read().split()[0])
    say("booted and loaded its modules in", f"{up:.1f} s")
    # The kernel's messages would break the results' lines.
    write_settings((("kernel/printk", 1), ("vm/dirty_writeback_centisecs", 0)))
    os.chmod("/guest/bigfile", 0o755)
    if config["musl"]:
        os.chmod("/guest/bigfile-musl", 0o755)
    os.environ.update(config["environment"])
    by_name = {fs.name: fs for fs in FILESYSTEMS}

    def cases_on(name):
        if name == MUSL:
            return musl_cases(config["release"])
        return guest_cases(name.removesuffix(PACED), config["release"], config["new_library"],
                           grows(name, config["volumes"]))
    places, unmounted = {"tmpfs": None, **({MUSL: None} if config["musl"] else {})}, {}
    for name in config["volumes"]:
        places[name], unmounted[name] = mount(by_name[name.removesuffix(PACED)], name,
                                              devices.get(name), cases_on(name))
    for name, (verdict, why) in config["absent"].items():  # no volume: the host says why
        places[name], unmounted[name] = None, every_case(verdict, why, cases_on(name))
    bits = "64" if sys.maxsize > 1 << 32 else "32"  # the guest's programs are its kernel's

    def leg(name):
        """Starts the table on one volume; returns what finish() takes."""
        begun = time.monotonic()
        if unmounted.get(name):
            return name, None, unmounted[name], begun
        binary, filesystem = ("/guest/bigfile-musl", "tmpfs") if name == MUSL else \
            ("/guest/bigfile", name.removesuffix(PACED))
        argv = ["cases.py", binary, *(c["name"] for c in cases_on(name)),
                "--kernel-bits", bits, "--kernel-release", str(config["release"]), "--progress",
                "--filesystem", filesystem]
        how = grows(name, config["volumes"])
        argv += ["--grows", how] if how else []
        argv += ["--work-root", places[name]] if places[name] else []
        output = f"/tmp/leg-{name}"
        return name, run_cases(argv, output), output, begun

    def finish(name, child, output, begun):
        """Waits for a leg, and shows its results: its progress went to the
        console as it came."""
        if child is not None:
            os.waitpid(child, 0)
            output = pathlib.Path(output).read_text(encoding="utf-8", errors="replace")
        say("begin", name)
        print(output, end="", flush=True)
        say("end", name, "took", f"{time.monotonic() - begun:.1f} s")

    # First the paced volumes, one at a time, while nothing else has written:
    # each step of a grow waits for the disk, and the disk's pace is the
    # grow's. (Afterwards, what the other legs leave unwritten would have to
    # go out through the paced disk first: an SD card on a busy machine took
    # minutes over it.)
    paced = [name for name in places if name.endswith(PACED)]
    write_settings((("vm/dirty_background_bytes", DIRTY // 2), ("vm/dirty_bytes", DIRTY)))
    for name in paced:
        finish(*leg(name))
    # Then the rest side by side, one on each processor, their results shown
    # in order. Their volumes are thrown away, so what they write stays in the
    # page cache, never going out to the paced disk.
    write_settings((("vm/dirty_background_ratio", 80), ("vm/dirty_ratio", 90)))
    waiting, running = [name for name in places if name not in paced], []
    while waiting or running:
        while waiting and len(running) < (os.cpu_count() or 1):
            running.append(leg(waiting.pop(0)))
        finish(*running.pop(0))
    if os.path.exists("/guest/package.deb"):
        begun = time.monotonic()
        say("begin", "dpkg")
        print(package_test(), flush=True)
        say("end", "dpkg", "took", f"{time.monotonic() - begun:.1f} s")
    say("done in", f"{time.monotonic() - started:.1f} s")


def run_cases(argv, output):
    """Runs the table as cases.py does, its results going to the file output,
    in a child of this process, which has it imported already: starting Python
    and importing it again would take seconds on an emulated board, for each
    volume. Returns the child's process ID."""
    child = os.fork()
    if child == 0:
        status = 1
        try:
            with open(output, "w", encoding="utf-8") as stream:
                sys.stdout = stream
                try:
                    status = cases.main(argv)
                except BaseException:  # pylint: disable=broad-except ; said in the results
                    traceback.print_exc(file=stream)
        finally:
            os._exit(status)
    return child


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
    booting = verbs.add_parser("boot")
    for option in ("--kernel-stamp", "--stamp", "--binary", "--console", "--results"):
        booting.add_argument(option, required=True)
    booting.add_argument("--release", type=int, required=True)
    booting.add_argument("--image", default="boot/vmlinuz-*")
    booting.add_argument("--dtb")
    booting.add_argument("--append", default="")
    booting.add_argument("--modules", nargs="*", default=[])
    booting.add_argument("--memory", type=int, default=1024)
    booting.add_argument("--seconds", type=int, default=900)
    booting.add_argument("--processors", type=int, default=1)
    booting.add_argument("--package")
    booting.add_argument("--new-library", action="store_true")
    booting.add_argument("--musl-binary")
    verbs.add_parser("inside")
    listing = verbs.add_parser("list")
    listing.add_argument("--release", type=int, required=True)
    listing.add_argument("--new-library", action="store_true")
    listing.add_argument("--musl", action="store_true")
    qemu = []
    if "--" in argv:
        argv, qemu = argv[:argv.index("--")], argv[argv.index("--") + 1:]
    options = parser.parse_args(argv[1:])
    if options.verb == "boot":
        return boot(options, qemu)
    if options.verb == "list":
        print(listed(options.release, options.new_library, options.musl), end="")
        return 0
    return inside()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
