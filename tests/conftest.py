"""Shared fixtures: the module, the PanicException class, Hypothesis profiles, child runs."""

import importlib.util
import os
import subprocess
import sys
import sysconfig
import textwrap
import warnings

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

# Free-threaded builds run threads in parallel; a few CPython behaviours differ there. Importing
# a module that does not declare itself free of the GIL turns the GIL on, with a RuntimeWarning:
# that is an error here.
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
with warnings.catch_warnings():
    if FREE_THREADED:
        warnings.simplefilter("error", RuntimeWarning)
    import _accel  # noqa: E402


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
    try:
        _accel.mirror_weyl_coord(0.6, 0.0, 0.0)
    except BaseException as exc:  # noqa: BLE001 - the class is only reachable this way
        return type(exc)
    raise AssertionError("no fault raised")


# canonical_unitary needs NumPy, which a copy of tests/ run against an installed module may lack:
# what needs it skips or leaves the function out, and the rest runs.
HAS_NUMPY = importlib.util.find_spec("numpy") is not None
needs_numpy = pytest.mark.skipif(not HAS_NUMPY, reason="needs NumPy: pip install numpy")


def numpy_free(names):
    """The names of the functions that can run here: canonical_unitary only with NumPy."""
    return [n for n in names if HAS_NUMPY or n != "canonical_unitary"]


# What a test of one platform's facilities needs; elsewhere it skips with the reason.
only_linux = pytest.mark.skipif(sys.platform != "linux",
                                reason="reads Linux's /proc or names threads with glibc's call")
needs_timer_signals = pytest.mark.skipif(not hasattr(__import__("signal"), "setitimer"),
                                         reason="needs POSIX timer signals (SIGALRM)")
# The fault report names the main thread "main" where the platform tells which thread that is;
# Windows cannot, and there it is unnamed like any other.
MAIN_THREAD = "<unnamed>" if sys.platform == "win32" else "main"

# Child processes get hang guards scaled by ACCEL_TIMEOUT_FACTOR, which the slow legs set (the
# debug build, valgrind, the sanitizers, emulation). ACCEL_EMULATED says that the interpreter runs
# under emulation, where a millisecond timer outpaces it.
TIMEOUT_FACTOR = float(os.environ.get("ACCEL_TIMEOUT_FACTOR", "1"))
EMULATED = os.environ.get("ACCEL_EMULATED") == "1"


def run_child(code, env=None, check=True, timeout=120, prelude="", cwd=None):
    """Runs Python code (dedented, after `prelude`) in a fresh interpreter, in `cwd` if given;
    returns the completed process. With `check`, a non-zero exit fails the test with the child's
    output."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    try:
        proc = subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(code)],
                              capture_output=True, text=True, env=full_env, cwd=cwd,
                              timeout=timeout * TIMEOUT_FACTOR)
    except subprocess.TimeoutExpired as hung:
        # What the child had printed tells a hang from slowness: children that loop print
        # their progress.
        raise AssertionError(f"child timed out after {hung.timeout:g} s; it had printed:\n"
                             f"{text_of(hung.stdout)}\n{text_of(hung.stderr)[-3000:]}") from None
    if check and proc.returncode != 0:
        raise AssertionError(
            f"child failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr[-3000:]}")
    return proc


def text_of(output):
    """The partial output of a timed-out child: bytes, str or None."""
    if isinstance(output, bytes):
        return output.decode(errors="replace")
    return output or ""


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
