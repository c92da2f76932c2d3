"""Thread scaling on a free-threaded CPython: every _accel function against a CPython builtin of
the same call shape, each called by one thread and then by two at once, side by side in one
process.

usage: python bench/scaling.py [--rounds N] [--calls N]

A function's scaling is 2 * t1 / t2: t1 the time one thread takes for N calls, t2 the time two
threads take for N calls each, started together. The figure that counts is its share of the
builtin's scaling in the same rounds (the median of the per-round ratios); goal: at least 0.9.
On a build with the GIL two threads cannot scale, and the table says so. A row whose builtin
scaled less than 1.5 had no two cores to itself (other processes took them): it is not judged.
"""

import argparse
import math
import statistics
import sys
import sysconfig
import threading
import time

import _accel

GOAL = 0.9
# Two threads that really ran in parallel scale close to 2; below this the machine did not let
# them, and a share of such a run says nothing about the module.
PARALLEL = 1.5

# A builtin of each call shape, keyed by the text signature; arguments by parameter name.
BUILTINS = {
    "(a, b, atol=None)": ("math.isclose", "1.0, 2.0"),
    "(a, b, key=None)": ("divmod", "7.0, 2.0"),
    "(a, b, c)": ("pow", "0.3, 0.2, None"),
    "(_a, b, c)": ("pow", "0.3, 0.2, None"),
    "(a, b, c, gx, gy, gz)": ("math.hypot", "0.3, 0.2, 0.1, 1.0, 1.0, 1.0"),
}
VALUES = {"a": "0.3", "_a": "0.3", "b": "0.2", "c": "0.1", "gx": "1.0", "gy": "1.0", "gz": "1.0"}


def cases():
    """(name, accel call, builtin call) for every function of the module."""
    out = []
    for name in _accel.__all__:
        sig = getattr(_accel, name).__text_signature__
        params = [p.split("=")[0].strip() for p in sig.strip("()").split(",")]
        required = [p for p in params if p not in ("atol", "key")]
        args = ", ".join("2" if "ints" in name else VALUES.get(p, "1.0") for p in required)
        builtin, builtin_args = BUILTINS[sig]
        out.append((name, f"_accel.{name}({args})", f"{builtin}({builtin_args})"))
    return out


def compile_loop(call):
    ns = {"_accel": _accel, "math": math}
    exec(f"def loop(n):\n    for _ in range(n):\n        {call}\n", ns)
    return ns["loop"]


def timed(loop, threads, calls):
    """Seconds for `threads` threads running loop(calls) together."""
    start = threading.Barrier(threads + 1)
    done = []

    def body():
        start.wait()
        loop(calls)
        done.append(time.perf_counter())

    workers = [threading.Thread(target=body) for _ in range(threads)]
    for w in workers:
        w.start()
    start.wait()
    t0 = time.perf_counter()
    for w in workers:
        w.join()
    return max(done) - t0


def scaling(loop, calls):
    return 2 * timed(loop, 1, calls) / timed(loop, 2, calls)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--calls", type=int, default=200_000)
    args = parser.parse_args()
    gil = getattr(sys, "_is_gil_enabled", lambda: True)()
    print(f"CPython {sys.version.split()[0]}"
          f"{' free-threaded' if sysconfig.get_config_var('Py_GIL_DISABLED') else ''}, "
          f"GIL {'on' if gil else 'off'}: two-thread scaling, {args.rounds} rounds of "
          f"{args.calls} calls per thread", flush=True)
    print("| function | builtin | accel scaling | builtin scaling | share of builtin's |")
    print("|---|---|---|---|---|")
    misses, unjudged = [], []
    for name, call, builtin in cases():
        mine, base, shares = [], [], []
        loops = compile_loop(call), compile_loop(builtin)
        for loop in loops:
            loop(1000)  # warm up: specialisation, first-use state
        for _ in range(args.rounds):
            m, b = scaling(loops[0], args.calls), scaling(loops[1], args.calls)
            mine.append(m)
            base.append(b)
            shares.append(m / b)
        share, parallel = statistics.median(shares), statistics.median(base) >= PARALLEL
        print(f"| `{name}` | `{builtin.split('(')[0]}` | {statistics.median(mine):.2f} | "
              f"{statistics.median(base):.2f} | {share:.2f}{'' if parallel else ' not judged'} |",
              flush=True)
        if not parallel:
            unjudged.append(name)
        elif share < GOAL:
            misses.append(f"{name}: {share:.2f} of the builtin's scaling")
    if gil:
        print("\nthe GIL is on: two threads cannot scale here; run this on a free-threaded build")
        return 0
    if unjudged:
        print(f"\nnot judged (the builtin scaled below {PARALLEL:g}: no two free cores): "
              + ", ".join(unjudged))
    verdict = ("not judged" if len(unjudged) == len(cases()) else
               "all met" if not misses else "missed:\n  " + "\n  ".join(misses))
    print("\nscaling goal (>= %.1f of the builtin's): " % GOAL + verdict)
    return 1 if misses else 0


if __name__ == "__main__":
    sys.exit(main())
