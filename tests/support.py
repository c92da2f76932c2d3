"""What the test files share, in one place: the facts of the interpreter and platform that the
suite runs on, the child runner, the module's fixed texts and its PanicException class, the model
of the binding rules, the strategy of Weyl coordinates, and a call path or more through every
function. Test files import from here (and use conftest's fixtures), never from each other."""

import importlib.util
import math
import operator
import os
import subprocess
import sys
import sysconfig
import textwrap
import warnings

import pytest
from hypothesis import strategies as st

import model

# Free-threaded builds run threads in parallel; a few CPython behaviours differ there. Importing
# a module that does not declare itself free of the GIL turns the GIL on, with a RuntimeWarning:
# that is an error here.
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
with warnings.catch_warnings():
    if FREE_THREADED:
        warnings.simplefilter("error", RuntimeWarning)
    import _accel  # noqa: E402

acc = _accel

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


def call_ids(name, cases):
    """Test ids that name the function and the case: "synth_cost_by_cx(0.5, 0, 0)"."""
    return [f"{name}{tuple(case[0])!r}".replace(",)", ")") for case in cases]


def path_ids(paths):
    """Test ids for call paths: the functions that each calls."""
    return ["+".join(n for n in path.__code__.co_names if n in _accel.__all__) or "path"
            for path in paths]


# The module's fixed texts.
WEYL = model.WEYL_MESSAGE
RESUME_BANNER = ("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
                 "Python stack trace below:\n")
# For child code: fill(fd) writes to fd until the pipe behind it is full, leaving it in the mode
# it was in (the stalled readers that the fault reports must wait for).
FILL_PIPE = """
import os
def fill(fd):
    blocking = os.get_blocking(fd)
    os.set_blocking(fd, False)
    try:
        while True:
            os.write(fd, b"x" * 4096)
    except BlockingIOError:
        pass
    os.set_blocking(fd, blocking)
"""
# For child code: binds P to the PanicException class, which only a fault reaches.
PANIC_PRELUDE = "try: _accel.mirror_weyl_coord(1, 0, 0)\nexcept BaseException as e: P = type(e)\n"


def panic_class():
    """The PanicException class: it cannot be imported, so a fault fetches it."""
    try:
        _accel.mirror_weyl_coord(0.6, 0.0, 0.0)
    except BaseException as exc:  # noqa: BLE001 - the class is only reachable this way
        return type(exc)
    raise AssertionError("no fault raised")


# The binding rules in plain Python: each function's parameters, required count and kinds (f a
# float, F an optional float, i an int32, o an object, K an optional key), and what a call of any
# shape returns or raises.
SIGS = {
    **{n: (("a", "b", "atol"), 2, "ffF") for n in (
        "fuzzy_equal", "fuzzy_greater_equal", "fuzzy_greater", "fuzzy_less_equal", "fuzzy_less")},
    "sort_two_floats": (("a", "b", "key"), 2, "ffK"),
    "sort_two_ints": (("a", "b", "key"), 2, "iiK"),
    "sort_two_objs": (("a", "b", "key"), 2, "ooK"),
    **{n: (("a", "b", "c"), 3, "fff") for n in (
        "check_weyl_coord", "mirror_weyl_coord", "synth_cost_by_cx", "synth_cost_by_sqisw",
        "synth_cost_by_b", "canonical_unitary")},
    "only_xx_rot": (("_a", "b", "c"), 3, "fff"),
    "optimal_can_gate_duration": (("a", "b", "c", "gx", "gy", "gz"), 6, "ffffff"),
}
MISSING = object()


class Floaty:
    def __init__(self, v):
        self.v = v

    def __float__(self):
        if isinstance(self.v, BaseException):
            raise self.v
        return self.v

    def __repr__(self):
        return f"Floaty({self.v!r})"


class Indexy:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v

    def __repr__(self):
        return f"Indexy({self.v!r})"


def names(items):
    items = [f"'{n}'" for n in items]
    if len(items) <= 2:
        return " and ".join(items)
    return ", ".join(items[:-1]) + ", and " + items[-1]


def to_float(x, name):
    try:
        return math.ldexp(x, 0)  # CPython's own double conversion, exact
    except TypeError as exc:
        if type(exc) is TypeError:
            raise TypeError(f"argument '{name}': {exc}") from None
        raise


def to_int32(x, name):
    try:
        v = operator.index(x)
    except TypeError as exc:
        if type(exc) is TypeError:
            raise TypeError(f"argument '{name}': {exc}") from None
        raise
    if not -2 ** 63 <= v < 2 ** 63:
        raise OverflowError("Python int too large to convert to C long")
    if not -2 ** 31 <= v < 2 ** 31:
        raise OverflowError("out of range integral type conversion attempted")
    return v


def model_call(fname, args, kwargs):
    params, required, kinds = SIGS[fname]
    p, n = len(params), len(args)
    slots = list(args[:p]) + [MISSING] * (p - min(n, p))
    if n > p:
        what = f"{p}" if required == p else f"from {required} to {p}"
        raise TypeError(f"{fname}() takes {what} positional arguments but {n} "
                        f"{'was' if n == 1 else 'were'} given")
    for key, value in kwargs:
        if key not in params:
            raise TypeError(f"{fname}() got an unexpected keyword argument '{key}'")
        i = params.index(key)
        if slots[i] is not MISSING:
            raise TypeError(f"{fname}() got multiple values for argument '{key}'")
        slots[i] = value
    missing = [params[i] for i in range(required) if slots[i] is MISSING]
    if n < required and missing:
        plural = "argument" if len(missing) == 1 else "arguments"
        raise TypeError(f"{fname}() missing {len(missing)} required positional {plural}: "
                        f"{names(missing)}")
    values = []
    for name, kind, slot in zip(params, kinds, slots):
        if kind in "FK" and (slot is MISSING or slot is None):
            values.append(None)
        elif kind in "fF":
            values.append(to_float(slot, name))
        elif kind == "i":
            values.append(to_int32(slot, name))
        else:
            values.append(slot)
    if kinds.endswith("K") and values[2] is not None:
        return keyed(fname, *values)
    if fname.startswith("sort_two_"):
        a, b = values[:2]
        if fname == "sort_two_objs":
            return (b, a) if b < a else (a, b)
        return (a, b) if a < b else (b, a)
    if fname == "canonical_unitary":
        return None
    return getattr(model, fname)(*values)


def keyed(fname, a, b, key):
    """The sorts with a key: key(b) < key(a) swaps the objects; the typed sorts key a new number
    each and take (a, b) only when ka < kb. Key results convert without an argument prefix."""
    if fname == "sort_two_objs":
        if not callable(key):
            raise TypeError("key argument must be a callable")
        ka, kb = key(a), key(b)
        return (b, a) if kb < ka else (a, b)
    if not callable(key):
        raise TypeError(f"'{type(key).__name__}' object is not callable")
    convert = (lambda x: math.ldexp(x, 0)) if fname == "sort_two_floats" else int32_value
    ka = convert(key(a))
    kb = convert(key(b))
    return (a, b) if ka < kb else (b, a)


def int32_value(x):
    v = operator.index(x)
    if not -2 ** 63 <= v < 2 ** 63:
        raise OverflowError("Python int too large to convert to C long")
    if not -2 ** 31 <= v < 2 ** 31:
        raise OverflowError("out of range integral type conversion attempted")
    return v


# Weyl coordinates that sit on, near and across the chamber's faces, and the check of a
# function against its model, faults included.
FACES = [0.0, -0.0, 0.5, 0.25, 1e-08, -1e-08, 5e-09, 0.3, 0.2, 0.1]
jitter = st.one_of(st.just(0.0), st.floats(-3e-08, 3e-08), st.sampled_from(
    [1e-08, -1e-08, 9.9e-09, -9.9e-09, 1.01e-08, 5e-09]))
anything = st.floats(allow_nan=True, allow_infinity=True)


@st.composite
def weyl_coords(draw):
    a = draw(st.one_of(st.sampled_from(FACES), st.floats(-0.1, 0.6), anything)) + draw(jitter)
    if not math.isfinite(a):
        return a, draw(anything), draw(anything)
    b = draw(st.one_of(st.just(a), st.floats(-0.1, 0.6), st.sampled_from(FACES))) + draw(jitter)
    c = draw(st.one_of(st.just(b), st.just(-b), st.floats(-0.6, 0.6), anything)) + draw(jitter)
    return a, b, c


def check_against_model(call, model_call, *args):
    try:
        want = model_call(*args)
    except model.Fault as fault:
        with pytest.raises(BaseException) as info:
            call(*args)
        assert type(info.value).__name__ == "PanicException"
        assert str(info.value) == str(fault)
        return
    assert model.same(call(*args), want)


# A success path or more, and an error path or more, through every function, over long-lived
# arguments whose reference counts must not drift (WATCHED).
def boom(v):
    raise KeyError(v)


def reentrant(v):
    return acc.sort_two_floats(v, -v)[1]


# Long-lived, non-immortal arguments whose reference counts must not drift.
class BadFloat:
    """Its __float__ raises a new ValueError each time: an instance raised again and again would
    grow its traceback, and the references that holds, call by call."""

    def __float__(self):
        raise ValueError("no")


F = Floaty(0.25)
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
    lambda: acc.fuzzy_greater_equal(1.0, BAD),
    lambda: acc.fuzzy_greater(1.0, 2.0, atol="s"),
    lambda: acc.fuzzy_less_equal(1.0, b=2.0, a=3.0),
    lambda: acc.fuzzy_less(1.0),
    lambda: acc.synth_cost_by_sqisw(0.1, 0.2, 0.0),
    lambda: acc.synth_cost_by_b(0.5, 0.25, 0.0, 1.0),
    lambda: acc.only_xx_rot(0.1, 0.2, c=BAD),
    lambda: acc.canonical_unitary(0.1, 0.2, "s"),
]
PATHS = SUCCESS + ERRORS
