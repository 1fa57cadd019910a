#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""End-to-end cases: each runs the real binary in a fresh scratch directory and
checks both output streams, the exit status and the file that the run leaves.

  cases.py --list                          the case names, one a line
  cases.py BINARY [NAME...] [-- RUNNER...]  run the named cases (all by default),
                                           under RUNNER (an emulator) if given

A case that cannot run here (no strace to read a native run's system calls)
is skipped; a run whose every case was skipped exits with 77.
"""
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77

MiB = 1 << 20
PATTERN = bytes(range(1, 256)) * (3 * MiB // 255 + 1)
EINVAL = "[22]-ftruncate64 error: Invalid argument\n"
EFBIG = "[27]-ftruncate64 error: File too large\n"


def sized(total, last="OK\n", offset=None):
    """The report lines for a count (None: no argument) that ends with last."""
    head = "" if total is None else f"total={total}\n"
    return f"{head}offset={(total or 0) * MiB if offset is None else offset}\n{last}"


def existing(data, mode=0o644, length=None):
    def make(path):
        with open(path, "wb") as file:
            file.write(data)
            file.truncate(len(data) if length is None else length)
        os.chmod(path, mode)
    return make


def link_to(target):
    return lambda path: os.symlink(target, path)


def status_agrees_with_last_line(out, status):
    """Whether a file system can hold 2^51 bytes is its own affair; the last
    line and the status must agree about it."""
    ends = {0: r"OK\n", 1: r"\[\d+\]-ftruncate64 error: [^\n]+\n"}
    head = re.escape(sized(2147483647, "", 2251799812636672))
    return status in ends and re.fullmatch(head + ends[status], out) is not None


def case(name, args, out, err="", status=0, size=None, **extra):
    return dict(name=name, args=args, out=out, err=err, status=status, size=size, **extra)


def sized_to(name, argument, total, **extra):
    """A run that succeeds and leaves a file of total MiB."""
    return case(name, [argument], sized(total), size=total * MiB, **extra)


# out: the whole standard output, or a check of (out, status). size: the file's
# length afterwards. extra: setup (makes what is in the way), path (the file to
# check, if not bigfile), content (its first bytes), mode, sparse (no blocks),
# absent (nothing created), umask, fsize (ulimit -f), stdout ("closed", "full",
# "broken-pipe"), merge (one stream for both), unprivileged (run as nobody in a
# read-only directory), traced (check the program's own system calls).
DIR_ERR = "bigfile: Is a directory\n"
CASES = [
    case("no-argument-cuts", [], sized(None), size=0, setup=existing(b"data")),
    case("no-argument-creates", [], sized(None), size=0, mode=0o644),
    *(sized_to(f"count-{n}", str(n), n, sparse=True, mode=0o644) for n in (1, 2048, 3000, 4096)),
    sized_to("system-calls", "3000", 3000, traced=True),
    sized_to("large-file-cut", "3000", 3000, setup=existing(b"big", length=4096 * MiB + 1),
             content=b"big"),
    sized_to("empty-argument", "", 0),
    sized_to("text", "abc", 0),
    sized_to("leading-blanks", " \t 7", 7),
    sized_to("plus-sign", "+3", 3),
    sized_to("trailing-letters", "12abc", 12),
    sized_to("hexadecimal", "0x10", 0),
    sized_to("sign-then-blank", "- 5", 0),
    case("second-argument-ignored", ["2", "7"], sized(2), size=2 * MiB),
    case("minus-one", ["-1"], sized(-1, EINVAL), status=1, size=0),
    case("int32-min", ["-2147483648"], sized(-2147483648, EINVAL), status=1, size=0),
    case("below-range", ["-99999999999"], sized(-2147483648, EINVAL), status=1, size=0),
    case("beyond-range", ["99999999999"], status_agrees_with_last_line),
    sized_to("longer-file-cut", "1", 1, setup=existing(PATTERN), content=PATTERN[:MiB]),
    sized_to("shorter-file-grows", "1", 1, setup=existing(b"hello"),
             content=b"hello" + bytes(MiB - 5)),
    sized_to("mode-kept", "1", 1, setup=existing(b"", 0o600), mode=0o600),
    sized_to("umask-0", "1", 1, umask=0, mode=0o644),
    sized_to("umask-077", "1", 1, umask=0o077, mode=0o600),
    case("file-size-limit", ["2"], sized(2, EFBIG), status=1, size=0, fsize=MiB),
    case("fifo", ["1"], sized(1, EINVAL), status=1, setup=os.mkfifo),
    sized_to("symlink-followed", "1", 1, path="target", setup=link_to("target")),
    case("dangling-link", ["1"], "total=1\n", "bigfile: No such file or directory\n", 255,
         setup=link_to("missing/bigfile")),
    case("directory", ["5"], "total=5\n", DIR_ERR, 255, setup=os.mkdir),
    case("directory-one-stream", ["5"], "total=5\n" + DIR_ERR, status=255, merge=True,
         setup=os.mkdir),
    case("directory-stdout-closed", ["5"], "", DIR_ERR, 255, stdout="closed",
         setup=os.mkdir),
    case("stdout-full", ["1"], "", size=MiB, stdout="full"),
    case("stdout-reader-gone", ["1"], "", size=MiB, stdout="broken-pipe"),
    case("permission-denied", ["1"], "total=1\n", "bigfile: Permission denied\n", 255,
         unprivileged=True, absent=True),
]


def system_call_faults(log, binary, length):
    """An emulator opens files through the host's own 64-bit calls, so only the
    program's system calls show whether a 32-bit build asks for large-file
    access and hands the length call all 64 bits. A 64-bit build has neither
    O_LARGEFILE nor ftruncate64: its offsets are 64 bits already."""
    with open(binary, "rb") as elf:
        thirty_two = elf.read(5)[4] == 1  # EI_CLASS: ELFCLASS32
    calls = re.sub(r",\s+", ",", log)  # strace writes "a, b", qemu "a,b"
    opened = re.search(r'open(?:at)?\((?:AT_FDCWD,)?"bigfile",([\w|]+),(\w+)\)\s*=\s*(\d+)',
                       calls)
    if not opened:
        return ["the system calls show no open of bigfile"]
    flags, mode, fd = set(opened[1].split("|")), opened[2], opened[3]
    want_flags = {"O_RDWR", "O_CREAT"} | ({"O_LARGEFILE"} if thirty_two else set())
    length_call = f"ftruncate{'64' if thirty_two else ''}({fd},{length})"
    faults = []
    if (flags, mode) != (want_flags, "0644"):
        faults.append(f"opened with {'|'.join(sorted(flags))}, {mode}; "
                      f"want {'|'.join(sorted(want_flags))}, 0644")
    if len(re.findall(r"\bftruncate(?:64)?\(", calls)) != 1 or length_call not in calls:
        faults.append(f"the length calls are not exactly one {length_call}")
    return faults


def traced(command, emulated, log, environment):
    """The command, made to write the program's system calls to log (qemu-user
    writes the calls it emulates, strace those of a native run); None when
    there is no strace."""
    if emulated:
        environment.update(QEMU_STRACE="1", QEMU_LOG_FILENAME=log)
        return command
    if not shutil.which("strace"):
        return None
    # LeakSanitizer stops a sanitized build that is traced.
    leaks_off = [environment.get("ASAN_OPTIONS"), "detect_leaks=0"]
    environment["ASAN_OPTIONS"] = ":".join(filter(None, leaks_off))
    return ["strace", "-f", "-o", log, "--"] + command


def run(binary, c, scratch, runner):
    """Runs one case in scratch; returns a list of what went wrong, or None
    when the case cannot run here."""
    work = os.path.join(scratch, "work")
    os.mkdir(work)
    path = os.path.join(work, "bigfile")
    if "setup" in c:
        c["setup"](path)
    command = runner + [shutil.copy(binary, scratch)] + c["args"]
    log = os.path.join(scratch, "system-calls")
    environment = dict(os.environ)
    if c.get("traced"):
        command = traced(command, bool(runner), log, environment)
        if command is None:
            return None
    if c.get("unprivileged"):
        os.chmod(scratch, 0o755)
        os.chmod(work, 0o555)
        if os.geteuid() == 0:
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + command

    def prepare_child():
        os.umask(c.get("umask", 0o022))
        if "fsize" in c:
            resource.setrlimit(resource.RLIMIT_FSIZE, (c["fsize"], c["fsize"]))
        if c.get("stdout") == "closed":
            os.close(1)
        elif c.get("stdout"):  # full, or a pipe whose reader has gone
            reader, writer = os.pipe()
            os.close(reader)
            os.dup2(os.open("/dev/full", os.O_WRONLY) if c["stdout"] == "full" else writer, 1)

    try:
        done = subprocess.run(command, cwd=work, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT if c.get("merge") else subprocess.PIPE,
                              preexec_fn=prepare_child, env=environment, timeout=20,
                              check=False)
    except subprocess.TimeoutExpired:
        return ["the run did not end within 20 s"]
    out, err = done.stdout.decode(), (done.stderr or b"").decode()
    status = done.returncode  # negative: killed by that signal
    faults = []
    if callable(c["out"]):
        if not c["out"](out, status) or err != c["err"]:
            faults.append(f"stdout {out!r}, stderr {err!r} and status {status} disagree")
    elif (out, err, status) != (c["out"], c["err"], c["status"]):
        faults.append(f"got stdout {out!r}, stderr {err!r}, status {status}; "
                      f"want {c['out']!r}, {c['err']!r}, {c['status']}")
    target = os.path.join(work, c.get("path", "bigfile"))
    if c.get("absent") and os.path.lexists(target):
        faults.append("the run left a file behind")
    if c["size"] is not None:
        info = os.stat(target)
        with open(target, "rb") as file:
            first_bytes = file.read(len(c.get("content", "")))
        found = dict(size=info.st_size, sparse=info.st_blocks == 0,
                     mode=oct(info.st_mode & 0o7777), content=first_bytes)
        want = dict(c, mode=oct(c.get("mode", 0)))
        faults += [f"{key}: got {found[key]!r:.80}, want {want[key]!r:.80}"
                   for key in found if key in c and found[key] != want[key]]
    if c.get("traced"):
        with open(log, encoding="utf-8", errors="replace") as calls:
            faults += system_call_faults(calls.read(), binary, c["size"])
    return faults


def main(argv):
    if argv[1:] == ["--list"]:
        print("\n".join(c["name"] for c in CASES))
        return 0
    args, runner = argv[1:], []
    if "--" in args:
        args, runner = args[:args.index("--")], args[args.index("--") + 1:]
    binary, names = os.path.abspath(args[0]), args[1:]
    chosen = [c for c in CASES if not names or c["name"] in names]
    print(f"running {binary} " + (f"under {' '.join(runner)}" if runner else "natively"))
    failed = skipped = 0
    for c in chosen:
        with tempfile.TemporaryDirectory(prefix="bigfile-case-") as scratch:
            faults = run(binary, c, scratch, runner)
        if faults is None:
            skipped += 1
            print(f"skipped: {c['name']} (no strace to read the system calls; "
                  "apt-get install strace)")
            continue
        failed += bool(faults)
        print(f"{'FAIL' if faults else 'ok'}: {c['name']}" + "".join(f"\n  {f}" for f in faults))
    print(f"{len(chosen) - failed - skipped} passed, {failed} failed, {skipped} skipped")
    if failed or not chosen:
        return 1
    return SKIPPED if skipped == len(chosen) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
