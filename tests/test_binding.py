"""Argument binding messages, conversions and the argument-error wrapping."""

import sys

import pytest

import _accel as acc
from support import Floaty, Indexy, numpy_free

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.conformance, pytest.mark.leaks]


def raises_exactly(call, exc_type, message):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value) is exc_type
    assert str(info.value) == message
    return info.value


BINDING = [
    (lambda: acc.fuzzy_less(1.0, 2.0, 0.5, 5),
     "fuzzy_less() takes from 2 to 3 positional arguments but 4 were given"),
    (lambda: acc.check_weyl_coord(0.1, 0.1, 0.1, 0.1),
     "check_weyl_coord() takes 3 positional arguments but 4 were given"),
    (lambda: acc.optimal_can_gate_duration(*[0.0] * 7),
     "optimal_can_gate_duration() takes 6 positional arguments but 7 were given"),
    (lambda: acc.check_weyl_coord(),
     "check_weyl_coord() missing 3 required positional arguments: 'a', 'b', and 'c'"),
    (lambda: acc.fuzzy_equal(),
     "fuzzy_equal() missing 2 required positional arguments: 'a' and 'b'"),
    (lambda: acc.fuzzy_equal(1.0),
     "fuzzy_equal() missing 1 required positional argument: 'b'"),
    (lambda: acc.fuzzy_equal(b=1.0),
     "fuzzy_equal() missing 1 required positional argument: 'a'"),
    (lambda: acc.only_xx_rot(b=0.0),
     "only_xx_rot() missing 2 required positional arguments: '_a' and 'c'"),
    (lambda: acc.optimal_can_gate_duration(0.0, gz=1.0),
     "optimal_can_gate_duration() missing 4 required positional arguments: "
     "'b', 'c', 'gx', and 'gy'"),
    (lambda: acc.fuzzy_equal(1.0, a=2.0),
     "fuzzy_equal() got multiple values for argument 'a'"),
    (lambda: acc.fuzzy_equal(1.0, 2.0, tol=1),
     "fuzzy_equal() got an unexpected keyword argument 'tol'"),
    (lambda: acc.sort_two_ints(1, 2, None, key=None),
     "sort_two_ints() got multiple values for argument 'key'"),
    # Keywords are checked in the caller's order; the first problem wins.
    (lambda: acc.fuzzy_equal(1.0, x=1, a=2),
     "fuzzy_equal() got an unexpected keyword argument 'x'"),
    (lambda: acc.fuzzy_equal(1.0, a=2, x=1),
     "fuzzy_equal() got multiple values for argument 'a'"),
    # Too many positionals is reported before any keyword is looked at.
    (lambda: acc.fuzzy_equal(1, 2, 3, 4, x=1),
     "fuzzy_equal() takes from 2 to 3 positional arguments but 4 were given"),
    # Keyword problems come before missing arguments.
    (lambda: acc.check_weyl_coord(x=1),
     "check_weyl_coord() got an unexpected keyword argument 'x'"),
    (lambda: acc.canonical_unitary(**{"\u00e4": 1}),
     "canonical_unitary() got an unexpected keyword argument '\u00e4'"),
    (lambda: acc.canonical_unitary(**{"\udcff": 1}),
     "canonical_unitary() got an unexpected keyword argument '\udcff'"),
    # Names are compared byte for byte: no case folding or prefix matches.
    (lambda: acc.fuzzy_equal(1.0, 2.0, ATOL=1),
     "fuzzy_equal() got an unexpected keyword argument 'ATOL'"),
    (lambda: acc.only_xx_rot(0.0, 0.0, 0.0, 0.0, a=1),
     "only_xx_rot() takes 3 positional arguments but 4 were given"),
    (lambda: acc.only_xx_rot(a=1, b=0.0, c=0.0),
     "only_xx_rot() got an unexpected keyword argument 'a'"),
]


@pytest.mark.parametrize("call,message", BINDING)
def test_binding_messages(call, message):
    raises_exactly(call, TypeError, message)


class Str(str):
    pass


KEYWORD_CALLS = [
    (lambda: acc.sort_two_ints(b=2, a=1), (1, 2)),
    (lambda: acc.fuzzy_less(b=2, a=1, atol=0), True),
    (lambda: acc.fuzzy_equal(1.0, 2.0, atol=None), False),
    (lambda: acc.fuzzy_equal(1.0, 1.000000005, None), True),
    (lambda: acc.only_xx_rot(_a=1, c=0.0, b=0.0), True),
    (lambda: acc.optimal_can_gate_duration(gz=0, gy=0, gx=1, c=0, b=0, a=0.5),
     0.7853981633974483),
    (lambda: acc.check_weyl_coord(**{Str("a"): 0.5, "b": 0.5, "c": 0.5}), True),
    (lambda: acc.synth_cost_by_cx(0.5, c=0.0, b=0.0), 1.0),
]


@pytest.mark.parametrize("call,expected", KEYWORD_CALLS)
def test_keyword_calls(call, expected):
    assert call() == expected


class TypeErrorSub(TypeError):
    pass


class BadStr:
    def __str__(self):
        raise RuntimeError("no str")


def test_float_conversions_follow_cpython(acc):
    assert acc.sort_two_floats(3, True) == (1.0, 3.0)
    assert acc.sort_two_floats(Floaty(-1.0), Indexy(7)) == (-1.0, 7.0)
    assert acc.fuzzy_equal(1, True) is True
    big = 10 ** 400
    exc = raises_exactly(lambda: acc.fuzzy_equal(big, 1.0), OverflowError,
                         "int too large to convert to float")
    assert not str(exc).startswith("argument")


def test_type_error_is_prefixed_and_cause_carried(acc):
    exc = raises_exactly(lambda: acc.fuzzy_equal("x", 1.0), TypeError,
                         "argument 'a': must be real number, not str")
    assert exc.__cause__ is None and exc.__context__ is None
    assert exc.__suppress_context__

    inner = TypeError("inner")
    root = KeyError("root")
    inner.__cause__ = root
    exc = raises_exactly(lambda: acc.check_weyl_coord(0.1, 0.1, Floaty(inner)), TypeError,
                         "argument 'c': inner")
    assert exc is not inner
    assert exc.__cause__ is root
    assert exc.__context__ is None


@pytest.mark.parametrize("error", [ValueError("v"), TypeErrorSub("sub"), KeyboardInterrupt()])
def test_other_conversion_errors_pass_unchanged(acc, error):
    with pytest.raises(BaseException) as info:
        acc.fuzzy_equal(1.0, Floaty(error))
    assert info.value is error


def test_unprintable_conversion_error(acc, monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: seen.append(u))
    raises_exactly(lambda: acc.fuzzy_equal(Floaty(TypeError(BadStr())), 1.0), TypeError,
                   "argument 'a': <unprintable TypeError object>")
    assert len(seen) == 1 and type(seen[0].exc_value) is RuntimeError


def test_conversion_order_and_first_failure(acc):
    raises_exactly(lambda: acc.fuzzy_equal("x", 1.0, "y"), TypeError,
                   "argument 'a': must be real number, not str")
    raises_exactly(lambda: acc.fuzzy_equal(1.0, 2.0, "y"), TypeError,
                   "argument 'atol': must be real number, not str")
    raises_exactly(lambda: acc.only_xx_rot("s", 0.0, 0.0), TypeError,
                   "argument '_a': must be real number, not str")
    raises_exactly(lambda: acc.optimal_can_gate_duration(0.9, 0, 0, 1, 1, "g"), TypeError,
                   "argument 'gz': must be real number, not str")
    raises_exactly(lambda: acc.synth_cost_by_b(0.9, 0, None), TypeError,
                   "argument 'c': must be real number, not NoneType")


def test_float_returning_minus_one_is_a_value(acc):
    assert acc.sort_two_floats(Floaty(-1.0), 0.0) == (-1.0, 0.0)


INT32 = [
    ((2147483648, 0), OverflowError, "out of range integral type conversion attempted"),
    ((0, -2147483649), OverflowError, "out of range integral type conversion attempted"),
    ((2 ** 64, 0), OverflowError, "Python int too large to convert to C long"),
    ((1.5, 2), TypeError, "argument 'a': 'float' object cannot be interpreted as an integer"),
    ((1, "2"), TypeError, "argument 'b': 'str' object cannot be interpreted as an integer"),
]


@pytest.mark.parametrize("args,exc_type,message", INT32)
def test_int32_conversion_errors(acc, args, exc_type, message):
    raises_exactly(lambda: acc.sort_two_ints(*args), exc_type, message)


def test_int32_limits_and_index(acc):
    assert acc.sort_two_ints(-2147483648, 2147483647) == (-2147483648, 2147483647)
    assert acc.sort_two_ints(Indexy(7), False) == (0, 7)


def test_every_function_binds_its_keywords_in_any_order():
    # Keywords in declaration order bind inline once the first keyword call has interned the
    # names; any other order, and unknown names, go to the general binder. Each function has its
    # own binding code, so each is called every way.
    import inspect

    values = {"a": 0.3, "_a": 0.3, "b": 0.2, "c": 0.1, "gx": 1.0, "gy": 1.0, "gz": 1.0}

    def same(x, y):
        return x.tolist() == y.tolist() if hasattr(x, "tolist") else x == y

    for name in numpy_free(acc.__all__):
        f = getattr(acc, name)
        required = [p for p, d in inspect.signature(f).parameters.items() if d.default is d.empty]
        given = {p: ({"a": 3, "b": 2} if name == "sort_two_ints" else values)[p] for p in required}
        expected = f(*given.values())
        for _ in range(2):
            assert same(f(**given), expected), name
            assert same(f(**dict(reversed(given.items()))), expected), name
        with pytest.raises(TypeError, match="unexpected keyword argument 'zz'"):
            f(**given, zz=1)
