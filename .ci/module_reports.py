"""Counts sanitizer and valgrind reports and fails on those that involve the _accel module.

usage: module_reports.py lsan|valgrind|tsan LOG...

Leak reports are attributed to the module when a stack frame lies in _accel's shared object and
no import runs between that frame and the allocation (objects made by an import that the module
triggers belong to sys.modules, which the interpreter never frees). Valgrind errors count when
any frame lies in the module. A ThreadSanitizer report counts when one of the racing accesses
is made by the module's own code (its innermost frame) or the memory is the module's: CPython's
printing of an exception races inside CPython even when the module asked for it.
"""

import re
import sys


def blocks(text, kind):
    if kind == "lsan":
        return re.split(r"\n(?=(?:Direct|Indirect) leak of )", text)[1:]
    if kind == "tsan":
        return re.split(r"\n(?====+\nWARNING: ThreadSanitizer)", "\n" + text)[1:]
    body = re.sub(r"^==\d+== ?", "", text, flags=re.M)
    return [b for b in re.split(r"\n\s*\n", body) if re.search(r"^\s+(at|by) 0x", b, re.M)]


def ours(block, kind):
    if kind == "tsan":
        # Each stack starts at #0; the sanitizer's interceptors and the C and C++ runtimes are
        # passed over to find the code that made the access.
        stacks = re.split(r"\n(?=\s+#0 )", block)[1:]
        innermost = [next((f for f in re.findall(r"^\s+#\d+ .*$", stack, re.M)
                           if not re.search(r"libtsan|tsan_|libc\.so|libstdc\+\+", f)), "")
                     for stack in stacks]
        location = re.findall(r"^\s+Location is .*$", block, re.M)
        return any("_accel" in line for line in innermost + location)
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
