"""Exact instructions per call, counted with callgrind: the deterministic figure of the
benchmarks (bench/run.py, bench/overhead.py)."""

import os
import re
import subprocess
import sys

COUNT_RUN = """
import itertools, math, sys
if "np." in {call!r}:
    import numpy as np
sys.path[:0] = {paths!r}
import {module} as M
F = {callee}
def loop(n, F=F):
    for _ in itertools.repeat(None, n):
        {call}
loop(200)
loop({n})
"""


def instructions(call, module, paths, n=20000):
    """Instructions per call: callgrind totals over n and 2n calls, differenced."""
    # The callee is bound once, outside the loop: a free-threaded 3.13 does not specialise the
    # module attribute lookup, whose cost then depends on the name's place in the module's dict.
    callee = call.split("(", 1)[0]
    call = "F(" + call.split("(", 1)[1]
    totals = []
    for k in (n, 2 * n):
        code = COUNT_RUN.format(paths=paths, module=module, call=call, callee=callee, n=k)
        # NumPy's idle OpenBLAS threads would otherwise be counted too.
        proc = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                               sys.executable, "-c", code], capture_output=True, text=True,
                              env=dict(os.environ, PYTHONHASHSEED="0", OPENBLAS_NUM_THREADS="1"))
        found = re.search(r"Collected : (\d+)", proc.stderr)
        if proc.returncode != 0 or not found:
            return None
        totals.append(int(found.group(1)))
    return (totals[1] - totals[0]) / n
