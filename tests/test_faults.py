"""Internal faults: PanicException, fault reports, resumed panics and the module staying usable."""

import sys

import pytest

from support import MAIN_THREAD, RESUME_BANNER, WEYL, only_linux, run_child

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.conformance, pytest.mark.leaks]

def test_panic_class(panic_type):
    assert panic_type.__module__ == "pyo3_runtime"
    assert panic_type.__name__ == "PanicException"
    assert panic_type.__qualname__ == "PanicException"
    assert panic_type.__bases__ == (BaseException,)
    assert not issubclass(panic_type, Exception)
    doc = panic_type.__doc__
    assert doc.startswith("\n") and doc.endswith("\n") and "BaseException" in doc
    assert len([p for p in doc.strip().split("\n\n") if p]) == 2


FAULTING = [
    ("mirror_weyl_coord", (0.1, 0.2, 0.0)),
    ("synth_cost_by_cx", (0.6, 0.0, 0.0)),
    ("synth_cost_by_sqisw", (float("nan"), 0.0, 0.0)),
    ("synth_cost_by_b", (0.3, 0.2, float("inf"))),
    ("optimal_can_gate_duration", (0.5, 0.0, 1e-08, 1.0, 1.0, 1.0)),
]


@pytest.mark.parametrize("name,args", FAULTING, ids=[f"{n}{a}" for n, a in FAULTING])
def test_precondition_raises_panic_and_module_recovers(acc, panic_type, name, args):
    f = getattr(acc, name)
    try:
        f(*args)
    except Exception:  # noqa: BLE001 - must not catch it
        pytest.fail("PanicException was caught as Exception")
    except BaseException as exc:
        assert type(exc) is panic_type
        assert exc.args == (WEYL,)
        assert str(exc) == WEYL
    ok = (0.5, 0.0, 0.0) + ((1.0, 0.0, 0.0) if len(args) == 6 else ())
    assert isinstance(f(*ok), (float, tuple))


REPORT = """
import _accel
for args in [(0.6, 0.0, 0.0), (0.1, 0.2, 0.0)]:
    try:
        _accel.mirror_weyl_coord(*args)
    except BaseException as exc:
        print(type(exc).__name__, exc)
"""


def test_fault_report_on_stderr():
    proc = run_child(REPORT)
    assert proc.stdout.splitlines() == [f"PanicException {WEYL}"] * 2
    err = proc.stderr
    assert err.count(f"thread '{MAIN_THREAD}' panicked at src/lib:105:5:\n" + WEYL + "\n") == 2
    assert err.count("note: ") == 1  # the backtrace hint comes with the first report only


THREADED = """
import _accel, threading
def comm(tid):
    with open(f"/proc/self/task/{tid}/comm") as f:
        return f.read().strip()
def work():
    # The OS name: only the inherited process name before 3.14, the Python name from 3.14 on.
    own = comm(threading.get_native_id())
    print("<unnamed>" if own == comm(threading.main_thread().native_id) else own)
    try:
        _accel.synth_cost_by_b(0.6, 0, 0)
    except BaseException as exc:
        print(type(exc).__name__)
t = threading.Thread(target=work)
t.start(); t.join()
"""


@only_linux
def test_fault_report_names_other_threads_as_the_os_does():
    proc = run_child(THREADED)
    name, raised = proc.stdout.splitlines()
    assert raised == "PanicException"
    assert f"thread '{name}' panicked at src/lib:255:5:\n" in proc.stderr


SITES = [
    ("synth_cost_by_cx(0.6, 0, 0)", "src/lib:211:5"),
    ("synth_cost_by_sqisw(0.6, 0, 0)", "src/lib:235:5"),
    ("synth_cost_by_b(0.6, 0, 0)", "src/lib:255:5"),
    ("optimal_can_gate_duration(0.6, 0, 0, 1, 1, 1)", "src/lib:75:5"),
    ("mirror_weyl_coord(0.6, 0, 0)", "src/lib:105:5"),
]


def test_fault_lists_cover_every_function_that_checks_a_coordinate(acc, panic_type):
    # Derived from the module: each function that faults on a coordinate outside the chamber
    # must be in FAULTING and SITES, so that a new one cannot be skipped silently.
    checking = set()
    for name in acc.__all__:
        f = getattr(acc, name)
        nparams = len(f.__text_signature__.split(","))
        args = (0.9, 0.0, 0.0) + (1.0,) * (nparams - 3) if nparams >= 3 else (0.9, 0.0)
        try:
            f(*args[:nparams])
        except panic_type as exc:
            if str(exc) == WEYL:  # not NumPy's fault, where NumPy is missing
                checking.add(name)
        except BaseException:  # noqa: BLE001 - argument errors of other shapes
            pass
    assert checking == {name for name, _ in FAULTING}
    assert checking == {call.split("(")[0] for call, _ in SITES}


@pytest.mark.parametrize("call,site", SITES)
def test_fault_sites(call, site):
    proc = run_child(f"import _accel\ntry: _accel.{call}\nexcept BaseException: pass")
    assert f"panicked at {site}:\n{WEYL}\n" in proc.stderr


RESUME = """
import _accel
try:
    _accel.mirror_weyl_coord(0.6, 0, 0)
except BaseException as exc:
    Panic = type(exc)
original = Panic("x marks the spot")

def key(v):
    raise original

class Bad:
    def __float__(self):
        raise Panic("from float")

for call in (lambda: _accel.sort_two_ints(1, 2, key),
             lambda: _accel.fuzzy_equal(Bad(), 1.0)):
    try:
        call()
    except BaseException as exc:
        print(type(exc) is Panic, exc is original, str(exc))
print(_accel.sort_two_ints(2, 1))
"""


def test_panic_from_python_is_resumed():
    proc = run_child(RESUME)
    assert proc.stdout.splitlines() == [
        "True False x marks the spot", "True False from float", "(1, 2)"]
    assert proc.stderr.count(RESUME_BANNER) == 2
    assert "Traceback (most recent call last):" in proc.stderr
    assert "in key" in proc.stderr and "PanicException: x marks the spot" in proc.stderr
    # A resumed fault is not reported a second time.
    assert proc.stderr.count("panicked at") == 1


def test_key_errors_pass_unchanged(acc):
    err = ValueError("from key")

    def key(v):
        raise err

    with pytest.raises(ValueError) as info:
        acc.sort_two_ints(1, 2, key)
    assert info.value is err


ODD_PANICS = """
import sys, _accel
try:
    _accel.mirror_weyl_coord(1, 0, 0)
except BaseException as exc:
    Panic = type(exc)
class BadStr:
    def __str__(self):
        raise ValueError("no text")
class Loud:
    def __str__(self):
        sys.stderr.write("<str called>\\n"); sys.stderr.flush()
        return "loud"
for arg in ("lone \\ud800 surrogate", BadStr(), Loud()):
    def key(x, arg=arg):
        raise Panic(arg)
    try:
        _accel.sort_two_ints(1, 2, key=key)
    except BaseException as exc:
        print(type(exc) is Panic, ascii(str(exc)))
"""


def test_resumed_panics_with_odd_messages():
    proc = run_child(ODD_PANICS)
    assert proc.stdout.splitlines() == ["True 'lone \\ufffd\\ufffd\\ufffd surrogate'",
                                        "True 'Unwrapped panic from Python code'", "True 'loud'"]
    # The module takes str() itself before the banner (an interrupt from it ends the call before
    # anything is printed); the printed exception renders it once more.
    err = proc.stderr[proc.stderr.rindex("--- PyO3 is resuming") - len("<str called>\n"):]
    assert err.startswith("<str called>\n--- PyO3 is resuming")
    assert err.index("<str called>", 1) < err.index("pyo3_runtime.PanicException: loud")
    assert err.count("<str called>") == 2  # once for the message, once while printed


@only_linux
def test_fault_report_uses_the_os_thread_name():
    proc = run_child("""
import ctypes, threading, _accel
libc = ctypes.CDLL(None)
libc.pthread_self.restype = ctypes.c_ulong
libc.pthread_setname_np.argtypes = [ctypes.c_ulong, ctypes.c_char_p]
def work():
    libc.pthread_setname_np(libc.pthread_self(), b"cost-worker")
    try:
        _accel.synth_cost_by_b(0.6, 0, 0)
    except BaseException:
        pass
t = threading.Thread(target=work)
t.start(); t.join()
""")
    assert "thread 'cost-worker' panicked at src/lib:255:5:\n" in proc.stderr


def test_objects_held_when_a_fault_unwinds_are_released_before_the_call_returns(acc, panic_type,
                                                                              capfd):
    # Releases wait until the entry path has caught the fault, but no longer: by the time the
    # PanicException reaches the caller, key(a)'s result has been finalised and nothing leaks.
    events = []

    class Held:
        def __del__(self):
            events.append("released")

    def key(x):
        if x == 2:
            raise panic_type("from key(b)")
        return Held()

    held_key = sys.getrefcount(key)
    for _ in range(3):
        with pytest.raises(panic_type):
            acc.sort_two_objs(1, 2, key=key)
        events.append("raised")
    assert events == ["released", "raised"] * 3
    assert sys.getrefcount(key) == held_key
    assert capfd.readouterr().err.count("resuming a panic") == 3


# Linux keeps 15 bytes of a thread's name and cuts inside a character; names can be any bytes.
# The report stays valid UTF-8: a sequence cut at the end is left out, any other invalid part
# becomes U+FFFD as Python's decoder replaces it, and the parent here reads it as text.
NAMES = [
    "задачарасчёта".encode(),               # cut inside its eighth letter
    b"cost-worker",                         # ASCII, byte for byte
    b"a\xffb\x80c\xc0\xafd",                # bytes that start nothing
    b"\xe2\x82z\xed\xa0\x80y\xf4\x90\x80x",  # a truncated part, a surrogate, beyond U+10FFFF
    "ab€".encode() + b"\xf0\x9f\x98",       # four-byte character cut after three
    b"\xf0\x9f\x98\x80ok",                  # a whole four-byte character
]


@only_linux
def test_fault_report_names_stay_valid_utf8():
    import codecs

    proc = run_child(f"""
import ctypes, threading, _accel
libc = ctypes.CDLL(None)
def work(name):
    libc.prctl(15, ctypes.c_char_p(name), 0, 0, 0)  # PR_SET_NAME
    try:
        _accel.synth_cost_by_b(0.6, 0, 0)
    except BaseException:
        pass
for name in {NAMES!r}:
    t = threading.Thread(target=work, args=(name,))
    t.start(); t.join()
""")
    reported = [line.split("'")[1] for line in proc.stderr.splitlines() if "panicked" in line]
    assert reported == [codecs.utf_8_decode(name[:15], "replace", False)[0] for name in NAMES]
