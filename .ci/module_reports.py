"""Counts sanitizer and valgrind reports and fails on those that involve the _accel module.

usage: module_reports.py lsan|valgrind LOG...

Leak reports are attributed to the module when a stack frame lies in _accel's shared object and
no import runs between that frame and the allocation (objects made by an import that the module
triggers belong to sys.modules, which the interpreter never frees). Valgrind errors count when
any frame lies in the module.
"""

import re
import sys


def blocks(text, kind):
    if kind == "lsan":
        return re.split(r"\n(?=(?:Direct|Indirect) leak of )", text)[1:]
    body = re.sub(r"^==\d+== ?", "", text, flags=re.M)
    return [b for b in re.split(r"\n\s*\n", body) if re.search(r"^\s+(at|by) 0x", b, re.M)]


def ours(block, kind):
    frames = [line for line in block.splitlines() if re.match(r"\s+(#\d+|at|by) ", line)]
    for i, frame in enumerate(frames):
        if "_accel" in frame:
            if kind == "lsan" and any("PyImport" in f or "_imp_" in f for f in frames[:i]):
                return False
            return True
    return False


def main():
    kind, paths = sys.argv[1], sys.argv[2:]
    total = mine = 0
    for path in paths:
        with open(path, errors="replace") as f:
            for block in blocks(f.read(), kind):
                total += 1
                if ours(block, kind):
                    mine += 1
                    print(block, file=sys.stderr)
    print(f"{kind}: {total} reports in {len(paths)} logs, {mine} involving _accel")
    return 1 if mine else 0


if __name__ == "__main__":
    sys.exit(main())
