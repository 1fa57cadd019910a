#!/usr/bin/env python3
"""End-to-end cases: each runs the real binary in a fresh scratch directory and
checks both output streams, the exit status and the file that the run leaves.

  cases.py --list            the case names, one a line
  cases.py BINARY [NAME...]  run the named cases (all by default)
"""
import os
import resource
import shutil
import subprocess
import sys
import tempfile

MiB = 1 << 20
PATTERN = bytes(range(1, 256)) * (3 * MiB // 255 + 1)
EINVAL = "[22]-ftruncate64 error: Invalid argument\n"
EFBIG = "[27]-ftruncate64 error: File too large\n"


def lines(total, offset, last):
    head = "" if total is None else f"total={total}\n"
    return head + f"offset={offset}\n" + last


def sized(total, last="OK\n"):
    return lines(total, total * MiB, last)


def existing(data, mode=0o644, length=None):
    def make(path):
        with open(path, "wb") as file:
            file.write(data)
            if length is not None:
                file.truncate(length)
        os.chmod(path, mode)
    return make


def status_agrees_with_last_line(out, status):
    """Whether a file system can hold 2^51 bytes is its own affair; the report
    and the status must agree about it."""
    head = lines(2147483647, 2251799812636672, "")
    last = out[len(head):]
    if status == 0:
        return out == head + "OK\n"
    return status == 1 and out.startswith(head) and last.startswith("[") and \
        "]-ftruncate64 error: " in last and last.count("\n") == 1


def case(name, args, out, err="", status=0, size=None, **extra):
    """out: the whole standard output, or a check of (out, status). size: the
    length of the file afterwards. extra: setup (makes what is in the way),
    path (the file to check, if not bigfile), content (its first bytes), mode,
    sparse (no blocks), absent (nothing created), umask, fsize (ulimit -f),
    stdout ("closed", "full", "broken-pipe"), merge (one stream for both),
    unprivileged (run as nobody in a read-only directory)."""
    return dict(name=name, args=args, out=out, err=err, status=status, size=size, **extra)


DIR_ERR = "bigfile: Is a directory\n"
CASES = [
    case("no-argument-cuts", [], lines(None, 0, "OK\n"), size=0, setup=existing(b"data")),
    case("no-argument-creates", [], lines(None, 0, "OK\n"), size=0, mode=0o644),
    case("count-1", ["1"], sized(1), size=MiB, sparse=True, mode=0o644),
    case("count-2048", ["2048"], sized(2048), size=2048 * MiB, sparse=True),
    case("count-3000", ["3000"], sized(3000), size=3000 * MiB, sparse=True),
    case("count-4096", ["4096"], sized(4096), size=4096 * MiB, sparse=True),
    case("large-file-cut", ["3000"], sized(3000), size=3000 * MiB,
         setup=existing(b"big", length=4096 * MiB + 1), content=b"big"),
    case("empty-argument", [""], sized(0), size=0),
    case("text", ["abc"], sized(0), size=0),
    case("leading-blanks", [" \t 7"], sized(7), size=7 * MiB),
    case("plus-sign", ["+3"], sized(3), size=3 * MiB),
    case("trailing-letters", ["12abc"], sized(12), size=12 * MiB),
    case("hexadecimal", ["0x10"], sized(0), size=0),
    case("sign-then-blank", ["- 5"], sized(0), size=0),
    case("second-argument-ignored", ["2", "7"], sized(2), size=2 * MiB),
    case("minus-one", ["-1"], sized(-1, EINVAL), status=1, size=0),
    case("int32-min", ["-2147483648"], sized(-2147483648, EINVAL), status=1, size=0),
    case("below-range", ["-99999999999"], sized(-2147483648, EINVAL), status=1, size=0),
    case("beyond-range", ["99999999999"], status_agrees_with_last_line),
    case("longer-file-cut", ["1"], sized(1), size=MiB, setup=existing(PATTERN), content=PATTERN[:MiB]),
    case("shorter-file-grows", ["1"], sized(1), size=MiB, setup=existing(b"hello"),
         content=b"hello" + bytes(MiB - 5)),
    case("mode-kept", ["1"], sized(1), size=MiB, setup=existing(b"", 0o600), mode=0o600),
    case("umask-0", ["1"], sized(1), size=MiB, umask=0, mode=0o644),
    case("umask-077", ["1"], sized(1), size=MiB, umask=0o077, mode=0o600),
    case("file-size-limit", ["2"], sized(2, EFBIG), status=1, size=0, fsize=MiB),
    case("fifo", ["1"], sized(1, EINVAL), status=1, setup=os.mkfifo),
    case("symlink-followed", ["1"], sized(1), size=MiB, path="target",
         setup=lambda path: os.symlink("target", path)),
    case("dangling-link", ["1"], "total=1\n", "bigfile: No such file or directory\n", 255,
         setup=lambda path: os.symlink("missing/bigfile", path)),
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


def run(binary, c, scratch):
    """Runs one case in scratch; returns a list of what went wrong."""
    work = os.path.join(scratch, "work")
    os.mkdir(work)
    path = os.path.join(work, "bigfile")
    if "setup" in c:
        c["setup"](path)
    command = [shutil.copy(binary, scratch)] + c["args"]
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
        elif c.get("stdout") == "full":
            os.dup2(os.open("/dev/full", os.O_WRONLY), 1)
        elif c.get("stdout") == "broken-pipe":
            reader, writer = os.pipe()
            os.close(reader)
            os.dup2(writer, 1)

    try:
        done = subprocess.run(command, cwd=work, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT if c.get("merge") else subprocess.PIPE,
                              preexec_fn=prepare_child, timeout=20, check=False)
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
        if info.st_size != c["size"]:
            faults.append(f"length {info.st_size}, want {c['size']}")
        if c.get("sparse") and info.st_blocks != 0:
            faults.append(f"{info.st_blocks} blocks allocated: data was written")
        if "mode" in c and info.st_mode & 0o7777 != c["mode"]:
            faults.append(f"mode {info.st_mode & 0o7777:o}, want {c['mode']:o}")
        if "content" in c:
            with open(target, "rb") as file:
                if file.read(len(c["content"])) != c["content"]:
                    faults.append("the file's first bytes changed")
    return faults


def main(argv):
    if argv[1:] == ["--list"]:
        print("\n".join(c["name"] for c in CASES))
        return 0
    binary, names = os.path.abspath(argv[1]), argv[2:]
    chosen = [c for c in CASES if not names or c["name"] in names]
    failed = 0
    for c in chosen:
        with tempfile.TemporaryDirectory(prefix="bigfile-case-") as scratch:
            faults = run(binary, c, scratch)
        failed += bool(faults)
        print(f"{'FAIL' if faults else 'ok'}: {c['name']}" + "".join(f"\n  {f}" for f in faults))
    print(f"{len(chosen) - failed} passed, {failed} failed")
    return 1 if failed or not chosen else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
