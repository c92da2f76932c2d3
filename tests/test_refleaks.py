"""Reference-leak hunt in the style of CPython's -R runs, on a debug interpreter only."""

import functools
import gc
import sys

import pytest

from support import PATHS, path_ids

pytestmark = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"),
                                reason="needs a debug build of CPython")

# NumPy is a release build there, so paths that create arrays are left out.
NO_NUMPY = [p for p in PATHS if "canonical_unitary" not in p.__code__.co_names]


def deltas(path, rounds=6, calls=100):
    """Change of the interpreter's total reference count over each round of calls."""
    def run(n):
        for _ in range(n):
            try:
                path()
            except BaseException:  # noqa: BLE001 - error paths are part of the hunt
                pass
    run(2 * calls)  # warm up: interning, specialisation, the exception class
    out = []
    for _ in range(rounds):
        gc.collect()
        before = sys.gettotalrefcount()
        run(calls)
        gc.collect()
        out.append(sys.gettotalrefcount() - before)
    return out


@functools.cache
def harness_cost():
    """What the measurement itself costs a round: the same for every path, so measured once
    (each round collects twice, slow on a debug build with NumPy's objects in the heap)."""
    return tuple(deltas(lambda: None))


def climbs(path):
    """True when every late round ends above what the measurement itself costs."""
    base = harness_cost()
    got = deltas(path)
    return all(d > b for d, b in zip(got[2:], base[2:])), got, base


@pytest.mark.parametrize("index", range(len(NO_NUMPY)), ids=path_ids(NO_NUMPY))
def test_no_steady_climb(index, capfd):
    climbing, got, base = climbs(NO_NUMPY[index])
    capfd.readouterr()  # fault reports
    assert not climbing, (got, base)


def test_hunt_detects_a_leak():
    kept = []
    assert climbs(lambda: kept.append([]))[0]
