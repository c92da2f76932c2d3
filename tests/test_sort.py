"""Pair ordering: tie-breaks, key calls and the failures of keys and comparisons."""

import math
import sys

import pytest
from hypothesis import given, strategies as st

import model

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.conformance, pytest.mark.leaks, pytest.mark.memcheck]

NAN = math.nan


def test_floats(acc):
    assert model.same(acc.sort_two_floats(2, 1), (1.0, 2.0))
    assert model.same(acc.sort_two_floats(0.0, -0.0), (-0.0, 0.0))
    assert model.same(acc.sort_two_floats(-0.0, 0.0), (0.0, -0.0))
    assert model.same(acc.sort_two_floats(NAN, 1.0), (1.0, NAN))
    assert model.same(acc.sort_two_floats(1.0, NAN), (NAN, 1.0))
    assert acc.sort_two_floats(1.0, 2.0, lambda x: -x) == (2.0, 1.0)
    assert acc.sort_two_floats(1.0, 2.0, key=lambda x: 0.0) == (2.0, 1.0)
    assert acc.sort_two_floats(1.0, 2.0, lambda x: NAN) == (2.0, 1.0)
    a = 1.5
    assert acc.sort_two_floats(a, 2.0)[0] is not a  # new float objects


def test_ints(acc):
    got = acc.sort_two_ints(True, 0)
    assert got == (0, 1) and type(got[1]) is int
    assert acc.sort_two_ints(1, 2, lambda x: 7) == (2, 1)
    assert acc.sort_two_ints(5, 5) == (5, 5)


def test_objs(acc):
    a, b = "b", "a"
    got = acc.sort_two_objs(a, b)
    assert got == ("a", "b") and got[0] is b and got[1] is a
    assert model.same(acc.sort_two_objs(1, 1.0), (1, 1.0))
    assert model.same(acc.sort_two_objs(1.0, 1), (1.0, 1))
    assert model.same(acc.sort_two_objs(NAN, 1.0), (NAN, 1.0))
    assert model.same(acc.sort_two_objs(1.0, NAN), (1.0, NAN))
    assert acc.sort_two_objs("aa", "b", key=len) == ("b", "aa")
    with pytest.raises(TypeError, match="^'<' not supported between instances of 'str' and 'int'$"):
        acc.sort_two_objs(1, "x")


def test_key_receives_converted_values(acc):
    seen = []
    acc.sort_two_floats(3, True, key=lambda v: seen.append(v) or v)
    acc.sort_two_ints(True, 3, key=lambda v: seen.append(v) or v)
    assert [type(v) for v in seen] == [float, float, int, int] and seen == [3.0, 1.0, 1, 3]


@pytest.mark.parametrize("name", ["sort_two_floats", "sort_two_ints", "sort_two_objs"])
def test_key_called_once_each_a_first(acc, name):
    calls = []
    getattr(acc, name)(4, 4, key=lambda v: calls.append(v) or 0)
    assert calls == [4, 4]
    calls.clear()
    getattr(acc, name)(1, 2, key=None)
    getattr(acc, name)(1, 2, None)
    assert calls == []


def test_not_callable_key(acc):
    with pytest.raises(TypeError, match="^key argument must be a callable$"):
        acc.sort_two_objs(object(), object(), key=5)
    for name in ("sort_two_floats", "sort_two_ints"):
        with pytest.raises(TypeError, match="^'int' object is not callable$"):
            getattr(acc, name)(1, 2, key=5)


class Boom(Exception):
    pass


def boom(v):
    raise Boom(v)


def bad_bool_result(v):
    class B:
        def __lt__(self, other):
            return self

        def __bool__(self):
            raise Boom("bool")
    return B()


KEY_FAILURES = [
    ("sort_two_floats", boom, Boom, "1.0"),
    ("sort_two_ints", boom, Boom, "1"),
    ("sort_two_objs", boom, Boom, "1"),
    ("sort_two_floats", lambda v: "s", TypeError, "must be real number, not str"),
    ("sort_two_ints", lambda v: 1.5, TypeError, "'float' object cannot be interpreted as an integer"),
    ("sort_two_ints", lambda v: 2 ** 31, OverflowError,
     "out of range integral type conversion attempted"),
    ("sort_two_ints", lambda v: 2 ** 70, OverflowError, "Python int too large to convert to C long"),
    ("sort_two_objs", lambda v: object(), TypeError,
     "'<' not supported between instances of 'object' and 'object'"),
    ("sort_two_objs", bad_bool_result, Boom, "bool"),
    ("sort_two_floats", lambda v: (_ for _ in ()).throw(KeyboardInterrupt()), KeyboardInterrupt, ""),
]


@pytest.mark.parametrize("name,key,exc_type,message", KEY_FAILURES)
def test_key_failures_pass_unchanged(acc, name, key, exc_type, message):
    calls = []

    def counting(v):
        calls.append(v)
        return key(v)

    with pytest.raises(BaseException) as info:
        getattr(acc, name)(1, 2, key=counting)
    assert type(info.value) is exc_type
    assert str(info.value) == message
    if exc_type is not TypeError or name != "sort_two_objs":
        assert calls == [1] or name == "sort_two_objs" and len(calls) == 2
    assert getattr(acc, name)(2, 1) == (1, 2)


def test_reentrant_and_mutating_keys(acc):
    def key(v):
        return acc.sort_two_floats(v, -v, key=lambda w: acc.fuzzy_less(w, 0.0))[0]

    assert acc.sort_two_floats(2.0, 1.0, key=key) == (1.0, 2.0)
    lst_a, lst_b = [3], [1]

    def mutate(v):
        v.append(0)
        return len(v) + v[0]

    assert acc.sort_two_objs(lst_a, lst_b, key=mutate) == ([1, 0], [3, 0])


def test_references_stay_balanced(acc):
    a, b = [1], [2]

    def key(v):
        return -v[0]

    before = (sys.getrefcount(a), sys.getrefcount(b), sys.getrefcount(key))
    for _ in range(20000):
        acc.sort_two_objs(a, b, key=key)
        acc.sort_two_objs(a, b)
        try:
            acc.sort_two_objs(a, b, key=boom)
        except Boom:
            pass
    assert (sys.getrefcount(a), sys.getrefcount(b), sys.getrefcount(key)) == before


ints32 = st.integers(-2 ** 31, 2 ** 31 - 1)
floats = st.floats(allow_nan=True, allow_infinity=True)


@given(floats, floats, ints32, ints32)
def test_against_model(acc, x, y, i, j):
    assert model.same(acc.sort_two_floats(x, y), model.sort_two_floats(x, y))
    assert model.same(acc.sort_two_ints(i, j), model.sort_two_ints(i, j))
    assert model.same(acc.sort_two_floats(x, y, key=lambda v: -v),
                      model.sort_two_floats(-x, -y) and
                      ((x, y) if -x < -y else (y, x)))
    got = acc.sort_two_objs(x, y)
    assert got[0] is (y if y < x else x)
