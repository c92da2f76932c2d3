"""Feeds the same random inputs through every function of the _accel module that this interpreter
imports and records each result as exact bits, so that two builds (x86-64 and aarch64, say) can
be compared bit for bit. Every NaN counts as one value: architectures differ in the sign and
payload of the NaNs they make, and nothing else may differ.

usage: differential.py dump --seed S --count N FILE
       differential.py compare FILE_A FILE_B
"""

import argparse
import hashlib
import math
import random
import struct
import sys

SPECIAL = [0.0, -0.0, 0.5, 0.25, -0.25, 1e-8, -1e-8, 5e-9, 1.5e-8, 0.5 + 1e-8, 0.5 - 1e-8,
           0.25 + 5e-9, math.inf, -math.inf, math.nan, -math.nan, 5e-324, -5e-324, 2.2e-308,
           1e308, -1e308, 1.0, -1.0, 0.75, 1.5707963267948966]


def number(rng):
    """A double from a mix that reaches every branch: plain, near the chamber's faces and
    thresholds, special values, and raw bit patterns (NaN payloads and subnormals included)."""
    kind = rng.random()
    if kind < 0.35:
        return rng.uniform(-0.6, 0.6)
    if kind < 0.6:
        return rng.choice([0.0, 0.25, 0.5, -0.25]) + rng.choice([-1, 1]) * rng.uniform(0, 3e-8)
    if kind < 0.75:
        return rng.choice(SPECIAL)
    return struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]


def coordinate(rng):
    """Mostly normalised Weyl coordinates (0.5 >= a >= b >= |c|), snapped to faces at times."""
    if rng.random() < 0.3:
        return number(rng), number(rng), number(rng)
    a = rng.uniform(0, 0.5)
    b = rng.uniform(0, a)
    c = rng.uniform(-b, b)
    snap = rng.random()
    if snap < 0.1:
        b = a
    elif snap < 0.2:
        c = b
    elif snap < 0.3:
        a, b, c = 0.5, rng.choice([0.25, b]), 0.0
    return a, b, c


def int32(rng):
    return rng.choice([rng.randint(-2**31, 2**31 - 1), rng.randint(-5, 5), 2**31 - 1, -2**31])


def cases(rng):
    """(function name, positional arguments, keyword arguments) for one round."""
    x, y = number(rng), number(rng)
    tol = rng.choice([None, abs(number(rng)), number(rng)])
    for name in ("fuzzy_equal", "fuzzy_greater_equal", "fuzzy_greater", "fuzzy_less_equal",
                 "fuzzy_less"):
        yield name, (x, y), {} if tol is None else {"atol": tol}
    abc = coordinate(rng)
    for name in ("check_weyl_coord", "mirror_weyl_coord", "synth_cost_by_cx",
                 "synth_cost_by_sqisw", "synth_cost_by_b", "only_xx_rot", "canonical_unitary"):
        yield name, abc, {}
    strengths = rng.choice([(1.0, 1.0, 1.0), (number(rng), number(rng), number(rng)),
                            (rng.uniform(0, 2), rng.uniform(0, 2), rng.uniform(-2, 2))])
    yield "optimal_can_gate_duration", abc + strengths, {}
    yield "sort_two_floats", (x, y), {}
    yield "sort_two_objs", (x, y), {}
    yield "sort_two_ints", (int32(rng), int32(rng)), {}


NAN = struct.pack("<d", math.nan)


def bits(value):
    """The result's exact bits, every NaN made one."""
    if isinstance(value, bool):
        return b"T" if value else b"F"
    if isinstance(value, float):
        return NAN if value != value else struct.pack("<d", value)
    if isinstance(value, int):
        return struct.pack("<q", value)
    if isinstance(value, tuple):
        return b"(" + b"".join(bits(v) for v in value) + b")"
    import numpy  # the unitary
    a = numpy.array(value, dtype=numpy.complex128).view(numpy.float64).copy()
    a[numpy.isnan(a)] = math.nan
    return a.tobytes()


def dump(seed, count, path):
    import _accel
    rng = random.Random(seed)
    digests = {}
    for _ in range(count):
        for name, args, kwargs in cases(rng):
            try:
                out = bits(getattr(_accel, name)(*args, **kwargs))
            except BaseException as exc:  # noqa: BLE001 - faults are results too
                out = f"{type(exc).__name__}: {exc}".encode()
            digests.setdefault(name, bytearray()).extend(hashlib.blake2b(out, digest_size=8)
                                                         .digest())
    with open(path, "wb") as f:
        f.write(f"{seed} {count} {' '.join(digests)}\n".encode())
        for d in digests.values():
            f.write(d)


def load(path):
    with open(path, "rb") as f:
        header = f.readline().split()
        count = int(header[1])
        return header[:2], {n.decode(): f.read(8 * count) for n in header[2:]}


def compare(path_a, path_b):
    head_a, a = load(path_a)
    head_b, b = load(path_b)
    if head_a != head_b or list(a) != list(b):
        print("the two dumps are of different inputs")
        return 1
    seed, count = int(head_a[0]), int(head_a[1])
    differing = 0
    for name in a:
        diff = [i for i in range(count) if a[name][8 * i:8 * i + 8] != b[name][8 * i:8 * i + 8]]
        differing += len(diff)
        where = f" (first at input {diff[0]})" if diff else ""
        print(f"{name}: {count} inputs, {len(diff)} differing{where}")
    print(f"seed {seed}: {differing} differing results in all")
    return 1 if differing else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    d = sub.add_parser("dump")
    d.add_argument("--seed", type=int, required=True)
    d.add_argument("--count", type=int, required=True)
    d.add_argument("file")
    c = sub.add_parser("compare")
    c.add_argument("files", nargs=2)
    args = parser.parse_args()
    if args.command == "dump":
        dump(args.seed, args.count, args.file)
        return 0
    return compare(*args.files)


if __name__ == "__main__":
    sys.exit(main())
