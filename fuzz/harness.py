"""Coverage-guided fuzzing of every _accel function, for a build with ACCEL_FUZZ=ON (run it with
./dev.sh fuzz, which builds that module and sets up the sanitizer runtime).

usage: python fuzz/harness.py [libFuzzer options] [CORPUS...]

Each input picks a function from the module's own __all__ and __text_signature__ (a new function
is fuzzed as soon as it is declared), a call shape, arguments and, on a fault-injection build,
failure points. Any of these ends the run with a reproducer:
  - a crash or a sanitizer report;
  - an outcome (result, or exception type and message) that differs from the reference model of
    the tests, for calls whose arguments the model covers (NaNs compare as one value);
  - a changed reference count of an argument;
  - a finaliser of an object the call was given or made that has not run once the call is over.
The reason is written to $ACCEL_FUZZ_LOG, since libFuzzer's -close_fd_mask=2 keeps the module's
fault reports (and so everything on standard error) out of its log.
"""

import ctypes
import functools
import math
import operator
import os
import struct
import sys

import atheris

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests"))

import _accel  # noqa: E402
import model  # noqa: E402
from support import SIGS, model_call  # noqa: E402

try:
    _accel.mirror_weyl_coord(1, 0, 0)
except BaseException as exc:  # noqa: BLE001 - the class is only reachable this way
    PANIC = type(exc)

FUNCTIONS = [(name, getattr(_accel, name).__text_signature__.strip("()").split(", "))
             for name in _accel.__all__]
# Failure points a fault-injection build offers; those that end the process on purpose are out.
POINTS = ["result", "tuple", "numpy", "container_type", "container", "descr", "array", "base",
          "panic_class", "panic_text", "std_exception"]
SPECIAL = [0.0, -0.0, 0.5, -0.5, 0.25, 1e-8, -1e-8, 5e-9, 1.0, math.inf, -math.inf, math.nan,
           5e-324, 1.7976931348623157e308, 0.49999999, 0.50000001]
INTS = [0, 1, -1, 2 ** 31 - 1, -2 ** 31, 2 ** 31, -2 ** 31 - 1, 2 ** 63 - 1, -2 ** 63, 2 ** 63,
        2 ** 64, 2 ** 30, 2 ** 100]
WRONG = [None, "s", b"b", [], (), {}, object(), 1j, 5]
KEYS = [abs, operator.neg, float, round]  # keys the model covers
LOG = os.environ.get("ACCEL_FUZZ_LOG")
vectorcall = ctypes.pythonapi.PyObject_Vectorcall
vectorcall.restype = ctypes.py_object
vectorcall.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]


class Hostile:
    """Its number protocols, `<`, truth and finaliser do what the fuzzer chose."""
    alive = 0

    def __init__(self, mode, value):
        self.mode, self.value = mode, value
        Hostile.alive += 1

    def act(self):
        mode = self.mode
        if mode == 0:
            return self.value
        if mode == 1:
            raise ValueError("hostile")
        if mode == 2:
            raise PANIC(f"hostile {self.value!r}")
        if mode == 3:
            return "wrong type"
        if mode == 4:  # back into the module, which faults there
            return _accel.synth_cost_by_cx(1.0, 0.0, 0.0)
        if mode == 5:
            return _accel.sort_two_floats(1.0, 2.0, key=lambda x: x)[0]
        raise TypeError("hostile")

    def __float__(self):
        return self.act()

    def __index__(self):
        return self.act()

    def __lt__(self, other):
        return self.act()

    def __bool__(self):
        return self.act()

    def __call__(self, value):
        return self.act()

    def __del__(self):
        Hostile.alive -= 1
        if self.mode == 4:
            try:
                _accel.mirror_weyl_coord(1.0, 0.0, 0.0)
            except BaseException:  # noqa: BLE001
                pass


class Name(str):
    """A keyword name that is a str subclass, whose str() may raise."""

    def __str__(self):
        raise (KeyboardInterrupt if self.startswith("k") else ValueError)("name")


def value(fdp, made):
    """One argument; `made` holds the numbers made so far in this input, so that equal, negated
    and equal-magnitude pairs (the ties of the orderings) come often."""
    kind = fdp.ConsumeIntInRange(0, 9)
    if kind == 9 and made:
        number = fdp.PickValueInList(made)
        return fdp.PickValueInList([number, -number, abs(number), type(number)(number)])
    out = plain_or_hostile(fdp, kind, made)
    if type(out) in (int, float):
        made.append(out)
    return out


def plain_or_hostile(fdp, kind, made):
    if kind == 0:
        return struct.unpack("<d", struct.pack("<Q", fdp.ConsumeInt(8) & (2 ** 64 - 1)))[0]
    if kind == 1:
        return fdp.PickValueInList(SPECIAL)
    if kind == 2:
        return fdp.PickValueInList(INTS) + fdp.ConsumeIntInRange(-1, 1)
    if kind == 3:
        return fdp.ConsumeBool()
    if kind == 4:
        import numpy as np
        if fdp.ConsumeBool():
            return fdp.PickValueInList([np.float64, np.float32])(fdp.PickValueInList(SPECIAL))
        return fdp.PickValueInList([np.int32, np.int64, np.bool_])(fdp.ConsumeIntInRange(-2, 2))
    if kind == 5:
        return fdp.PickValueInList(WRONG)
    if kind == 6:
        return fdp.PickValueInList(KEYS)
    return Hostile(fdp.ConsumeIntInRange(0, 6), value(fdp, made) if fdp.ConsumeBool() else 0.25)


def tie(fdp, made):
    """Two numbers of one magnitude and a key the model covers: the orderings' ties."""
    x = value(fdp, made)
    y = fdp.PickValueInList([x, -x, abs(x)]) if type(x) in (int, float) else x
    return [x, y, fdp.PickValueInList(KEYS)]


def keyword(fdp, params):
    names = [p.split("=")[0] for p in params]
    kind = fdp.ConsumeIntInRange(0, 5)
    if kind <= 2:
        return fdp.PickValueInList(names)
    if kind == 3:
        return fdp.PickValueInList(["x", "A", "\u00e4", "atol ", "", "keys"])
    if kind == 4:
        return Name(fdp.PickValueInList(["k", "v"]) + fdp.PickValueInList(names))
    return fdp.PickValueInList([b"a", 7, None])  # only a C caller can pass these


def fail(reason):
    if LOG:
        with open(LOG, "a") as f:
            f.write(reason + "\n")
    raise AssertionError(reason)


def outcome(call):
    try:
        return "ok", call()
    except BaseException as exc:  # noqa: BLE001
        return type(exc).__name__, str(exc)


def TestOneInput(data):
    fdp = atheris.FuzzedDataProvider(data)
    name, params = fdp.PickValueInList(FUNCTIONS)
    f = getattr(_accel, name)
    made = []
    if params[-1] == "key=None" and fdp.ConsumeIntInRange(0, 2) == 2:
        args = tie(fdp, made)
    else:
        args = [value(fdp, made) for _ in range(fdp.ConsumeIntInRange(0, len(params) + 1))]
    keys = [keyword(fdp, params) for _ in range(fdp.ConsumeIntInRange(0, 3))]
    kwvalues = [value(fdp, made) for _ in keys]
    shape = fdp.ConsumeIntInRange(0, 2)
    # One input in ten injects a failure; an input whose bytes ran out (which reads as zeros)
    # injects none.
    points = [fdp.PickValueInList(POINTS)] if fdp.ConsumeIntInRange(0, 9) == 9 else []
    plain = not points and all(type(v) in (float, int, bool) or any(v is k for k in KEYS)
                               for v in args + kwvalues)
    watched = [v for v in args + kwvalues if sys.getrefcount(v) < 1 << 20]
    before = [sys.getrefcount(v) for v in watched]
    kwargs = {k: v for k, v in zip(keys, kwvalues) if type(k) is str}

    target = array = None
    if shape == 2:  # a C caller's vectorcall with any keyword names at all
        array = (ctypes.py_object * (len(args) + len(keys)))(*args, *kwvalues)
        kwnames = tuple(keys) if keys else None
        call = functools.partial(vectorcall, f, ctypes.addressof(array), len(args), kwnames)
    else:
        target = functools.partial(f, *args[:1]) if shape == 1 else f
        call = functools.partial(target, *args[1:] if shape == 1 else args, **kwargs)
    if points:
        os.environ["ACCEL_INJECT"] = ",".join(points)
    try:
        got = outcome(call)
    finally:
        os.environ.pop("ACCEL_INJECT", None)
    sys.last_exc = sys.last_type = sys.last_value = sys.last_traceback = None

    if plain and shape != 2 and name in SIGS and name != "canonical_unitary":
        want = outcome(lambda: model_call(name, args, list(kwargs.items())))
        if want[0] == "Fault":
            want = ("PanicException", want[1])
        if want[0] != got[0] or (want[0] == "ok" and want[1] is not None
                                 and not model.same(got[1], want[1])) or (
                want[0] != "ok" and want[1] != got[1]):
            fail(f"{name}{tuple(args)} {kwargs}: got {got!r}, the model says {want!r}")
        del want
    call = got = target = array = kwargs = None  # everything that still holds an argument
    after = [sys.getrefcount(v) for v in watched]
    if after != before:
        fail(f"{name}: reference counts of {watched!r} went from {before} to {after}")
    args = kwvalues = watched = None
    if Hostile.alive != 0:
        fail(f"{name}: {Hostile.alive} objects given to or made by the call were not finalised")


def main():
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
