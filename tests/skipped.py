#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Lists the tests that the last ctest run in a build skipped, each with its
reason, which ctest itself shows only with -V.

  tests/skipped.py [BUILD_DIR]     (default: build/dev)
"""
import os
import re
import sys

TEST = re.compile(r"^\d+/\d+ Test: (?P<name>\S+)\n.*?^Output:\n-+\n(?P<output>.*?)<end of output>",
                  re.DOTALL | re.MULTILINE)


def reason(output):
    """Why the test was skipped, from its output's first line "skipped: WHY"
    or "skipped: CASE (WHY)", when no case passed or failed beside it; None
    when it was not skipped. (The log calls a skipped test passed.)"""
    if re.search(r"^(ok|FAIL): ", output, re.MULTILINE):
        return None
    found = re.search(r"^skipped: (?:\S+ \((.*)\)|(.*))$", output, re.MULTILINE)
    return found and (found[1] or found[2])


def main(argv):
    build = argv[1] if len(argv) > 1 else "build/dev"
    log = os.path.join(build, "Testing", "Temporary", "LastTest.log")
    try:
        with open(log, encoding="utf-8", errors="replace") as file:
            text = file.read()
    except OSError as error:
        sys.exit(f"skipped.py: no test run in {build}: {error.strerror}")
    skipped = [(m["name"], reason(m["output"])) for m in TEST.finditer(text)
               if reason(m["output"])]
    for name, why in sorted(skipped):
        print(f"{name}: {why}")
    print(f"{len(skipped)} tests skipped")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
