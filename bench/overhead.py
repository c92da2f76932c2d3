"""Instructions per call over the floor: each function against a hand-written vectorcall
function of its call shape (bench/floor) that binds, converts and builds the same kind of
result with no other work. Counted with callgrind, so the figures are exact and repeatable.

usage: python bench/overhead.py [--calls N]
"""

import argparse
import concurrent.futures
import os
import shutil
import subprocess
import sys

import _accel

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from counts import instructions  # noqa: E402

XY = ("1.0, 2.0", "a=1.0, b=2.0")
ABC = ("0.3, 0.2, 0.1", "a=0.3, b=0.2, c=0.1")
SIX = ("0.3, 0.2, 0.1, 1.0, 1.0, 1.0", "a=0.3, b=0.2, c=0.1, gx=1.0, gy=1.0, gz=1.0")

# (function, positional and keyword arguments, floor function, keyword arguments of the floor
# when its names differ, most instructions per call over the floor)
ROWS = [(f, XY, "two_floats_bool", None, 25) for f in
        ("fuzzy_equal", "fuzzy_greater_equal", "fuzzy_greater", "fuzzy_less_equal", "fuzzy_less")]
ROWS += [
    ("check_weyl_coord", ABC, "three_floats_bool", None, 25),
    ("only_xx_rot", ("0.3, 0.2, 0.1", "_a=0.3, b=0.2, c=0.1"), "three_floats_bool", ABC[1], 25),
    ("synth_cost_by_cx", ABC, "three_floats_float", None, 25),
    ("synth_cost_by_sqisw", ABC, "three_floats_float", None, 25),
    ("synth_cost_by_b", ABC, "three_floats_float", None, 25),
    ("optimal_can_gate_duration", SIX, "six_floats_float", None, 60),
    ("mirror_weyl_coord", ABC, "three_floats_tuple", None, 30),
    ("sort_two_floats", ("2.0, 1.0", "a=2.0, b=1.0"), "two_floats_tuple", None, 25),
    ("sort_two_ints", ("2, 1", "a=2, b=1"), "two_ints_tuple", None, 25),
    ("sort_two_objs", ("2.0, 1.0", "a=2.0, b=1.0"), "two_objs_tuple", None, 25),
    ("canonical_unitary", ABC, "three_floats_array", None, 520),
]


def build_floor():
    """Builds bench/floor into build/ and returns the folder holding the module."""
    tag = f"py{sys.version_info[0]}.{sys.version_info[1]}{sys.abiflags}"
    ninja = shutil.which("ninja") is not None
    # one build tree per generator: CMake refuses to switch generators in a tree
    build = os.path.join(ROOT, "build", f"bench-floor-{tag}{'-ninja' if ninja else ''}")
    generator = ["-G", "Ninja"] if ninja else []
    subprocess.run(["cmake", "-S", os.path.join(HERE, "floor"), "-B", build, *generator,
                    f"-DPython_EXECUTABLE={sys.executable}"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build], check=True, stdout=subprocess.DEVNULL)
    return build


def table(calls):
    """Markdown rows and the missed gates."""
    paths = [os.path.dirname(_accel.__file__), build_floor()]
    jobs = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for f, forms, floor, floor_kw, _ in ROWS:
            for form, args in zip(("pos", "kw"), forms):
                fargs = floor_kw if form == "kw" and floor_kw else args
                for key, module, call in ((f, "_accel", f"M.{f}({args})"),
                                          (floor, "accel_floor", f"M.{floor}({fargs})")):
                    if (key, form) not in jobs:
                        jobs[(key, form)] = pool.submit(instructions, call, module, paths, calls)
        # A line per function as its counts arrive: the whole table takes minutes.
        print(f"overhead: counting {len(jobs)} calls under callgrind, two runs each "
              f"(about 10 s a call on this machine's cores)", file=sys.stderr, flush=True)
        counts = {}
        for i, (f, _, floor, _, _) in enumerate(ROWS, 1):
            for key in [(f, "pos"), (f, "kw"), (floor, "pos"), (floor, "kw")]:
                counts[key] = jobs[key].result()
            print(f"overhead: {f} counted ({i}/{len(ROWS)})", file=sys.stderr, flush=True)
    lines = ["| function | floor | positional: accel / floor / over | keyword: accel / floor / "
             "over | gate |", "|---|---|---|---|---|"]
    misses = []
    for f, _, floor, _, gate in ROWS:
        cells = [f"`{f}`", f"`{floor}`"]
        for form in ("pos", "kw"):
            mine, base = counts[(f, form)], counts[(floor, form)]
            if mine is None or base is None:
                cells.append("-")
                misses.append(f"{f} {form}: not measured")
                continue
            over = mine - base
            cells.append(f"{mine:.0f} / {base:.0f} / {over:+.0f}")
            if over > gate:
                misses.append(f"{f} {form}: {over:+.0f} over the floor, gate {gate}")
        cells.append(f"<= {gate}")
        lines.append("| " + " | ".join(cells) + " |")
    return lines, misses


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=20000)
    args = parser.parse_args()
    lines, misses = table(args.calls)
    print(f"CPython {sys.version.split()[0]}: instructions per call over the floor")
    print("\n".join(lines))
    print()
    print("floor gates: all met" if not misses else "floor gates missed:\n  " + "\n  ".join(misses))
    return 1 if misses else 0


if __name__ == "__main__":
    sys.exit(main())
