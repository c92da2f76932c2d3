"""Shared fixtures: the module, the PanicException class, Hypothesis profiles, the markers of CI's
subsets, and the checks at the end of a session."""

import os
import sys

import pytest
from hypothesis import HealthCheck, settings

settings.register_profile("default", max_examples=300, deadline=None)
settings.register_profile(
    "ci", max_examples=1000, deadline=None, derandomize=True,
    suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("long", max_examples=50_000, deadline=None)
settings.register_profile("tiny", max_examples=10, deadline=None, derandomize=True)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))

sys.path.insert(0, os.path.dirname(__file__))
from support import FREE_THREADED, _accel, panic_class, run_child  # noqa: E402

# The subsets that CI's legs select with -m (every test file says which it belongs to, in
# `pytestmark`, an empty list for none), and the tests that need the checkout. Registered here
# rather than in pyproject.toml, so that a copy of tests/ run against an installed module knows
# them too.
MARKERS = {
    "conformance": "every function's contract, binding and faults (the emulated aarch64 legs)",
    "leaks": "the leak-prone paths (the LeakSanitizer leg)",
    "memcheck": "the calls that valgrind checks (the valgrind leg)",
    "threads": "the threaded tests (the ThreadSanitizer leg)",
    "source_tree": "reads the source tree; -m 'not source_tree' tests an installed copy alone",
}


def pytest_configure(config):
    for name, what in MARKERS.items():
        config.addinivalue_line("markers", f"{name}: {what}")


@pytest.fixture(scope="session")
def acc():
    return _accel


@pytest.fixture(scope="session")
def panic_type():
    return panic_class()


def _built_with_injection():
    """Asks the module itself: a test build fails a tuple's creation while ACCEL_INJECT says so."""
    proc = run_child("import _accel; _accel.mirror_weyl_coord(0.5, 0, 0)",
                     env={"ACCEL_INJECT": "tuple"}, check=False)
    return proc.returncode != 0 and "Python API call failed" in proc.stderr


INJECTION_BUILD = _built_with_injection()


def pytest_sessionfinish(session, exitstatus):
    """A free-threaded run fails if anything turned the GIL on. With ACCEL_LSAN_CHECK set (a
    sanitizer run), report leaks now, while the interpreter and its modules are still alive, so
    that only unreachable memory is reported."""
    if FREE_THREADED and sys._is_gil_enabled():
        print("\nerror: the GIL was enabled during the run", file=sys.stderr)
        session.exitstatus = 1
    if os.environ.get("ACCEL_LSAN_CHECK"):
        import ctypes
        import gc

        gc.collect()
        ctypes.CDLL(None).__lsan_do_recoverable_leak_check()
