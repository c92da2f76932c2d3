"""Leak loops over every success and error path, and calls from many threads at once."""

import gc
import os
import sys
import threading

import pytest

import _accel as acc
from conftest import HAS_NUMPY, numpy_free, only_linux

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.leaks, pytest.mark.memcheck]

TOTAL_CALLS = int(os.environ.get("ACCEL_LEAK_CALLS", "1000000"))


class Floaty:
    def __float__(self):
        return 0.25


class BadFloat:
    def __float__(self):
        raise ValueError("no")


def boom(v):
    raise KeyError(v)


def reentrant(v):
    return acc.sort_two_floats(v, -v)[1]


# Long-lived, non-immortal arguments whose reference counts must not drift.
F = Floaty()
BAD = BadFloat()
A_LIST, B_LIST = [1], [2]
KEYS = (abs, boom, reentrant)
OWNERS = (type(acc.canonical_unitary(0, 0, 0).base),) if HAS_NUMPY else ()
WATCHED = (F, BAD, A_LIST, B_LIST, *KEYS, *OWNERS)

# One success path or more for every function (a test checks that none is missing).
SUCCESS = [
    lambda: acc.fuzzy_equal(1.0, 2.0),
    lambda: acc.fuzzy_greater_equal(a=1.0, b=F, atol=0.5),
    lambda: acc.fuzzy_greater(1, 2, None),
    lambda: acc.fuzzy_less_equal(F, 2.0),
    lambda: acc.fuzzy_less(b=1.0, a=0.0),
    lambda: acc.check_weyl_coord(0.3, 0.2, F),
    lambda: acc.optimal_can_gate_duration(0.3, 0.2, 0.1, 1.0, 1.0, 1.0),
    lambda: acc.mirror_weyl_coord(0.3, 0.2, 0.1),
    lambda: acc.sort_two_ints(2, 1, key=abs),
    lambda: acc.sort_two_floats(2.0, F, reentrant),
    lambda: acc.sort_two_objs(A_LIST, B_LIST, len),
    lambda: acc.synth_cost_by_cx(0.5, 0.0, 0.0),
    lambda: acc.synth_cost_by_sqisw(c=0.1, b=0.2, a=0.3),
    lambda: acc.synth_cost_by_b(0.5, 0.25, 0.0),
    lambda: acc.only_xx_rot(F, 0.0, 0.0),
    lambda: acc.canonical_unitary(0.3, 0.2, F),
]
SUCCESS = [p for p in SUCCESS if HAS_NUMPY or "canonical_unitary" not in p.__code__.co_names]
ERRORS = [
    lambda: acc.fuzzy_equal(),
    lambda: acc.fuzzy_equal(1.0, 2.0, 3.0, 4.0),
    lambda: acc.fuzzy_equal(1.0, x=F),
    lambda: acc.fuzzy_equal(F, a=F),
    lambda: acc.fuzzy_equal("s", F),
    lambda: acc.check_weyl_coord(0.1, BAD, 0.1),
    lambda: acc.sort_two_ints(2 ** 40, 1),
    lambda: acc.sort_two_ints(1.5, 1),
    lambda: acc.sort_two_ints(1, 2, key=boom),
    lambda: acc.sort_two_floats(1.0, 2.0, key=5),
    lambda: acc.sort_two_objs(A_LIST, B_LIST, key=5),
    lambda: acc.sort_two_objs(A_LIST, 1),
    lambda: acc.mirror_weyl_coord(0.6, 0.0, 0.0),
    lambda: acc.synth_cost_by_cx(F, 0.5, 0.0),
    lambda: acc.optimal_can_gate_duration(float("nan"), 0, 0, 1, 1, 1),
]


def run_paths(paths, calls):
    for i in range(calls):
        try:
            paths[i % len(paths)]()
        except BaseException:  # noqa: BLE001 - error paths are exercised on purpose
            pass


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def measure(paths, calls):
    """Reference counts, allocated blocks and RSS before and after `calls` calls, warmed up."""
    run_paths(paths, min(calls, 20000))
    gc.collect()
    refs = [sys.getrefcount(o) for o in WATCHED]
    blocks, rss = sys.getallocatedblocks(), rss_kib()
    run_paths(paths, calls)
    gc.collect()
    after = [sys.getrefcount(o) for o in WATCHED]
    return ([x - y for x, y in zip(after, refs)], sys.getallocatedblocks() - blocks,
            rss_kib() - rss)


# Freelists, caches and allocator arenas settle within a few hundred blocks and a few pages;
# one leaked object per call would show as tens of thousands. Under AddressSanitizer or valgrind
# freed memory sits in a quarantine, so RSS says nothing there and is not checked.
BLOCK_SLACK = 500
RSS_SLACK_KIB = 2048
SANITIZED = any(s in os.environ.get("LD_PRELOAD", "") for s in ("libasan", "vgpreload"))


@pytest.fixture
def quiet_stderr():
    """Fault reports go to fd 2 on every fault; keep a million of them out of the log."""
    saved = os.dup(2)
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 2)
    try:
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)
        os.close(null)


@only_linux
def test_every_path_leaks_nothing(quiet_stderr):
    refs, blocks, rss = measure(PATHS, TOTAL_CALLS)
    print(f"{TOTAL_CALLS} calls: ref drift {refs}, blocks {blocks:+d}, RSS {rss:+d} KiB")
    assert refs == [0] * len(WATCHED)
    assert blocks < BLOCK_SLACK
    assert SANITIZED or rss < RSS_SLACK_KIB


@only_linux
def test_leaking_control_is_detected():
    kept = []
    leaky = [lambda: kept.append([F])]
    refs, blocks, rss = measure(leaky, 50000)
    assert refs[0] > 0
    assert blocks > BLOCK_SLACK or sys.getallocatedblocks() == 0  # 0: the malloc allocator


PATHS = SUCCESS + ERRORS


def test_success_paths_cover_every_function():
    called = {name for path in SUCCESS for name in path.__code__.co_names}
    assert set(numpy_free(acc.__all__)) <= called


def snapshot(results):
    return [r.tolist() if hasattr(r, "tolist") else r for r in results]


@pytest.mark.threads
def test_threads_agree_with_one_thread():
    want = snapshot([p() for p in SUCCESS])
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    errors, outcomes = [], []

    def worker():
        try:
            for _ in range(300):
                outcomes.append(snapshot([p() for p in SUCCESS]))
                try:
                    acc.sort_two_ints(1, 2, key=boom)
                except KeyError:
                    pass
        except BaseException as exc:  # noqa: BLE001
            errors.append(exc)

    threads = [threading.Thread(target=worker) for _ in range(6)]
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    assert not errors
    assert len(outcomes) == 6 * 300
    assert all(o == want for o in outcomes)
