"""Leak loops over every success and error path, and calls from many threads at once."""

import gc
import os
import sys
import threading

import pytest

import _accel as acc
from support import ERRORS, PATHS, SUCCESS, WATCHED, F, boom, numpy_free, only_linux

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.leaks, pytest.mark.memcheck]

TOTAL_CALLS = int(os.environ.get("ACCEL_LEAK_CALLS", "1000000"))


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


def test_success_and_error_paths_cover_every_function():
    for paths in (SUCCESS, ERRORS):
        called = {name for path in paths for name in path.__code__.co_names}
        assert set(numpy_free(acc.__all__)) - called == set()


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
