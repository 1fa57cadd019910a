#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Unpacks an architecture's Debian packages into a root that the build can
use: the C library that qemu-user runs a foreign binary on, and the kernels
and programs of the guests that the tests boot.

  debian-root.py ARCH PACKAGE... --cache DIR --stamp FILE [--release SUITE]
                 [--required]

Unpacks ARCH's packages and their dependencies from this machine's apt
sources (for the release SUITE, if given, instead of this machine's own),
through mmdebstrap's private apt state, into a root under DIR, and writes the
root's path to FILE. It never adds an architecture to dpkg nor touches
/etc/apt. A root is made once for each set of packages and sources; the
packages themselves are kept under DIR by version, so that making a root
again fetches only what changed. When they cannot be had, FILE says why, and
the tests that need the root show as skipped (--required: the fetch fails
instead, unless the mirror's answer was final).
"""
import argparse
import fcntl
import glob
import hashlib
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tests"))
from cases import supervise  # noqa: E402  pylint: disable=wrong-import-position

ATTEMPTS = 3  # a failed fetch is tried again, RETRY s later, then twice that
RETRY = 30
REMEMBERED = 6 * 3600  # how long the mirror's final answers are believed


def apt_sources(suite):
    """This machine's own apt sources, in the form that mmdebstrap reads,
    for the release named suite (None: this machine's own)."""
    sources = host_sources()
    return sources if suite is None else sources.replace(release(sources), suite)


def host_sources():
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


def fetch(arch, packages, suite, cache, stamp, required):
    os.makedirs(cache, exist_ok=True)
    return fetch_locked(arch, packages, apt_sources(suite), cache, stamp, required)


def fetch_locked(arch, packages, sources, cache, stamp, required):
    key = hashlib.sha256(repr((arch, sorted(packages), sources)).encode()).hexdigest()[:16]
    root = os.path.join(cache, f"{arch}-{key}")
    # Builds of several ABIs fetch side by side, one of them each root. The
    # packages that they keep are shared by links and renames, which never
    # show a package half-written.
    with open(f"{root}.lock", "w", encoding="utf-8") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        return fetch_root(arch, packages, sources, cache, stamp, required, root)


def fetch_root(arch, packages, sources, cache, stamp, required, root):
    debs = os.path.join(cache, "debs")
    os.makedirs(debs, exist_ok=True)
    if not os.path.exists(os.path.join(root, ".complete")):
        shutil.rmtree(root, ignore_errors=True)
        unpacking = root + ".unpacking"
        started = time.monotonic()
        if not shutil.which("mmdebstrap"):
            return not_fetched(arch, "", "mmdebstrap is missing (apt-get install mmdebstrap)",
                               stamp, required)
        archives = os.path.join(unpacking, "var/cache/apt/archives")
        # The mirror's answers that no retry changes are believed for a while,
        # so that each build and each pack does not ask it again.
        output, status, why = remembered(f"{root}.log", sources), 1, None
        if output is None:
            status, why, output = unpack(arch, packages, sources, debs, root, unpacking)
        # A mirror caught syncing an update suite serves indices that
        # disagree with its release file, sometimes for days. The release's
        # own suite still has every package, at its point release.
        broken = torn(output, sources) if status != 0 else []
        if broken:
            print(f"{arch}: the mirror's {' '.join(broken)} disagrees with itself; unpacking "
                  "without it", flush=True)
            return fetch_locked(arch, packages, without(sources, broken), cache, stamp, required)
        if status != 0:
            return not_fetched(arch, output, why, stamp, required)
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
    # A root of Debian 13 keeps everything under /usr, without the old links
    # that programs' interpreters and the guests' init are found by.
    for link in ("bin", "sbin", "lib", "lib64"):
        if not os.path.lexists(os.path.join(root, link)):
            os.symlink(f"usr/{link}", os.path.join(root, link))
    with open(stamp, "w", encoding="utf-8") as out:
        out.write(root + "\n")
    return 0


def not_fetched(arch, output, why, stamp, required):
    """Says why the root was not made, in the stamp, where its tests show it
    as skipped; or, with --required, fails, unless the mirror's answer was
    final: it has no such architecture, or no such file (404)."""
    final = final_answer(output)
    if final:
        why = f"the mirror says: {final[1].strip()}"
    elif output:
        why = "the packages could not be fetched from this machine's apt sources: " + " / ".join(
            ([why] if why else []) + output.strip().splitlines()[-3:])
    if required and not final:
        print(output, file=sys.stderr)
        sys.exit(f"guest.py: {arch}: {why}")
    with open(stamp, "w", encoding="utf-8") as out:
        out.write(f"skipped: {arch}: {why}\n")
    print(f"{arch}: {why}")
    return 0


def final_answer(output):
    """The mirror's answer that no retry changes, in mmdebstrap's output: it
    has no such architecture, or no such file (404)."""
    return re.search(r"^E: (Failed to fetch \S+\s+404\b.*|apt-get update did not find any "
                     r"indices .*)$", output, re.MULTILINE)


def unpack(arch, packages, sources, debs, root, unpacking):
    """Runs mmdebstrap, again after a failure that a retry may mend; returns
    its status, why it was stopped, and its output."""
    archives = os.path.join(unpacking, "var/cache/apt/archives")
    for attempt in range(1, ATTEMPTS + 1):
        shutil.rmtree(unpacking, ignore_errors=True)
        with open(f"{root}.sources", "w+", encoding="utf-8") as listed:
            listed.write(sources)
            listed.seek(0)
            status, why, _ = supervise(
                ["mmdebstrap", "--variant=extract", f"--architectures={arch}",
                 f"--include={','.join(packages)}", "--skip=download/empty",
                 "--skip=cleanup/apt/cache", '--setup-hook=mkdir -p "$1"/var/cache/apt/archives',
                 # Linked, not copied: the packages kept are a gigabyte or more.
                 f'--setup-hook=cp -al {debs}/. "$1"/var/cache/apt/archives/',
                 # The packages that the root is made of, as apt chose them:
                 # the guest's dpkg database is written from them.
                 "--extract-hook=APT_CONFIG=$MMDEBSTRAP_APT_CONFIG apt-get install "
                 f"--print-uris -qq -o Dir::Cache::Archives=/nonexistent "
                 f"{' '.join(packages)} > \"$1/.uris\"",
                 release(sources), unpacking, "-"],
                f"{root}.log", lambda: bytes_under(archives), stdin=listed)
        with open(f"{root}.log", encoding="utf-8", errors="replace") as file:
            output = file.read()
        if status == 0 or final_answer(output) or torn(output, sources) \
                or attempt == ATTEMPTS:
            break
        print(f"{arch}: attempt {attempt} failed, again in {RETRY * attempt} s: "
              + " / ".join(output.strip().splitlines()[-2:]), flush=True)
        time.sleep(RETRY * attempt)
    return status, why, output


def remembered(log, sources):
    """The output of the root's last fetch, when it failed within the last
    REMEMBERED seconds with an answer that no retry changes."""
    if not os.path.exists(log) or time.time() - os.path.getmtime(log) > REMEMBERED:
        return None
    with open(log, encoding="utf-8", errors="replace") as file:
        output = file.read()
    return output if final_answer(output) or torn(output, sources) else None


def torn(output, sources):
    """The update suites (not the release's own) whose indices the mirror
    served at another size or checksum than its release file says."""
    failed = re.findall(r"^E: Failed to fetch \S+/dists/([^/\s]+)/\S+\s+(?:File has unexpected "
                        r"size|Hash Sum mismatch)", output, re.MULTILINE)
    return sorted(set(failed) - {release(sources)})


def without(sources, suites):
    """The sources without the suites named, in either format; a stanza or
    line left with no suite goes."""
    kept = []
    for stanza in re.split(r"\n\s*\n", sources):
        lines = [line for line in stanza.splitlines()
                 if not (line.split()[:1] == ["deb"] and set(line.split()) & set(suites))]
        for number, line in enumerate(lines):
            if line.split()[:1] == ["Suites:"]:
                lines[number] = " ".join(w for w in line.split() if w not in suites)
        if lines and "Suites:" not in lines:  # a stanza whose every suite went is gone
            kept.append("\n".join(lines))
    return "\n\n".join(kept) + "\n"


def bytes_under(top):
    """How much is under top: what shows a download's progress. Files come
    and go as it runs."""
    total = 0
    for directory, _, names in os.walk(top):
        for name in names:
            try:
                total += os.lstat(os.path.join(directory, name)).st_size
            except FileNotFoundError:
                pass
    return total


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


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", maxsplit=1)[0])
    parser.add_argument("arch")
    parser.add_argument("packages", nargs="+")
    parser.add_argument("--cache", required=True)
    parser.add_argument("--stamp", required=True)
    parser.add_argument("--release")
    parser.add_argument("--required", action="store_true")
    options = parser.parse_args(argv[1:])
    return fetch(options.arch, options.packages, options.release, options.cache, options.stamp,
                 options.required)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
