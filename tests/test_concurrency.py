"""Threads at once: each call owns its fault, and what is created once is published safely.

Every case runs in a child process (a race can crash). On a free-threaded build the threads run
truly in parallel; on the others they interleave wherever the calls run Python code."""

import sys

import pytest

from support import FREE_THREADED, WEYL, needs_numpy, run_child

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.threads]

PRELUDE = f"""
import sys, threading, _accel as A
WEYL = {WEYL!r}
def run_threads(n, target):
    start = threading.Barrier(n)
    out = [None] * n
    def body(i):
        start.wait()
        out[i] = target(i)
    threads = [threading.Thread(target=body, args=(i,)) for i in range(n)]
    for t in threads: t.start()
    for t in threads: t.join()
    return out
"""


def child(code, timeout=120):
    return run_child(code, timeout=timeout, prelude=PRELUDE).stdout.split()


def test_faults_in_several_threads_keep_their_own_messages():
    got = child("""
        try: A.mirror_weyl_coord(1, 0, 0)
        except BaseException as e: P = type(e)
        def faulting(i):
            seen = set()
            def key(x): raise P(f"thread-{i}-{x}")
            for n in range(300):
                try: A.sort_two_ints(n, 0, key=key)
                except P as e: seen.add(str(e) == f"thread-{i}-{n}")
                try: A.synth_cost_by_b(0.6, 0, 0)
                except P as e: seen.add(str(e) == WEYL)
            return seen == {True}
        def working(i):
            return all(A.sort_two_floats(2.0, float(i)) == (min(2.0, i), max(2.0, i))
                       and A.synth_cost_by_cx(0.5, 0, 0) == 1.0 for _ in range(3000))
        print(*run_threads(8, lambda i: (faulting if i % 2 else working)(i)))
        """)
    assert got == ["True"] * 8


# A finaliser that runs as a fault's deferred releases are done faults again, and so on: each
# fault owns its releases, so every object is released once, however deep the chain.
CHAIN = """
import gc
try: A.mirror_weyl_coord(1, 0, 0)
except BaseException as e: P = type(e)
deleted = []
class D:
    alive = 0
    def __init__(s, n): s.n = n; D.alive += 1
    def __del__(s):
        D.alive -= 1
        deleted.append(s.n)
        if s.n < DEPTH: fault(s.n + 1)
class Raises:
    def __lt__(s, other): raise P("from __lt__")
def fault(n):
    def k(x):
        if x == 1: return D(n)
        SECOND
    try: A.sort_two_objs(1, 2, key=k)
    except BaseException: pass
fault(0); gc.collect()
print(len(deleted), sorted(deleted) == list(range(DEPTH + 1)), D.alive)
"""


@pytest.mark.parametrize("second", ['raise P("from key")', "return Raises()"],
                         ids=["key-raises", "lt-raises"])
@pytest.mark.parametrize("depth", [30, 200])
def test_deferred_release_chains_of_any_depth(second, depth):
    got = child(f"DEPTH = {depth}\n" + CHAIN.replace("SECOND", second))
    assert got == [str(depth + 1), "True", "0"]


def test_each_thread_releases_its_own_deferred_objects():
    # Every thread's deferred finaliser waits for all the others: only if each thread releases
    # its own objects, after its own fault, do they all meet.
    got = child("""
        try: A.mirror_weyl_coord(1, 0, 0)
        except BaseException as e: P = type(e)
        met = threading.Barrier(60, timeout=30)
        class Waits:
            def __del__(s): met.wait()
        def faulting(i):
            def key(x):
                if x == 1: return Waits()
                raise P("second")
            try: A.sort_two_objs(1, 2, key=key)
            except P: return True
        print(all(run_threads(60, faulting)), met.broken)
        """)
    assert got == ["True", "False"]


@pytest.mark.parametrize("first", [
    "A.mirror_weyl_coord(1, 0, 0)",
    "A.sort_two_objs(1, 2, key=lambda x: A.synth_cost_by_cx(1, 0, 0))",
])
def test_first_faults_race_to_one_class(first):
    got = child(f"""
        def fault(i):
            try: {first}
            except BaseException as e: return type(e)
        classes = run_threads(16, fault)
        print(len(set(map(id, classes))), classes[0].__module__, classes[0].__name__)
        try: A.synth_cost_by_b(1, 0, 0)
        except BaseException as e: print(type(e) is classes[0])
        """)
    assert got == ["1", "pyo3_runtime", "PanicException", "True"]


@needs_numpy
def test_first_arrays_race_for_numpy_and_the_owner_type():
    got = child("""
        import numpy as np
        def unitary(i):
            u = A.canonical_unitary(0.5, 0.25 * (i % 2), 0)
            return type(u.base), u.shape, np.allclose(u @ u.conj().T, np.eye(4))
        results = run_threads(16, unitary)
        print(len(set(r[0] for r in results)), all(r[1:] == ((4, 4), True) for r in results))
        """)
    assert got == ["1", "True"]


def test_first_keyword_calls_race_to_intern_the_names():
    got = child("""
        calls = [lambda: A.fuzzy_equal(a=1.0, b=1.0 + 1e-9),
                 lambda: A.sort_two_ints(b=1, a=2),
                 lambda: A.optimal_can_gate_duration(0.5, 0, 0, gx=1.0, gy=1.0, gz=0.0) > 0,
                 lambda: A.mirror_weyl_coord(c=0.0, b=0.0, a=0.5) == (0.5, 0.5, 0.0)]
        expected = [True, (1, 2), True, True]
        def call(i):
            return all(calls[i % 4]() == expected[i % 4] for _ in range(200))
        print(all(run_threads(16, call)))
        """)
    assert got == ["True"]


@pytest.mark.skipif(not FREE_THREADED, reason="free-threaded builds only")
def test_free_threaded_import_keeps_the_gil_off():
    # A module that does not declare itself safe makes CPython turn the GIL on, with a warning.
    proc = run_child("import sys, _accel; _accel.canonical_unitary(0, 0, 0);"
                     "print(sys._is_gil_enabled())", env={"PYTHON_GIL": ""}, check=False)
    proc_err = run_child("import _accel", check=False)
    assert proc.stdout.split() == ["False"], proc.stderr
    assert "GIL" not in proc.stderr and "GIL" not in proc_err.stderr
    assert not sys._is_gil_enabled()
