#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""End-to-end cases: each runs the real binary in a fresh scratch directory and
checks both output streams, the exit status and the file that the run leaves.

  cases.py --list                          the case names, one a line
  cases.py BINARY [NAME...] [OPTIONS] [-- RUNNER...]
                                           run the named cases (all by default),
                                           under RUNNER (an emulator) if given
  --filesystem NAME --kernel-bits 32|64 --kernel-release 12|13
                                           the file system (of filesystems.py), and
                                           the word size and Debian release of the
                                           kernel that the cases run on, where they
                                           are known: the cases then expect what
                                           that file system does there
  --work-root DIR                          make each case's directory in DIR
  --grows paced|cached                     the volume's writes go at the disk's
                                           pace: run only the cases that need a
                                           slow grow; or they stay in the page
                                           cache: leave those cases out
  --progress                               say on standard error as each case
                                           starts, and how far a long one got
  --note TEXT                              say TEXT about the runner first

A case that cannot run here (no strace to read a native run's system calls, a
file system without links) is skipped; a run whose every case was skipped
exits with 77.
"""
import argparse
import contextlib
import fcntl
import glob
import os
import pathlib
import pty
import re
import resource
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from filesystems import BY_NAME, EFBIG, ENOSPC, LARGEST, RELEASES  # noqa: E402  pylint: disable=wrong-import-position

SKIPPED = 77
# A run fails when it has shown no progress (no output, no change to the file
# it works on) for STALLED seconds: it hung. One that still makes progress
# after MOST seconds fails as too slow. A busy machine makes a run slow, never
# silent, so neither limit needs to allow for the load.
STALLED = 60
MOST = 1200  # within ctest's own limit for a test, 1500 s
GRACE = 5  # between asking a run to stop with SIGTERM and killing its group
PROGRESS = 10  # how often a run that goes on says how far it got, when asked

MiB = 1 << 20
# What a case's outcome depends on: the ABI alone (its binary and its C
# library: how the count is read, the lines written, the system calls made);
# the kernel too (its release and word size: what it answers those calls);
# or the file system too. Each depends on everything before it. The host's
# table runs every case once for each ABI; a guest runs a case again only
# where something that it depends on is new there: a case of the kernel on the
# guest's own tmpfs, a case of the file system on every volume, and a case of
# the ABI alone where the guest's C library is another than the host's table
# ran it on (a newer release's).
ABI, KERNEL, FILESYSTEM = DEPENDS = ("abi", "kernel", "filesystem")
PATTERN = bytes(range(1, 256)) * (3 * MiB // 255 + 1)
EINVAL = "[22]-ftruncate64 error: Invalid argument\n"


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


def usage_shown(out, status):
    return status == 0 and re.fullmatch(r"usage: bigfile \[COUNT\]\n.*\nThe manual: man bigfile\n",
                                        out, re.DOTALL) is not None


def version_shown(out, status):
    return status == 0 and re.fullmatch(r"bigfile \d+\.\d+\.\d+\n", out) is not None


def case(name, args, out, err="", status=0, size=None, depends=FILESYSTEM, **extra):
    return dict(name=name, args=args, out=out, err=err, status=status, size=size,
                depends=depends, **extra)


def sized_to(name, argument, total, **extra):
    """A run that asks for total MiB (a number, or what a file system and a
    kernel give it). It succeeds and leaves a file of that length unless the
    file system refuses the length, and then the file stays as it was."""
    return case(name, [argument], None, total=total, **extra)


def on_known_volumes(name, total_on, **extra):
    """A sizing case whose count comes from what the file system does, the
    kernel, and the length that the free space could take the file to: a
    number, or why the case does not apply there."""
    return sized_to(name, None, total_on, known_only=True, **extra)


def largest(fs, where, _):
    return fs.largest[where.kernel] if fs.largest else "only the free space stops a file there"


def past_largest(fs, where, _):
    if not fs.largest or fs.largest[where.kernel] == LARGEST:
        return "it takes every count"
    return fs.largest[where.kernel] + 1


def past_free_space(fs, _, reach):
    return reach // MiB + 1 if fs.allocates else "growing takes no room there"


def within_free_space(fs, where, reach):
    """A count whose grow fills the volume almost to the end, and takes time."""
    if where.release not in fs.zeroes:
        return "growing is instant there: no grow takes time"
    return reach // MiB - 1 if reach >= 4 * MiB else "the volume has no room to grow into"


def expectation(c, fs, where, before, space):
    """What a sizing case gives on fs (None: a file system whose limits are
    not known here) under where's kernel, with the file's length before the run and
    the space (bytes free, bytes in all) of its volume: the expected fields,
    or why the case does not apply."""
    if c.get("known_only") and fs is None:
        return "the limits of this file system are not known; the guests' volumes test them"
    reach = before + space[0]  # the length that the free space could take the file to
    total = c["total"](fs, where, reach) if callable(c["total"]) else c["total"]
    if isinstance(total, str):
        return total
    argument = str(total) if c["args"] == [None] else c["args"][0]
    if fs is None:
        if total * MiB > 1 << 44:  # whether it holds 16 TiB and more is its own affair
            return dict(args=[argument], out=status_agrees_with_last_line)
        refusal = None
    else:
        refusal = fs.refusal(total * MiB, total * MiB - before, *space, where.kernel)
    if c.get("put_back_fails") and (refusal != ENOSPC or where.release not in fs.zeroes):
        return "a failed length call leaves nothing to put back there"
    if not refusal:
        return dict(args=[argument], out=sized(total), status=0, size=total * MiB)
    failed = dict(args=[argument], out=sized(total, refusal + "\n"), status=1, size=None)
    if c.get("put_back_fails"):
        # The second length call, which puts the length back, is made to fail.
        return dict(failed, err=f"bigfile: cannot put back the length {before}: "
                                "Input/output error\n")
    return dict(failed, kept=True)


# out: the whole standard output, or a check of (out, status). size: the file's
# length afterwards. extra: setup (makes what is in the way), path (the file to
# check, if not bigfile), content (its first bytes), mode, sparse (no blocks;
# on a file system that allocates, blocks for every byte instead), kept (the
# file is as it was, or empty if the run made it), absent (nothing created),
# umask, fsize (ulimit -f), stdout ("closed", "full", "broken-pipe"), merge (one
# stream for both), unprivileged (run as nobody in a read-only directory),
# traced (check the program's own system calls), unix (needs modes, links or
# FIFOs), interrupt (a signal to send once the grow is well under way: the
# tool puts the length back and ends by it; SIGKILL ends it at once, and its
# child with it), ignored (the signal is ignored when the tool starts, and the
# grow completes), slow (needs a grow that takes time: on a volume whose grows
# the disk paces, never one whose writes stay in the page cache), terminal
# (standard error, and standard output unless stdout_to_file, is a terminal
# this many columns wide, which shows what the run's output shows, and the
# progress line drawn at least progress times, or never for 0; job
# "background" runs the tool as a background job there; an interrupt is then
# typed, once the line has been drawn).
# Sizing cases (sized_to) work out out, status, size and kept from what the
# file system does with their count. Every run must end by itself and leave no
# process of its own behind.
DIR_ERR = "bigfile: Is a directory\n"
CASES = [
    case("no-argument-cuts", [], sized(None), size=0, setup=existing(b"data")),
    case("no-argument-creates", [], sized(None), size=0, mode=0o644),
    *(sized_to(f"count-{n}", str(n), n, sparse=True, mode=0o644)
      for n in (1, 64, 2048, 3000, 4096)),
    sized_to("system-calls", "3000", 3000, traced=True, depends=ABI),
    sized_to("large-file-cut", "3000", 3000, setup=existing(b"big", length=4096 * MiB + 1),
             content=b"big"),
    *(sized_to(name, argument, total, depends=ABI)
      for name, argument, total in (("empty-argument", "", 0), ("text", "abc", 0),
                                    ("leading-blanks", " \t 7", 7), ("plus-sign", "+3", 3),
                                    ("trailing-letters", "12abc", 12), ("hexadecimal", "0x10", 0),
                                    ("sign-then-blank", "- 5", 0))),
    case("second-argument-ignored", ["2", "7"], sized(2), size=2 * MiB, depends=ABI),
    case("minus-one", ["-1"], sized(-1, EINVAL), status=1, size=0, depends=KERNEL),
    case("failure-keeps-file", ["-1"], sized(-1, EINVAL), status=1, setup=existing(PATTERN),
         kept=True, depends=KERNEL),
    case("int32-min", ["-2147483648"], sized(-2147483648, EINVAL), status=1, size=0,
         depends=KERNEL),
    case("below-range", ["-99999999999"], sized(-2147483648, EINVAL), status=1, size=0,
         depends=KERNEL),
    sized_to("beyond-range", "99999999999", 2147483647),
    on_known_volumes("largest-count", largest),
    on_known_volumes("past-largest-count", past_largest),
    on_known_volumes("past-free-space", past_free_space, setup=existing(PATTERN[:MiB])),
    on_known_volumes("put-back-fails", past_free_space, setup=existing(PATTERN[:MiB]),
                     put_back_fails=True),
    sized_to("longer-file-cut", "1", 1, setup=existing(PATTERN), content=PATTERN[:MiB]),
    sized_to("shorter-file-grows", "1", 1, setup=existing(b"hello"),
             content=b"hello" + bytes(MiB - 5)),
    # The kernel applies the umask, and keeps a file's mode, on every file
    # system that has modes.
    sized_to("mode-kept", "1", 1, setup=existing(b"", 0o600), mode=0o600, unix=True,
             depends=KERNEL),
    sized_to("umask-0", "1", 1, umask=0, mode=0o644, unix=True, depends=KERNEL),
    sized_to("umask-077", "1", 1, umask=0o077, mode=0o600, unix=True, depends=KERNEL),
    case("file-size-limit", ["2"], sized(2, EFBIG + "\n"), status=1, size=0, fsize=MiB),
    case("fifo", ["1"], sized(1, EINVAL), status=1, setup=os.mkfifo, unix=True, depends=KERNEL),
    sized_to("symlink-followed", "1", 1, path="target", setup=link_to("target"), unix=True,
             depends=KERNEL),
    case("dangling-link", ["1"], "total=1\n", "bigfile: No such file or directory\n", 255,
         setup=link_to("missing/bigfile"), unix=True, depends=KERNEL),
    # Every build words an error the same, whatever its C library.
    case("link-loop", ["1"], "total=1\n", "bigfile: Too many levels of symbolic links\n", 255,
         setup=link_to("bigfile"), unix=True, depends=KERNEL),
    case("directory", ["5"], "total=5\n", DIR_ERR, 255, setup=os.mkdir, depends=KERNEL),
    case("directory-one-stream", ["5"], "total=5\n" + DIR_ERR, status=255, merge=True,
         setup=os.mkdir, depends=ABI),
    case("directory-stdout-closed", ["5"], "", DIR_ERR, 255, stdout="closed",
         setup=os.mkdir, depends=ABI),
    case("stdout-closed", ["1"], "", size=MiB, stdout="closed", setup=existing(b"hello"),
         content=b"hello" + bytes(64), depends=ABI),
    case("stdout-full", ["1"], "", size=MiB, stdout="full", depends=ABI),
    case("stdout-reader-gone", ["1"], "", size=MiB, stdout="broken-pipe", depends=ABI),
    case("permission-denied", ["1"], "total=1\n", "bigfile: Permission denied\n", 255,
         unprivileged=True, absent=True, unix=True, depends=KERNEL),
    # Asking about the tool touches no file; the words nearest to those
    # questions are counts, as ever.
    *(case(f"{word.lstrip('-')}-{outcome}", [word], shown, depends=ABI,
           **(dict(setup=existing(PATTERN), kept=True) if outcome == "keeps-file" else
              dict(absent=True)))
      for word, shown in (("--help", usage_shown), ("-h", usage_shown),
                          ("--version", version_shown))
      for outcome in ("keeps-file", "creates-nothing")),
    case("help-stdout-full", ["--help"], "", status=1, stdout="full", absent=True, depends=ABI),
    *(sized_to(name, word, 0, setup=existing(b"data"), depends=ABI)
      for name, word in (("helpx", "--helpx"), ("hx", "-hx"), ("double-dash", "--"),
                         ("dash", "-"))),
    *(on_known_volumes(f"interrupt-{stop.name[3:].lower()}", within_free_space,
                       setup=existing(b"keep"), interrupt=stop, slow=True)
      for stop in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGKILL)),
    on_known_volumes("interrupt-hup-ignored", within_free_space, setup=existing(b"keep"),
                     interrupt=signal.SIGHUP, ignored=True, slow=True),
    case("terminal-quick", ["1"], sized(1), size=MiB, terminal=80, progress=0, depends=KERNEL),
    *(on_known_volumes(name, within_free_space, slow=True, **dict(dict(terminal=80, progress=3),
                                                                   **extra))
      for name, extra in (("progress", {}),
                          # How the line fits a terminal, and when it is
                          # drawn at all, is the tool's and the terminal's.
                          ("progress-narrow", dict(terminal=30, depends=KERNEL)),
                          ("progress-stdout-to-file", dict(stdout_to_file=True, depends=KERNEL)),
                          ("progress-background", dict(job="background", progress=0,
                                                       depends=KERNEL)),
                          ("progress-ctrl-c", dict(setup=existing(b"keep"), progress=1,
                                                   interrupt=signal.SIGINT)))),
]


def chosen_cases(names=(), grows=None, new=DEPENDS):
    """The cases named (all by default) that run on a volume whose grows are
    paced by the disk (the cases that need a slow grow), or cached (the
    others), or either (None); and, of those, the cases whose outcome depends
    on something that is new here (see DEPENDS)."""
    return [c for c in CASES if (not names or c["name"] in names)
            and (not grows or c.get("slow", False) == (grows == "paced"))
            and set(DEPENDS[:DEPENDS.index(c["depends"]) + 1]) & set(new)]


def system_call_faults(log, binary, length, before):
    """An emulator opens files through the host's own 64-bit calls, so only the
    program's system calls show whether a 32-bit build asks for large-file
    access and hands the length call all 64 bits. A 64-bit build needs neither
    O_LARGEFILE nor ftruncate64: its offsets are 64 bits already. A failed
    call that changed the file is followed by one that puts its length back."""
    with open(binary, "rb") as elf:
        thirty_two = elf.read(5)[4] == 1  # EI_CLASS: ELFCLASS32
    calls = re.sub(r",\s+", ",", log)  # strace writes "a, b", qemu "a,b"
    opened = re.search(r'open(?:at)?\((?:AT_FDCWD,)?"bigfile",([\w|]+),(\w+)\)\s*=\s*(\d+)',
                       calls)
    if not opened:
        return ["the system calls show no open of bigfile"]
    flags, mode, fd = set(opened[1].split("|")), opened[2], opened[3]
    want_flags = {"O_RDWR", "O_CREAT"} | ({"O_LARGEFILE"} if thirty_two else set())
    if not thirty_two:
        # musl asks for large-file access on every ABI; a 64-bit kernel gives
        # it to every open anyway. qemu shows the flag by number where its
        # own ABI has none by that name.
        flags -= {f for f in flags if f == "O_LARGEFILE" or re.fullmatch(r"0x[0-9a-f]+", f)}
    name = f"ftruncate{'64' if thirty_two else ''}"
    length_calls = re.findall(r"\bftruncate(?:64)?\([^)]*\)", calls)
    faults = []
    if (flags, mode) != (want_flags, "0644"):
        faults.append(f"opened with {'|'.join(sorted(flags))}, {mode}; "
                      f"want {'|'.join(sorted(want_flags))}, 0644")
    # The length call and any put-back are made by two processes, whose logs
    # need not come in the order of the calls.
    if sorted(length_calls) not in ([f"{name}({fd},{length})"],
                                    sorted([f"{name}({fd},{length})", f"{name}({fd},{before})"])):
        faults.append(f"the length calls are {length_calls}, not one {name}({fd},{length})")
    return faults


def traced(command, emulated, log, environment):
    """The command, made to write the program's system calls to log (qemu-user
    writes the calls it emulates, strace those of a native run, a file
    log.PID for each process, so that no call is split by another's); None
    when there is no strace."""
    if emulated:
        environment.update(QEMU_STRACE="1", QEMU_LOG_FILENAME=log)
        return command
    return under_strace(["-ff", "-o", log], command, environment)


def under_strace(options, command, environment):
    """The command under strace with options; None when there is no strace."""
    if not shutil.which("strace"):
        return None
    # LeakSanitizer stops a sanitized build that is traced.
    leaks_off = [environment.get("ASAN_OPTIONS"), "detect_leaks=0"]
    environment["ASAN_OPTIONS"] = ":".join(filter(None, leaks_off))
    return ["strace"] + options + ["--"] + command


def contents(path, most=4 * MiB):
    """The file's length and its first bytes, or None when there is none."""
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as file:
        return os.stat(path).st_size, file.read(most)


def left_in_group(group):
    """The processes of a process group that still run (zombies have ended)."""
    try:
        os.killpg(group, 0)
    except ProcessLookupError:  # the usual answer, and a quick one
        return []
    left = []
    for path in glob.glob("/proc/[0-9]*/stat"):
        try:
            with open(path, encoding="ascii", errors="replace") as file:
                state, _, pgrp = file.read().rsplit(")", 1)[1].split()[:3]
        except (OSError, ValueError):
            continue
        if int(pgrp) == group and state != "Z":
            left.append(int(path.split("/")[2]))
    return left


def supervise(command, output, progress=lambda: None, tick=lambda process: None,
              stalled=STALLED, most=MOST, poll=0.1, **options):
    """Runs command in a process group of its own, its output going to the
    file output (its error stream too, unless options send it elsewhere),
    until it ends; or until neither its output nor progress() has changed for
    stalled seconds, or it has run for most. It is then asked to stop with
    SIGTERM, and GRACE seconds later its whole group is killed. tick(process)
    is called every poll seconds as it runs. Returns its status (negative:
    the signal that ended it), why it was stopped (None if it ended by
    itself) and the processes that it left running in its group, which are
    killed too."""
    options.setdefault("stderr", subprocess.STDOUT)
    with open(output, "wb") as out, subprocess.Popen(command, start_new_session=True,
                                                     **{"stdout": out, **options}) as process:
        # Its pidfd wakes the wait the moment it ends: a sleeping poll would
        # cost a quick run in a slow guest more than the run itself.
        ended = select.poll()
        ended.register(pidfd := os.pidfd_open(process.pid), select.POLLIN)
        started = seen = time.monotonic()
        state, why = None, None
        while not why:
            if ended.poll(poll * 1000):
                break
            now = time.monotonic()
            if (os.fstat(out.fileno()).st_size, progress()) != state:
                state, seen = (os.fstat(out.fileno()).st_size, progress()), now
            if now - seen > stalled:
                why = f"it hung: no output and no progress for {stalled} s"
            elif now - started > most:
                why = f"it was slow: still making progress after {most} s"
            tick(process)
        if why:
            process.terminate()
            if not ended.poll(GRACE * 1000):  # a run that ignores SIGTERM is reaped only so
                os.killpg(process.pid, signal.SIGKILL)
        os.close(pidfd)
    deadline = time.monotonic() + (0 if why else 1)  # a child dies with its parent in a moment
    while left_in_group(process.pid) and time.monotonic() < deadline:
        time.sleep(0.01)
    left = left_in_group(process.pid)
    if why or left:
        with contextlib.suppress(ProcessLookupError):  # nothing of it is left
            os.killpg(process.pid, signal.SIGKILL)
    return process.returncode, why, [] if why else left


def file_state(path):
    """What shows a run's progress on its file: its length and its blocks."""
    with contextlib.suppress(OSError):
        info = os.stat(path)
        return info.st_size, info.st_blocks
    return None


# A redraw of the progress line: to the start of the line, the line, the rest
# of the line erased.
REDRAWN = re.compile(rb"\r([^\r\n\033]+)\033\[K")
# Runs the command as a background job of the terminal that it is started on,
# as a shell with job control would: in a process group of its own, which is
# not the terminal's foreground group. It exits as the job does.
BACKGROUND = """import os, sys
job = os.fork()
if job == 0:
    os.setpgid(0, 0)
    os.execvp(sys.argv[1], sys.argv[1:])
sys.exit(os.waitstatus_to_exitcode(os.waitpid(job, 0)[1]) % 256)
"""


def screen(written, width):
    """What a terminal width columns wide shows once written (bytes) has been
    written to it: its lines, without trailing blanks, and whether anything
    went past its last column. It knows what the tool may write: text,
    carriage returns, newlines, and erasing to the end of the line."""
    rows, row, column, wide = [[]], 0, 0, False
    for piece in re.split(r"(\r|\n|\033\[K)", written.decode("utf-8", errors="replace")):
        if piece == "\r":
            column = 0
        elif piece == "\n":
            row, column = row + 1, 0
        elif piece == "\033[K":
            del rows[row][column:]
        for character in "" if piece in ("\r", "\n", "\033[K") else piece:
            if column == width:  # the terminal wraps it onto the next line
                row, column, wide = row + 1, 0, True
            rows += [[] for _ in range(row + 1 - len(rows))]
            rows[row] += [" "] * (column + 1 - len(rows[row]))
            rows[row][column] = character
            column += 1
        rows += [[] for _ in range(row + 1 - len(rows))]
    lines = ["".join(r).rstrip() for r in rows]
    while lines and not lines[-1]:
        lines.pop()
    return lines, wide


def terminal_faults(c, shown):
    """What is wrong with what a case that runs on a terminal left on it."""
    lines, wide = screen(shown, c["terminal"])
    want = (c["out"] if not c.get("stdout_to_file") else "") + c["err"]
    redrawn = REDRAWN.findall(shown)
    percentages = [int(p) for p in re.findall(rb"(\d+)%", b"\n".join(redrawn))]
    faults = [] if lines == want.splitlines() else [f"the terminal shows {lines}, not {want!r}"]
    if wide:
        faults.append(f"a line was wider than the terminal's {c['terminal']} columns: {shown!r:.300}")
    if len(redrawn) < c["progress"] or (c["progress"] == 0 and redrawn):
        faults.append(f"the progress line was drawn {len(redrawn)} times, want "
                      + (f"{c['progress']} or more" if c["progress"] else "none") + f": {redrawn}")
    if percentages != sorted(percentages):
        faults.append(f"the percentage fell: {percentages}")
    return faults


def execute(command, c, scratch, target, grow, merge, report, **options):
    """Runs the command under supervise(); in a case that interrupts it, sends
    the case's signal once the file has grown a tenth of the way from grow's
    first length to its second; report(text), if given, hears every PROGRESS
    seconds how far it got. Returns both streams' text, the status (negative:
    ended by that signal), a note on the run (how far the grow had got when
    the signal came, and how long the tool took to end after it) and what
    went wrong with the run itself (it hung or was slow, it left a process
    behind, or the grow was not under way when the signal came)."""
    sent, reported, shown = [], [time.monotonic()], bytearray()
    start, end = grow
    under_way = start + max(1, (end - start) // 10)
    out, err = os.path.join(scratch, "out"), os.path.join(scratch, "err")
    master = None
    if "terminal" in c:  # the terminal is standard error, and standard output unless a file
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, c["terminal"], 0, 0))
        os.set_blocking(master, False)
        options.update(stderr=slave, **({} if c.get("stdout_to_file") else {"stdout": slave}))
        if c.get("job") == "background":
            command = [sys.executable, "-c", BACKGROUND] + command

    def read_terminal():
        with contextlib.suppress(OSError):  # nothing more to read, or nobody left to write
            while master is not None and (chunk := os.read(master, 4096)):
                shown.extend(chunk)

    def tick(process):
        state = file_state(target)
        read_terminal()
        # On a terminal the user types Ctrl-C once they have seen the line.
        if ("interrupt" in c and not sent and (state or (0,))[0] >= under_way
                and (master is None or REDRAWN.search(shown))):
            sent.append((time.monotonic(), state[0]))
            if master is None:
                process.send_signal(c["interrupt"])
            else:
                os.write(master, b"\x03")
        if report and time.monotonic() - reported[-1] > PROGRESS:
            reported.append(time.monotonic())
            report(f"{c['name']}: {reported[-1] - reported[0]:.0f} s, the file at "
                   + (f"{state[0]} bytes" if state else "none"))

    with open(err, "wb") as error_stream:
        # An interrupt is sent within a moment of the file's growing.
        options.setdefault("stderr", subprocess.STDOUT if merge else error_stream)
        status, why, left = supervise(command, out, lambda: file_state(target), tick,
                                      poll=0.002 if "interrupt" in c else 0.1, **options)
    if master is not None:
        os.close(slave)
        read_terminal()
        os.close(master)
    note, faults = "", [why] if why else []
    if "interrupt" in c and sent:
        (when, length), ended = sent[0], time.monotonic()
        note = (f"the signal came at {(length - start) / MiB:.1f} of {(end - start) / MiB:.1f} MiB "
                f"grown ({100 * (length - start) // (end - start)}%); "
                f"it ended {ended - when:.2f} s after it")
        if length >= end:
            faults.append("the grow had ended before the signal came")
    elif "interrupt" in c:
        faults.append("the run ended before the grow was under way")
    if left:
        faults.append(f"it left processes of its own running: {left}")
    with open(out, encoding="utf-8", errors="replace") as text, \
            open(err, encoding="utf-8", errors="replace") as error_text:
        return text.read(), error_text.read(), status, note, faults, bytes(shown)


def run(binary, c, scratch, work, runner, where):
    """Runs one case in the empty directory work, with scratch for the rest;
    returns a list of what went wrong and a note on the run, or why the case
    cannot run here."""
    fs = where.filesystem
    if fs and not fs.unix and c.get("unix"):
        return f"{fs.name} has no Unix modes, links or FIFOs"
    path = os.path.join(work, "bigfile")
    target = os.path.join(work, c.get("path", "bigfile"))
    if "setup" in c:
        try:
            c["setup"](path)
        except OSError as error:
            if fs is None:
                raise
            return f"{fs.name} cannot hold what the case starts from: {error.strerror}"
    before = contents(target)
    if "total" in c:
        volume = os.statvfs(work)
        space = volume.f_bavail * volume.f_frsize, volume.f_blocks * volume.f_frsize
        want = expectation(c, fs, where, before[0] if before else 0, space)
        if isinstance(want, str):
            return want
        c = dict(c, **want)
    if c.get("interrupt") and not c.get("ignored"):
        c = dict(c, out=sized(int(c["args"][0]), ""), status=-c["interrupt"], size=None,
                 kept=True, err=f"bigfile: interrupted: put back the length {before[0]}\n")
        if c["interrupt"] == signal.SIGKILL:  # the file may stay part-grown; its child must go
            c.update(kept=False, err="")
    if fs and not fs.unix:
        c.pop("mode", None)
    if fs and fs.allocates and c.pop("sparse", False):
        c["allocated"] = True
    command = runner + [shutil.copy(binary, scratch)] + c["args"]
    log = os.path.join(scratch, "system-calls")
    environment = dict(os.environ)
    if c.get("traced"):
        command = traced(command, bool(runner), log, environment)
    if c.get("put_back_fails"):
        if runner:
            return "strace makes the calls fail only in a native run"
        # Without -f, strace follows the tool but not the child that makes
        # the length call, so the tool's own first length call is the put-back.
        command = under_strace(["-o", "/dev/null", "-e", "inject=/^ftruncate:error=EIO:when=1"],
                               command, environment)
    if command is None:
        return "no strace to read the system calls; apt-get install strace"
    if c.get("unprivileged"):
        libraries = pathlib.Path(runner[runner.index("-L") + 1] if "-L" in runner else "/")
        if any(not p.stat().st_mode & 0o001 for p in [libraries, *libraries.parents]):
            return f"nobody cannot reach the C library that the emulator runs it on, {libraries}"
        os.chmod(scratch, 0o755)
        os.chmod(work, 0o555)
        if os.geteuid() == 0:
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + command

    def prepare_child():
        if "terminal" in c:  # the run's own session takes it as its controlling terminal
            fcntl.ioctl(2, termios.TIOCSCTTY, 0)
        if c.get("ignored"):
            signal.signal(c["interrupt"], signal.SIG_IGN)
        if "fsize" in c:
            resource.setrlimit(resource.RLIMIT_FSIZE, (c["fsize"], c["fsize"]))
        if c.get("stdout") == "closed":
            os.close(1)
        elif c.get("stdout"):  # full, or a pipe whose reader has gone
            reader, writer = os.pipe()
            os.close(reader)
            os.dup2(os.open("/dev/full", os.O_WRONLY) if c["stdout"] == "full" else writer, 1)

    if where.report:
        where.report(c["name"])
    start = before[0] if before else 0
    asked = int(c["args"][0]) * MiB if "interrupt" in c else start
    out, err, status, note, faults, shown = execute(
        command, c, scratch, target, (start, asked), c.get("merge"), where.report,
        cwd=work, env=environment, umask=c.get("umask", 0o022),
        # A run that needs no more than that starts without Python's slow fork.
        preexec_fn=prepare_child if {"ignored", "fsize", "stdout", "terminal"} & c.keys() else None)
    if faults:  # what it printed, and the file, say nothing when it had to be stopped
        return faults + [f"its output: {out!r}, {err!r}, {shown!r:.300}"], note
    if "terminal" in c:  # what went to the terminal is on it, not in the files
        faults += terminal_faults(c, shown)
        redrawn = REDRAWN.findall(shown)
        note = "; ".join(filter(None, [note, f"the line was drawn {len(redrawn)} times"
                                       + (f", the last {redrawn[-1].decode()!r}" if redrawn else "")]))
        c = dict(c, out=c["out"] if c.get("stdout_to_file") else "", err="")
    if callable(c["out"]):
        if not c["out"](out, status) or err != c["err"]:
            faults.append(f"stdout {out!r}, stderr {err!r} and status {status} disagree")
    elif (out, err, status) != (c["out"], c["err"], c["status"]):
        faults.append(f"got stdout {out!r}, stderr {err!r}, status {status}; "
                      f"want {c['out']!r}, {c['err']!r}, {c['status']}")
    if c.get("absent") and os.path.lexists(target):
        faults.append("the run left a file behind")
    # A failed run leaves the file as it was, or as the open made it: empty.
    after, kept = contents(target), before or (0, b"")
    if c.get("kept") and after != kept:
        faults.append(f"the file changed: it had {kept[0]} bytes, now "
                      + (f"{after[0]}" if after else "none") + (
                          ", other bytes" if after and after[0] == kept[0] else ""))
    if c["size"] is not None and not os.path.exists(target):
        faults.append("the run left no file")
    elif c["size"] is not None:
        info = os.stat(target)
        with open(target, "rb") as file:
            first_bytes = file.read(len(c.get("content", "")))
        found = dict(size=info.st_size, sparse=info.st_blocks == 0,
                     allocated=info.st_blocks * 512 >= info.st_size,
                     mode=oct(info.st_mode & 0o7777), content=first_bytes)
        want = dict(c, mode=oct(c.get("mode", 0)))
        faults += [f"{key}: got {found[key]!r:.80}, want {want[key]!r:.80}"
                   for key in found if key in c and found[key] != want[key]]
    if c.get("traced"):
        calls = ""
        for part in sorted(glob.glob(log + "*")):  # strace writes a file for each process
            with open(part, encoding="utf-8", errors="replace") as file:
                calls += file.read()
        faults += system_call_faults(calls, binary, int(c["args"][0]) * MiB,
                                     before[0] if before else 0)
    return faults, note


def main(argv):
    if argv[1:] == ["--list"]:
        print("\n".join(c["name"] for c in CASES))
        return 0
    runner = []
    if "--" in argv:
        argv, runner = argv[:argv.index("--")], argv[argv.index("--") + 1:]
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("binary")
    parser.add_argument("names", nargs="*")
    parser.add_argument("--filesystem", choices=sorted(BY_NAME))
    parser.add_argument("--kernel-bits", dest="kernel", type=int, choices=(32, 64))
    parser.add_argument("--kernel-release", dest="release", type=int, choices=tuple(RELEASES))
    parser.add_argument("--work-root")
    parser.add_argument("--grows", choices=("paced", "cached"))
    parser.add_argument("--progress", action="store_true")
    parser.add_argument("--note", default="")
    where = parser.parse_args(argv[1:])
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # a run that SIGQUIT ends leaves no core
    place = where.filesystem or "tmpfs"
    where.report = None
    if where.progress:
        where.report = lambda text: print(f"bigfile-case: {place}: {text}", file=sys.stderr,
                                          flush=True)
    where.filesystem = BY_NAME.get(where.filesystem)
    if where.filesystem and not (where.kernel and where.release):
        parser.error("--filesystem needs --kernel-bits and --kernel-release")
    binary = os.path.abspath(where.binary)
    chosen = chosen_cases(where.names, where.grows)
    print(f"running {binary} " + (f"under {' '.join(runner)}" if runner else "natively")
          + (f" on {where.filesystem.name}" if where.filesystem else "")
          + (f", its grows {where.grows}" if where.grows else "")
          + (f" ({where.note})" if where.note else ""))
    failed = skipped = 0
    for c in chosen:
        with tempfile.TemporaryDirectory(prefix="bigfile-case-") as scratch, \
                tempfile.TemporaryDirectory(prefix="bigfile-work-", dir=where.work_root) as work:
            result = run(binary, c, scratch, work, runner, where)
        if isinstance(result, str):
            skipped += 1
            print(f"skipped: {c['name']} ({result})")
            continue
        faults, note = result
        failed += bool(faults)
        print(f"{'FAIL' if faults else 'ok'}: {c['name']}" + (f" ({note})" if note else "")
              + "".join(f"\n  {f}" for f in faults), flush=True)
    print(f"{len(chosen) - failed - skipped} passed, {failed} failed, {skipped} skipped")
    if failed or not chosen:
        return 1
    return SKIPPED if skipped == len(chosen) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
