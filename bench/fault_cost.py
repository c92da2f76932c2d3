"""What a fault costs against checking first: check_weyl_coord on a coordinate outside the
chamber, and synth_cost_by_cx raising PanicException for it (its report sent to /dev/null),
each a direct call in timeit's loop, with the callee bound to a name of the loop's globals.

usage: python bench/fault_cost.py [--calls N]
"""

import argparse
import os
import sys
import timeit

import _accel


CHECK = "check(0.6, 0.0, 0.0)"
FAULT = """
try:
    cost(0.6, 0.0, 0.0)
except BaseException:
    pass
"""
NAMES = {"check": _accel.check_weyl_coord, "cost": _accel.synth_cost_by_cx}


def per_call(stmt, n):
    return min(timeit.repeat(stmt, number=n, repeat=5, globals=NAMES)) / n


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=20000)
    n = parser.parse_args().calls
    check = per_call(CHECK, n)
    saved, null = os.dup(2), os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 2)
    try:
        fault = per_call(FAULT, n)
    finally:
        os.dup2(saved, 2)
    print(f"CPython {sys.version.split()[0]}: check_weyl_coord {check * 1e9:.0f} ns a call, "
          f"a fault {fault * 1e9:.0f} ns")


if __name__ == "__main__":
    main()
