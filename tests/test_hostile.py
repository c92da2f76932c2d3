"""Hostile use: each case runs in a child process, so a crash, abort or hang is an outcome."""

import os
import subprocess
import sys

import pytest

from support import (FILL_PIPE, FREE_THREADED, TIMEOUT_FACTOR, WEYL, needs_numpy,
                     needs_timer_signals, run_child)

# In no subset of the suite that a CI leg runs apart (conftest.MARKERS): the whole-suite
# legs only.
pytestmark = []

def child(code, timeout=60):
    return run_child(code, check=False, timeout=timeout)


def lines(proc):
    assert proc.returncode == 0, f"exit {proc.returncode}:\n{proc.stdout}\n{proc.stderr[-3000:]}"
    return proc.stdout.splitlines()


# Daemon threads still inside a call when the interpreter exits: on 3.12 and 3.13 CPython ends
# them with pthread_exit as they wake up, unwinding through the module's frames.
SLOW = """
import threading, time, _accel
def nap():
    time.sleep(0.001)
def slow_key(x):
    nap(); return x
class SlowFloat:
    def __float__(self): nap(); return 0.25
class SlowIndex:
    def __index__(self): nap(); return 3
class SlowBool:
    def __bool__(self): nap(); return True
class SlowLess:
    def __lt__(self, other): nap(); return SlowBool()
class DyingKey:  # released by the module after conversion; its finaliser sleeps
    def __float__(self): return 1.0
    def __del__(self): nap()
"""

DAEMON_CALLS = [
    "_accel.sort_two_floats(1.0, 2.0, key=slow_key)",
    "_accel.sort_two_ints(1, 2, key=slow_key)",
    "_accel.sort_two_objs(1, 2, key=slow_key)",
    "_accel.sort_two_objs(SlowLess(), SlowLess())",
    "_accel.fuzzy_equal(SlowFloat(), 0.0, atol=SlowFloat())",
    "_accel.synth_cost_by_sqisw(SlowFloat(), 0, 0)",
    "_accel.sort_two_ints(SlowIndex(), 1)",
    "_accel.sort_two_floats(1.0, 2.0, key=lambda x: DyingKey())",
]


def daemons_at_exit(prelude, call):
    """Four daemon threads loop on `call` (faults caught) while the main thread returns."""
    return SLOW + prelude + f"""
def loop():
    while True:
        try:
            {call}
        except BaseException:
            pass
for _ in range(4):
    threading.Thread(target=loop, daemon=True).start()
time.sleep(0.3)
print("exiting")
"""


@pytest.mark.parametrize("earlier_fault", [False, True], ids=["clean", "after-fault"])
@pytest.mark.parametrize("call", DAEMON_CALLS)
def test_daemon_threads_inside_calls_end_quietly_at_exit(call, earlier_fault):
    fault = "try: _accel.mirror_weyl_coord(1, 0, 0)\nexcept BaseException: pass\n"
    code = daemons_at_exit(fault if earlier_fault else "", call)
    for _ in range(3):
        assert lines(child(code)) == ["exiting"]


# A fault that comes back from Python code unwinds the call while it still owns objects whose
# finalisers give up the lock; a thread ended at exit must not be ended inside that unwinding.
DYING = """
try: _accel.mirror_weyl_coord(1, 0, 0)
except BaseException as exc: P = type(exc)
class Dying:
    def __del__(self): nap()
class DyingFloat(Dying):
    def __float__(self): raise P("from __float__")
class DyingIndex(Dying):
    def __index__(self): raise P("from __index__")
class DyingLess(Dying):
    def __lt__(self, other): raise P("from __lt__")
def second_raises(x):
    if x == 2: raise P("from key(b)")
    return Dying()
import numpy
core = numpy._core if hasattr(numpy, "_core") else numpy.core
"""

DYING_CALLS = [
    "_accel.sort_two_floats(1.0, 2.0, key=lambda x: DyingFloat())",
    "_accel.sort_two_ints(1, 2, key=lambda x: DyingIndex())",
    "_accel.sort_two_objs(1, 2, key=second_raises)",
    "_accel.sort_two_objs(1, 2, key=lambda x: DyingLess())",
    "_accel.fuzzy_less(1.0, DyingFloat())",
    # Four threads contend for the locks of numpy's module dict and of the module type's lookups.
    # On free-threaded CPython, one of them can be handed such a lock while it waits, then stop
    # for good as it reattaches at exit, holding it; finalization, which clears that dict, then
    # waits forever (seen on 3.13.15t in a thread with no frame of the module). Its exit says
    # nothing of the module there.
    pytest.param("core.multiarray.__dict__.__setitem__('_ARRAY_API', Dying()) or "
                 "_accel.canonical_unitary(0, 0, 0)",
                 marks=pytest.mark.skipif(FREE_THREADED, reason="free-threaded CPython can stop "
                                          "a daemon thread at exit holding a lock it was handed, "
                                          "which finalization then waits for")),
]


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer's runtime fails its own stack check when glibc's "
                           "pthread_exit unwinds a thread that gave the lock up inside the module")
@needs_numpy
@pytest.mark.parametrize("call", DYING_CALLS)
def test_daemon_threads_ended_while_a_fault_unwinds(call):
    code = daemons_at_exit(DYING, call)
    for _ in range(4):
        proc = child(code)
        assert lines(proc) == ["exiting"]
        assert "terminate called" not in proc.stderr


@needs_numpy
def test_owner_type_cannot_be_made_without_a_buffer():
    proc = child("""
        import _accel
        C = type(_accel.canonical_unitary(0, 0, 0).base)
        class Other:
            __slots__ = ("w", "x", "y", "z")
        attempts = [
            lambda: setattr(C, "__new__", staticmethod(lambda cls: object.__new__(cls))),
            lambda: object.__new__(C),
            lambda: C.__new__(C),
            lambda: setattr(Other(), "__class__", C),
            lambda: setattr(_accel.canonical_unitary(0, 0, 0).base, "__class__", Other),
            lambda: type("Sub", (C,), {}),
        ]
        for attempt in attempts:
            try:
                attempt()
                print("allowed")
            except TypeError:
                print("refused")
        """)
    assert lines(proc) == ["refused"] * 6


# Nests through the float conversion to just below the recursion limit, then makes the
# process's first fault there, where creating the exception class itself fails.
DEEP_FIRST_FAULT = """
import sys, _accel
sys.setrecursionlimit(1_000_000)  # so that the C recursion limit is the one reached
class Nest:
    def __init__(self, n, leaf): self.n, self.leaf = n, leaf
    def __float__(self):
        if self.n == 0:
            self.leaf(); return 0.0
        _accel.fuzzy_equal(Nest(self.n - 1, self.leaf), 0)
        return 0.0
def fits(n):
    try:
        Nest(n, lambda: None).__float__(); return True
    except RecursionError:
        return False
lo, hi = 1, 100000
while lo < hi:
    mid = (lo + hi + 1) // 2
    lo, hi = (mid, hi) if fits(mid) else (lo, mid - 1)
seen = []
for n in range(lo, 0, -1):
    try:
        Nest(n, lambda: _accel.%s).__float__()
    except BaseException as exc:
        seen.append(type(exc).__name__)
        if seen[-1] != "RecursionError": break
print(seen[0], seen[-1], set(seen[:-1]) <= {"RecursionError"})
try:
    _accel.synth_cost_by_b(0.9, 0, 0)
except BaseException as exc:
    print(type(exc).__module__, type(exc).__name__, str(exc) == %r)
"""


@pytest.mark.skipif(hasattr(sys, "gettotalrefcount") and sys.version_info >= (3, 14),
                    reason="3.14's debug build fails its own assertion when it prints a "
                           "traceback at the stack limit")
@pytest.mark.parametrize("faulting", ["mirror_weyl_coord(1, 0, 0)",
                                      "optimal_can_gate_duration(1, 0, 0, 1, 1, 1)"])
def test_first_fault_near_the_recursion_limit_raises(faulting):
    proc = child(DEEP_FIRST_FAULT % (faulting, WEYL))
    first, later = lines(proc)
    # The free-threaded 3.13 build counts its C stack differently: there the class can still be
    # created at the deepest level that fits, and the first fault simply raises it.
    assert first in ("RecursionError PanicException True",
                     *(["PanicException PanicException True"] if FREE_THREADED else []))
    assert later == "pyo3_runtime PanicException True"


# Standard error is a pipe that nobody drains yet: the report waits for it as os.write would,
# interruptible by a signal handler that raises (the call ends with its exception, an interrupt
# as itself), and arrives whole once a reader drains the pipe.
FULL_PIPE = FILL_PIPE + """
import os, signal, threading, _accel
r, w = os.pipe()
fill(w)
saved = os.dup(2)
os.dup2(w, 2)
class Alarm(Exception):
    pass
names = []
for error in (Alarm, KeyboardInterrupt):
    def ring(*_, error=error):
        raise error
    signal.signal(signal.SIGALRM, ring)
    signal.setitimer(signal.ITIMER_REAL, 0.2)
    try:
        _accel.synth_cost_by_cx(0.9, 0, 0)
    except BaseException as exc:
        names.append(type(exc).__name__)
drained = []
def drain():
    while chunk := os.read(r, 65536):
        drained.append(chunk)
reader = threading.Thread(target=drain)
reader.start()
try:
    _accel.mirror_weyl_coord(0.1, 0.2, 0)
except BaseException as exc:
    names.append(type(exc).__name__)
os.dup2(saved, 2)
os.close(w)
reader.join()
print(*names)
print(b"".join(drained).lstrip(b"x").decode())
"""


@needs_timer_signals
def test_fault_report_on_a_full_pipe_waits_and_stays_interruptible():
    out = lines(child(FULL_PIPE, timeout=30))
    assert out[0] == "Alarm KeyboardInterrupt PanicException"
    assert out[1:4] == ["", "thread 'main' panicked at src/lib:105:5:", WEYL]


# A standard error whose reader is alive but busy for a second, as a parent or a log shipper
# can be, while signals with handlers that return arrive: every report arrives whole, as the
# bytes of os.write do. The child fills the pipe first; this process reads it only a second
# after the child's report has begun to wait. Standard error may also be non-blocking meanwhile, set by the process itself or by
# asyncio's pipe transport (a flag that others sharing the file description see too).
STALLED = FILL_PIPE + """
import asyncio, os, signal, time, _accel
def fault():
    print("waiting", flush=True)
    try:
        _accel.synth_cost_by_cx(0.9, 0, 0)
    except BaseException as exc:
        print(type(exc).__name__, flush=True)
rings = []
signal.signal(signal.SIGALRM, lambda *_: rings.append(1))
signal.signal(signal.SIGCHLD, lambda *_: rings.append(1))
if WAY == "alarm":
    signal.setitimer(signal.ITIMER_REAL, 0.02, 0.02)
elif WAY == "child" and os.fork() == 0:
    time.sleep(0.3)
    os._exit(0)
if WAY == "asyncio":
    async def main():
        transport, _ = await asyncio.get_running_loop().connect_write_pipe(
            asyncio.Protocol, open(2, "wb", closefd=False))
        fill(2)
        fault()
        transport.close()
    asyncio.run(main())
else:
    if WAY == "nonblocking":
        os.set_blocking(2, False)
    fill(2)
    fault()
signal.setitimer(signal.ITIMER_REAL, 0)
"""


@needs_timer_signals
@pytest.mark.parametrize("way", ["alarm", "child", "nonblocking", "asyncio"])
def test_fault_report_reaches_a_reader_that_stalls(way):
    import textwrap
    import time

    proc = subprocess.Popen([sys.executable, "-c", f"WAY = {way!r}\n" + textwrap.dedent(STALLED)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    # The stall begins as the child's report starts to wait.
    assert proc.stdout.readline() == "waiting\n"
    time.sleep(1)
    out, err = proc.communicate(timeout=60 * TIMEOUT_FACTOR)
    assert (proc.returncode, out) == (0, "PanicException\n"), err[-3000:]
    assert err.lstrip("x").startswith(f"\nthread 'main' panicked at src/lib:211:5:\n{WEYL}\n")


# C callers can pass keyword names that are not str; they must never be read as str.
NON_STR_NAMES = """
import ctypes, _accel
call = ctypes.pythonapi.PyObject_Vectorcall
call.restype = ctypes.py_object
call.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
for name in _accel.__all__:
    f = getattr(_accel, name)
    params = f.__text_signature__.strip("()").replace("=None", "").split(", ")
    for keyword in (params[-1].encode(), bytearray(params[0].encode()), 7):
        values = (ctypes.py_object * len(params))(*([0.0] * len(params)))
        try:
            call(f, ctypes.addressof(values), len(params) - 1, (keyword,))
            print(name, "bound")
        except TypeError as exc:
            expected = f"{name}() got an unexpected keyword argument '{keyword}'"
            print(name, "ok" if str(exc) == expected else str(exc))
"""


def test_keyword_names_that_are_not_str_are_unexpected():
    got = lines(child(NON_STR_NAMES))
    import _accel
    assert len(got) == 3 * len(_accel.__all__), got
    assert all(line.endswith(" ok") for line in got), got


CAPSULES = """
import ctypes, datetime, numpy, _accel
mod = numpy._core.multiarray if hasattr(numpy, "_core") else numpy.core.multiarray
real = mod._ARRAY_API
new = ctypes.pythonapi.PyCapsule_New
new.restype = ctypes.py_object
new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
zeros = (ctypes.c_void_p * 300)()
version = ctypes.CFUNCTYPE(ctypes.c_uint)(lambda: 0x03000000)
future = (ctypes.c_void_p * 300)(ctypes.cast(version, ctypes.c_void_p).value)
for fake in (datetime.datetime_CAPI, new(zeros, None, None), new(future, None, None),
             new(ctypes.addressof(zeros), b"other", None), 42):
    mod._ARRAY_API = fake
    try:
        _accel.canonical_unitary(0, 0, 0)
        print("accepted")
    except BaseException as exc:
        print(type(exc).__name__, str(exc).startswith("Failed to access NumPy array API capsule: "))
mod._ARRAY_API = real
print(_accel.canonical_unitary(0.5, 0, 0).shape)
"""


@needs_numpy
def test_foreign_capsules_are_refused_and_nothing_is_cached():
    assert lines(child(CAPSULES)) == ["PanicException True"] * 5 + ["(4, 4)"]


@needs_numpy
def test_failed_attempt_does_not_keep_the_module_name():
    # A first attempt that picks the NumPy 1 module name and fails must not decide the next.
    proc = child("""
        import sys, numpy, numpy.lib, _accel
        if not hasattr(numpy, "_core"):
            print("PanicException", "(4, 4)")
            raise SystemExit
        real = numpy.lib.NumpyVersion
        class Old:
            major = 1
        numpy.lib.NumpyVersion = lambda version: Old()
        sys.modules["numpy.core.multiarray"] = None  # importing it now fails
        try:
            _accel.canonical_unitary(0, 0, 0)
        except BaseException as exc:
            print(type(exc).__name__, end=" ")
        numpy.lib.NumpyVersion = real
        print(_accel.canonical_unitary(0, 0, 0).shape)
        """)
    assert lines(proc) == ["PanicException (4, 4)"]


def test_refused_subinterpreter_import_leaves_the_main_interpreter_free():
    # CPython 3.12 runs the initialiser in an interpreter that refuses single-phase modules and
    # throws its work away; that must not count as the first initialisation.
    proc = child("""
        try:
            import _interpreters as I
        except ImportError:
            import _xxsubinterpreters as I
        def try_import(i):
            try:
                failure = I.run_string(i, "import _accel")  # 3.13 returns the failure
            except Exception as exc:  # 3.12 raises it
                failure = exc
            return "imported" if failure is None else str(getattr(failure, "msg", failure))
        first = I.create()
        print(try_import(first))
        import _accel  # while the refused interpreter is still alive
        print(_accel.synth_cost_by_cx(0.5, 0, 0))
        second = I.create()
        print(try_import(second))
        I.destroy(first)
        I.destroy(second)
        print(_accel.fuzzy_equal(1.0, 1.0))
        """)
    first, cost, second, last = lines(proc)
    assert first.endswith("module _accel does not support loading in subinterpreters")
    assert second.endswith("module _accel does not support loading in subinterpreters")
    assert (cost, last) == ("1.0", "True")


# Only ordinary errors from str() become "<unprintable ...>"; an interrupt propagates.
INTERRUPTED_STR = """
import ctypes, _accel
call = ctypes.pythonapi.PyObject_Vectorcall
call.restype = ctypes.py_object
call.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
class Name(str):
    def __init__(self, *_): self.error = KeyboardInterrupt
    def __str__(self): raise self.error()
class Message:
    def __init__(self, error): self.error = error
    def __str__(self): raise self.error()
class Convert:
    def __init__(self, error): self.error = error
    def __float__(self): raise TypeError(Message(self.error))
values = (ctypes.py_object * 3)(1.0, 2.0, 3.0)
for error in (KeyboardInterrupt, SystemExit, ValueError):
    name = Name("tol")
    name.error = error
    for attempt in (lambda: call(_accel.fuzzy_equal, ctypes.addressof(values), 2, (name,)),
                    lambda: _accel.fuzzy_equal(Convert(error), 1.0)):
        try:
            attempt()
        except BaseException as exc:
            print(type(exc).__name__, str(exc)[:26])
"""


def test_interrupt_while_rendering_a_message_propagates():
    proc = child(INTERRUPTED_STR)
    assert lines(proc) == ["KeyboardInterrupt ", "KeyboardInterrupt ", "SystemExit ", "SystemExit ",
                           "TypeError fuzzy_equal() got an unexp",
                           "TypeError argument 'a': <unprintable"]
    assert proc.stderr.count("Exception ignored") == 2


# A PanicException from Python code is resumed with its str(): an interrupt raised by that str()
# is the call's outcome, wherever the exception came from; an ordinary error there gives the
# fixed text. The same holds for the rendering of NumPy's import error.
RESUMED_STR = """
import _accel
try: _accel.mirror_weyl_coord(1, 0, 0)
except BaseException as exc: P = type(exc)
class Message:
    def __init__(self, error): self.error = error
    def __str__(self): raise self.error()
def raising(error):
    def r(*_): raise P(Message(error))
    return r
class Float:
    def __init__(self, error): self.error = error
    def __float__(self): raising(self.error)()
class Less(Float):
    def __lt__(self, other): raising(self.error)()
for error in (KeyboardInterrupt, SystemExit, ValueError):
    for attempt in (lambda: _accel.sort_two_ints(1, 2, key=raising(error)),
                    lambda: _accel.sort_two_objs(1, 2, key=lambda x: Less(error)),
                    lambda: _accel.sort_two_floats(1.0, 2.0, key=lambda x: Float(error))):
        try:
            attempt()
        except BaseException as exc:
            print(type(exc).__name__, str(exc).replace(" ", "_") or "-")
print(_accel.sort_two_ints(2, 1))
"""


def test_interrupt_while_rendering_a_resumed_panic_propagates():
    got = lines(child(RESUMED_STR))
    assert got == (["KeyboardInterrupt -"] * 3 + ["SystemExit -"] * 3 +
                   ["PanicException Unwrapped_panic_from_Python_code"] * 3 + ["(1, 2)"])


NUMPY_RENDERING = """
import sys, types, _accel
class Loud(type):
    def __repr__(cls): raise KeyboardInterrupt
class Quiet(type):
    def __repr__(cls): raise ValueError
def fake(meta):
    error = meta("Broken", (Exception,), {})
    class Numpy(types.ModuleType):
        def __getattr__(self, name): raise error("no version")
    sys.modules["numpy"] = Numpy("numpy")
for meta in (Loud, Quiet):
    fake(meta)
    try:
        _accel.canonical_unitary(0, 0, 0)
    except BaseException as exc:
        print(type(exc).__name__, str(exc).startswith("Failed to access NumPy array API capsule: "))
del sys.modules["numpy"]
print(_accel.canonical_unitary(0, 0, 0).shape)
"""


@needs_numpy
def test_interrupt_while_rendering_numpys_error_propagates():
    assert lines(child(NUMPY_RENDERING)) == ["KeyboardInterrupt False", "PanicException True",
                                             "(4, 4)"]


# An embedding program that finalizes CPython and starts it again gets a working module.
EMBED = r"""
#include <Python.h>
int main(void) {
  for (int round = 0; round < 3; ++round) {
    Py_Initialize();
    // NumPy only in the first runtime: NumPy 2 refuses a second one, and with NumPy 1 CPython
    // 3.12's own _datetime crashes when it is initialised again.
    PyRun_SimpleString(round == 0 ? "ROUND = 0" : "ROUND = 1");
    if (PyRun_SimpleString(
            "import _accel as A\n"
            "print(A.synth_cost_by_cx(0.5, 0, 0), A.fuzzy_equal(a=1.0, b=1.0), end=' ')\n"
            "try: A.mirror_weyl_coord(1, 0, 0)\n"
            "except BaseException as e: print(type(e).__name__, end=' ')\n"
            "print(A.canonical_unitary(0, 0, 0).shape if ROUND == 0 else '')\n") != 0)
      return 1;
    if (Py_FinalizeEx() < 0) return 2;
  }
  return 0;
}
"""


@needs_numpy
def test_embedded_restart_gets_a_working_module(tmp_path):
    import os
    import shutil
    import sysconfig

    import numpy
    import _accel

    cc = shutil.which("cc") or shutil.which("gcc")
    libdir, library = sysconfig.get_config_var("LIBDIR"), sysconfig.get_config_var("LDLIBRARY")
    if cc is None or not sysconfig.get_config_var("Py_ENABLE_SHARED") or not library:
        pytest.skip("needs a C compiler and a shared libpython")
    (tmp_path / "embed.c").write_text(EMBED)
    name = library.removeprefix("lib").removesuffix(".so")
    build = subprocess.run(
        [cc, str(tmp_path / "embed.c"), "-o", str(tmp_path / "embed"),
         "-I" + sysconfig.get_paths()["include"], "-L" + libdir, "-l" + name,
         "-Wl,-rpath," + libdir], capture_output=True, text=True)
    if build.returncode != 0:
        pytest.skip("cannot build an embedding program: " + build.stderr[-500:])
    path = os.pathsep.join({os.path.dirname(_accel.__file__),
                            os.path.dirname(os.path.dirname(numpy.__file__))})
    proc = subprocess.run([str(tmp_path / "embed")], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONHOME=sys.base_prefix, PYTHONPATH=path),
                          timeout=60 * TIMEOUT_FACTOR)
    assert proc.returncode == 0, proc.stderr[-3000:]
    assert proc.stdout.split("\n") == ["1.0 True PanicException (4, 4)",
                                        "1.0 True PanicException ", "1.0 True PanicException ",
                                        ""], proc.stdout
