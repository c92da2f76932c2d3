"""Per-call cost of every _accel function beside CPython's own floor, a nanobind twin of the
same kernels and a pure-Python twin, measured side by side in one process.

usage: python bench/run.py [--rounds N] [--target-ms T] [--no-instructions] [--no-twin]
                          [--floor-calls N]

Each row is timed in interleaved rounds (shuffled order, garbage collection off, one compiled
call site per callee); a ratio is the median of the per-round ratios, with the spread of the
middle half. Instruction counts come from callgrind over N and 2N calls, so they are exact
and repeatable; a second table gives every function's instructions per call over a floor
module of hand-written vectorcall functions of the same call shapes (bench/overhead.py).
Absolute times are shown for orientation only.
"""

import argparse
import concurrent.futures
import ctypes
import gc
import math
import os
import random
import statistics
import subprocess
import sys
import timeit

import numpy as np

import _accel

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import overhead  # noqa: E402
import python_twin  # noqa: E402
from counts import instructions  # noqa: E402

FUZZY = ["fuzzy_equal", "fuzzy_greater_equal", "fuzzy_greater", "fuzzy_less_equal", "fuzzy_less"]
THREE = ["check_weyl_coord", "only_xx_rot", "synth_cost_by_cx", "synth_cost_by_sqisw",
         "synth_cost_by_b"]
SYNTH = {"synth_cost_by_cx", "synth_cost_by_sqisw", "synth_cost_by_b",
         "optimal_can_gate_duration"}
WITHIN_5 = 1.05


def speed(times):
    """A ratio of the other's time to ours, said as "N× faster" or, below 1, "N× slower"."""
    return f"{times:.2f}x faster" if times >= 1 else f"{1 / times:.2f}x slower"


def rows():
    """(function, form, call, floor call, floor goal as a maximum ratio or None)."""
    out = []
    for f in FUZZY:
        out.append((f, "pos", f"M.{f}(1.0, 2.0)", "math.isclose(1.0, 2.0)", WITHIN_5))
        out.append((f, "kw", f"M.{f}(a=1.0, b=2.0)", "math.isclose(a=1.0, b=2.0)", WITHIN_5))
    for f in THREE:
        names = "_a" if f == "only_xx_rot" else "a"
        out.append((f, "pos", f"M.{f}(0.3, 0.2, 0.1)", "pow(0.3, 0.2, None)", WITHIN_5))
        out.append((f, "kw", f"M.{f}({names}=0.3, b=0.2, c=0.1)",
                    "pow(base=0.3, exp=0.2, mod=None)", WITHIN_5))
    dur = "optimal_can_gate_duration"
    out.append((dur, "pos", f"M.{dur}(0.3, 0.2, 0.1, 1.0, 1.0, 1.0)",
                "math.hypot(0.3, 0.2, 0.1, 1.0, 1.0, 1.0)", 1.0))
    out.append((dur, "kw", f"M.{dur}(a=0.3, b=0.2, c=0.1, gx=1.0, gy=1.0, gz=1.0)",
                "math.hypot(0.3, 0.2, 0.1, 1.0, 1.0, 1.0)", None))
    for f, args in [("mirror_weyl_coord", "0.3, 0.2, 0.1"), ("sort_two_floats", "2.0, 1.0"),
                    ("sort_two_ints", "2, 1"), ("sort_two_objs", "2.0, 1.0")]:
        out.append((f, "pos", f"M.{f}({args})", "divmod(7.0, 2.0)", 1.0))
        kwargs = ", ".join(f"{n}={v.strip()}" for n, v in zip("abc", args.split(",")))
        out.append((f, "kw", f"M.{f}({kwargs})", "divmod(7.0, 2.0)", None))
    out.append(("sort_two_ints", "pos", "M.sort_two_ints(2, 1)", "divmod(7, 2)", None))
    for f, args in [("sort_two_floats", "2.0, 1.0"), ("sort_two_ints", "2, 1"),
                    ("sort_two_objs", "2.0, 1.0")]:
        out.append((f, "key", f"M.{f}({args}, key=abs)", "sorted((2.0, 1.0), key=abs)", None))
    unitary = "canonical_unitary"
    out.append((unitary, "pos", f"M.{unitary}(0.3, 0.2, 0.1)",
                "np.empty((4, 4), np.complex128)", 1.5))
    out.append((unitary, "kw", f"M.{unitary}(a=0.3, b=0.2, c=0.1)",
                "np.empty((4, 4), np.complex128)", None))
    return out


def check_flags():
    """Every function object must carry exactly METH_FASTCALL | METH_KEYWORDS: any other flag
    makes CPython skip its specialised call path for builtins."""
    for name in _accel.__all__:
        f = getattr(_accel, name)
        method_def = ctypes.c_void_p.from_address(id(f) + object.__basicsize__)
        flags = ctypes.c_int.from_address(method_def.value + 2 * ctypes.sizeof(ctypes.c_void_p))
        if flags.value != 0x82:
            sys.exit(f"{name}: flags {flags.value:#x}, expected 0x82")


def build_twin():
    """Builds the nanobind twin into build/ and imports it; None when nanobind is missing."""
    try:
        import nanobind
    except ImportError:
        print("nanobind not installed: no nanobind column", file=sys.stderr)
        return None
    tag = f"py{sys.version_info[0]}.{sys.version_info[1]}"
    build = os.path.join(ROOT, "build", f"bench-twin-{tag}")
    cmd = ["cmake", "-S", os.path.join(HERE, "twin"), "-B", build,
           f"-DPython_EXECUTABLE={sys.executable}", f"-Dnanobind_DIR={nanobind.cmake_dir()}"]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j", "2"], check=True, stdout=subprocess.DEVNULL)
    sys.path.insert(0, build)
    import accel_nb_twin
    return accel_nb_twin


def calibrate(timer, target):
    n = 1
    while True:
        t = timer.timeit(n)
        if t >= target / 4:
            return max(1, int(n * target / t))
        n *= 4


def measure(table, modules, rounds, target):
    """Per-round seconds per call for every (row, callee)."""
    timers = {}
    for i, (_, _, call, floor, _) in enumerate(table):
        for tag, mod in modules.items():
            g = {"M": mod, "math": math, "np": np}
            timers[(i, tag)] = timeit.Timer(call, globals=g)
        timers[(i, "floor")] = timeit.Timer(floor, globals={"math": math, "np": np})
    numbers = {k: calibrate(t, target) for k, t in timers.items()}
    samples = {k: [] for k in timers}
    keys = list(timers)
    gc.disable()
    try:
        for r in range(rounds):
            random.Random(r).shuffle(keys)
            for k in keys:
                samples[k].append(timers[k].timeit(numbers[k]) / numbers[k])
            print(f"bench: round {r + 1}/{rounds} timed", file=sys.stderr, flush=True)
    finally:
        gc.enable()
    return samples


def ratio(samples, a, b):
    rs = sorted(x / y for x, y in zip(samples[a], samples[b]))
    q = statistics.quantiles(rs, n=4) if len(rs) > 1 else [rs[0]] * 3
    return statistics.median(rs), q[0], q[2]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=21)
    parser.add_argument("--target-ms", type=float, default=2.0)
    parser.add_argument("--no-instructions", action="store_true")
    parser.add_argument("--no-twin", action="store_true")
    parser.add_argument("--floor-calls", type=int, default=20000)
    args = parser.parse_args()

    check_flags()
    twin = None if args.no_twin else build_twin()
    modules = {"accel": _accel, "python": python_twin}
    if twin is not None:
        modules["nanobind"] = twin
    table = rows()
    print(f"CPython {sys.version.split()[0]}, NumPy {np.__version__}, {args.rounds} rounds; "
          f"ratios are medians of per-round ratios [middle half]", flush=True)
    print(f"bench: timing {len(table)} rows in {args.rounds} interleaved rounds", file=sys.stderr,
          flush=True)
    samples = measure(table, modules, args.rounds, args.target_ms / 1000)

    counts = {}
    if not args.no_instructions:
        paths = [os.path.dirname(_accel.__file__), HERE]
        if twin is not None:
            paths.append(os.path.dirname(twin.__file__))
        jobs = {}
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            for i, (_, form, call, floor, _) in enumerate(table):
                if form != "pos":
                    continue
                jobs[(i, "accel")] = pool.submit(instructions, call, "_accel", paths)
                jobs[(i, "floor")] = pool.submit(instructions, floor, "_accel", paths)
                if twin is not None:
                    jobs[(i, "nanobind")] = pool.submit(instructions, call, "accel_nb_twin", paths)
            print(f"bench: counting {len(jobs)} calls under callgrind (about 10 s each)",
                  file=sys.stderr, flush=True)
            for n, (k, f) in enumerate(jobs.items(), 1):
                counts[k] = f.result()
                if n % 10 == 0 or n == len(jobs):
                    print(f"bench: {n}/{len(jobs)} counted", file=sys.stderr, flush=True)

    head = ["function", "form", "ns/call", "floor", "vs floor", "goal", "vs nanobind",
            "vs Python", "instr/call (accel / floor / nanobind)"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    misses = []
    for i, (f, form, call, floor, goal) in enumerate(table):
        ns = statistics.median(samples[(i, "accel")]) * 1e9
        m, lo, hi = ratio(samples, (i, "accel"), (i, "floor"))
        cells = [f"`{f}`", form, f"{ns:.1f}", f"`{floor}`", f"{m:.3f} [{lo:.3f}-{hi:.3f}]"]
        if goal is None:
            cells.append("")
        else:
            ok = m <= goal
            cells.append(("<= " if goal > 1 else "no slower, ") + f"{goal:g}" +
                         (" ok" if ok else " MISSED"))
            if not ok:
                misses.append(f"{f} {form}: {m:.3f} vs floor, goal {goal:g}")
        if "nanobind" in modules:
            nb = ratio(samples, (i, "nanobind"), (i, "accel"))
            cells.append(speed(nb[0]))
            if form != "key" and nb[0] < 1.3:
                misses.append(f"{f} {form}: {speed(nb[0])} than nanobind, goal 1.3x faster")
        else:
            cells.append("")
        py = ratio(samples, (i, "python"), (i, "accel"))
        cells.append(speed(py[0]))
        if f in SYNTH and py[0] < 10:
            misses.append(f"{f} {form}: {speed(py[0])} than Python, goal 10x faster")
        if (i, "accel") in counts:
            c = [counts.get((i, k)) for k in ("accel", "floor", "nanobind")]
            cells.append(" / ".join("-" if x is None else f"{x:.0f}" for x in c))
        else:
            cells.append("")
        print("| " + " | ".join(cells) + " |")
    if not args.no_instructions:
        floor_lines, floor_misses = overhead.table(args.floor_calls)
        print()
        print("instructions per call over the floor (bench/floor):")
        print("\n".join(floor_lines))
        misses += floor_misses
    print()
    print("goals: all met" if not misses else "goals missed:\n  " + "\n  ".join(misses))


if __name__ == "__main__":
    main()
