"""Random call shapes for every function against a pure-Python model of the binding rules."""

import math
import operator

from hypothesis import given, strategies as st

import _accel as acc
import model

# In no subset of the suite that a CI leg runs apart (conftest.MARKERS): the whole-suite
# legs only.
pytestmark = []

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


VALUES = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True), st.integers(-2 ** 70, 2 ** 70),
    st.sampled_from([0.0, 0.5, 0.25, -0.0, 1, True, False, None, "s", b"b", [], 2 ** 31,
                     -2 ** 31, Floaty(-1.0), Floaty(0.3), Floaty(ValueError("v")),
                     Floaty(TypeError("t")), Indexy(3), Indexy(2 ** 40), abs, 5]))
KEYWORDS = st.sampled_from(["a", "b", "c", "_a", "atol", "key", "gx", "gy", "gz", "x", "A",
                            "\u00e4", "\udcff", "", "atol ", "keys"])


@given(st.sampled_from(sorted(SIGS)), st.lists(VALUES, max_size=7),
       st.dictionaries(KEYWORDS, VALUES, max_size=4))
def test_call_shapes(fname, args, kwargs):
    kw_items = list(kwargs.items())
    try:
        want = ("ok", model_call(fname, args, kw_items))
    except model.Fault as exc:
        want = ("PanicException", str(exc))
    except Exception as exc:  # noqa: BLE001
        want = (type(exc).__name__, str(exc))
    try:
        got = ("ok", getattr(acc, fname)(*args, **kwargs))
    except BaseException as exc:  # noqa: BLE001
        got = (type(exc).__name__, str(exc))
    if want[0] == "ok" and got[0] == "ok":
        if want[1] is not None:
            assert model.same(got[1], want[1]), (fname, args, kwargs, got, want)
    else:
        assert got == want, (fname, args, kwargs)
