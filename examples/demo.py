"""A short tour of known two-qubit gates through every function of _accel."""

import _accel as acc

GATES = [
    ("identity", (0.0, 0.0, 0.0)),
    ("CX", (0.5, 0.0, 0.0)),
    ("iSWAP", (0.5, 0.5, 0.0)),
    ("sqrt(iSWAP)", (0.25, 0.25, 0.0)),
    ("B", (0.5, 0.25, 0.0)),
    ("SWAP", (0.5, 0.5, 0.5)),
]

XY = (1.0, 1.0, 0.0)  # XX+YY interaction strengths
HEISENBERG = (1.0, 1.0, 1.0)


def fmt(x):
    return f"{x:.4g}"


def main():
    print("Weyl coordinates in units of pi/2; costs in gates; durations scaled by gx+gy+|gz|.\n")
    head = ("gate", "(a, b, c)", "in chamber", "XX only", "mirror", "CX", "B", "sqiSW",
            "t(XX+YY)", "t(Heis.)", "U[0,0]", "U[0,3]")
    rows = [head]
    for name, (a, b, c) in GATES:
        u = acc.canonical_unitary(a, b, c)
        rows.append((
            name,
            f"({a}, {b}, {c})",
            str(acc.check_weyl_coord(a, b, c)),
            str(acc.only_xx_rot(a, b, c)),
            "(" + ", ".join(fmt(x) for x in acc.mirror_weyl_coord(a, b, c)) + ")",
            fmt(acc.synth_cost_by_cx(a, b, c)),
            fmt(acc.synth_cost_by_b(a, b, c)),
            fmt(acc.synth_cost_by_sqisw(a, b, c)),
            fmt(acc.optimal_can_gate_duration(a, b, c, *XY)),
            fmt(acc.optimal_can_gate_duration(a, b, c, *HEISENBERG)),
            f"{u[0, 0]:.3f}",
            f"{u[0, 3]:.3f}",
        ))
    widths = [max(len(r[i]) for r in rows) for i in range(len(head))]
    for i, r in enumerate(rows):
        print("  ".join(cell.ljust(w) for cell, w in zip(r, widths)).rstrip())
        if i == 0:
            print("  ".join("-" * w for w in widths))

    print("\nTolerant comparisons (default atol 1e-08):")
    for a, b in [(1.0, 1.000000005), (0.0, 1e-08), (0.0, 2e-08)]:
        print(f"  {a!r:>6} vs {b!r:<12} equal={acc.fuzzy_equal(a, b)!s:<5} "
              f"less={acc.fuzzy_less(a, b)!s:<5} less_equal={acc.fuzzy_less_equal(a, b)!s:<5} "
              f"greater={acc.fuzzy_greater(a, b)!s:<5} "
              f"greater_equal={acc.fuzzy_greater_equal(a, b)}")

    print("\nPair ordering:")
    print("  sort_two_floats(2, 1)               ->", acc.sort_two_floats(2, 1))
    print("  sort_two_ints(1, 2, key=negate)     ->", acc.sort_two_ints(1, 2, key=lambda x: -x))
    print("  sort_two_objs('b', 'a')             ->", acc.sort_two_objs("b", "a"))
    print("  sort_two_objs('aa', 'b', key=len)   ->", acc.sort_two_objs("aa", "b", key=len))

    print("\nOutside the chamber, the checked functions raise PanicException:", flush=True)
    try:
        acc.synth_cost_by_cx(0.6, 0.0, 0.0)
    except BaseException as exc:  # PanicException derives from BaseException
        if type(exc).__name__ != "PanicException":
            raise
        print(f"  synth_cost_by_cx(0.6, 0, 0) -> {type(exc).__name__}: {exc}")


if __name__ == "__main__":
    main()
