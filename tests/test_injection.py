"""Injected faults on paths that ordinary inputs cannot reach (test builds only)."""

import sys

import pytest

from conftest import INJECTION_BUILD
from support import run_child

pytestmark = [pytest.mark.leaks, pytest.mark.skipif(not INJECTION_BUILD,
                                reason="the module was built without ACCEL_FAULT_INJECTION")]

API = "Python API call failed"
CAPSULE = "Failed to access NumPy array API capsule: type: <class 'ImportError'>, " \
          "value: ImportError('injected NumPy failure'), traceback: None"

CASES = [
    ("result", lambda m: m.synth_cost_by_cx(0.5, 0, 0), API),
    ("result", lambda m: m.sort_two_ints(2, 1), API),
    ("result", lambda m: m.sort_two_floats(2.0, 1.0, key=abs), API),
    ("tuple", lambda m: m.mirror_weyl_coord(0.5, 0, 0), API),
    ("tuple", lambda m: m.sort_two_objs([1], [2]), API),
    ("numpy", lambda m: m.canonical_unitary(0, 0, 0), CAPSULE),
    ("container_type", lambda m: m.canonical_unitary(0, 0, 0),
     "failed to create type object for PySliceContainer"),
    ("container", lambda m: m.canonical_unitary(0, 0, 0),
     "Failed to create slice container: type: <class 'MemoryError'>, value: MemoryError(), "
     "traceback: None"),
    ("descr", lambda m: m.canonical_unitary(0, 0, 0), API),
    ("array", lambda m: m.canonical_unitary(0, 0, 0), API),
    ("base", lambda m: m.canonical_unitary(0, 0, 0), API),
]


@pytest.mark.parametrize("point,call,message", CASES)
def test_injected_fault_raises_and_recovers(acc, panic_type, monkeypatch, capfd, point, call,
                                            message):
    owner = type(acc.canonical_unitary(0, 0, 0).base)
    held = [1], [2]
    before = sys.getrefcount(owner), sys.getrefcount(held[0]), sys.getrefcount(held[1])
    monkeypatch.setenv("ACCEL_INJECT", point)
    for _ in range(3):
        with pytest.raises(panic_type) as info:
            call(acc)
        assert str(info.value) == message
        del info
        try:
            acc.sort_two_objs(*held)  # holds no references to its objects after a fault
        except BaseException:
            pass
    monkeypatch.delenv("ACCEL_INJECT")
    assert call(acc) is not None
    assert (sys.getrefcount(owner), sys.getrefcount(held[0]), sys.getrefcount(held[1])) == before
    assert "panicked at" in capfd.readouterr().err


@pytest.mark.parametrize("point", ["panic_class", "panic_text"])
def test_exception_that_cannot_be_made_raises_the_creation_error(point):
    # The class (or the message) cannot be created: the call raises that creation's error,
    # nothing is cached, and the next fault raises PanicException as usual.
    proc = run_child(f"""
import os, _accel
os.environ["ACCEL_INJECT"] = "{point}"
for _ in range(2):
    try:
        _accel.mirror_weyl_coord(0.6, 0, 0)
    except BaseException as exc:
        print(type(exc).__name__)
del os.environ["ACCEL_INJECT"]
try:
    _accel.mirror_weyl_coord(0.6, 0, 0)
except BaseException as exc:
    print(type(exc).__module__, type(exc).__name__)
""")
    assert proc.stdout.splitlines() == ["MemoryError", "MemoryError",
                                        "pyo3_runtime PanicException"]


def test_standard_exception_becomes_panic(acc, panic_type, monkeypatch):
    monkeypatch.setenv("ACCEL_INJECT", "std_exception")
    with pytest.raises(panic_type, match="^injected standard exception$"):
        acc.mirror_weyl_coord(0.6, 0, 0)
    monkeypatch.delenv("ACCEL_INJECT")
    assert acc.mirror_weyl_coord(0.5, 0, 0) == (0.5, 0.5, 0.0)


def test_failed_registration_fails_the_import_and_caches_nothing():
    proc = run_child("""
import os, sys
os.environ["ACCEL_INJECT"] = "all_append"
try:
    import _accel
except BaseException as exc:
    print(type(exc).__name__, str(exc).split(":")[0])
del os.environ["ACCEL_INJECT"]
sys.modules.pop("_accel", None)
import _accel
print(_accel.__all__ == [name for name in vars(_accel) if not name.startswith("_")])
""")
    assert proc.stdout.splitlines() == ["PanicException could not append __name__ to __all__",
                                        "True"]


ABORTS = [
    ("raise", "_accel.mirror_weyl_coord(0.6, 0, 0)",
     ["injected fault while raising", "uncaught panic at ffi boundary"]),
    ("alloc", "_accel.canonical_unitary(0, 0, 0)", ["memory allocation of 256 bytes failed"]),
]


@pytest.mark.parametrize("point,call,texts", ABORTS)
def test_abort_conditions(point, call, texts):
    proc = run_child(f"import _accel\nprint('before', flush=True)\n{call}\nprint('after')",
                     env={"ACCEL_INJECT": point}, check=False)
    assert proc.returncode < 0  # killed by SIGABRT
    assert proc.stdout == "before\n"
    for text in texts:
        assert text in proc.stderr


# An interrupt that cuts a failing call short, or the printing of its error, ends the call as
# itself wherever it lands on the fault path; the module stays usable.
def resumed(m, panic):
    def key(x):
        raise panic("m")
    return m.sort_two_objs(1, 2, key=key)


INTERRUPTED = [(point + ",interrupt", lambda m, panic, call=call: call(m))
               for point, call, _ in CASES if point not in ("numpy", "container_type")]
INTERRUPTED += [("result,print_interrupt", lambda m, panic: m.sort_two_ints(2, 1)),
                ("print_interrupt", resumed)]


@pytest.mark.parametrize("points,call", INTERRUPTED)
def test_injected_interrupt_ends_the_call_as_itself(acc, panic_type, monkeypatch, capfd, points,
                                                   call):
    monkeypatch.setenv("ACCEL_INJECT", points)
    for _ in range(2):
        with pytest.raises(KeyboardInterrupt):
            call(acc, panic_type)
    monkeypatch.delenv("ACCEL_INJECT")
    assert acc.sort_two_ints(2, 1) == (1, 2) and acc.canonical_unitary(0, 0, 0).shape == (4, 4)
    capfd.readouterr()
