"""The five tolerant comparisons against their edge-case table and the model."""

import math

import pytest
from hypothesis import given, strategies as st

import model

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.conformance, pytest.mark.memcheck]

NAN, INF = math.nan, math.inf
# In the order of TABLE's expected columns.
FUNCS = ["fuzzy_equal", "fuzzy_less", "fuzzy_greater", "fuzzy_less_equal", "fuzzy_greater_equal"]
T, F = True, False

TABLE = [
    (1.0, 1.0, None, (T, F, F, T, T)),
    (1.0, 1.000000005, None, (T, F, F, T, T)),
    (0.0, 1e-08, None, (F, F, F, T, F)),
    (0.0, 2e-08, None, (F, T, F, T, F)),
    (2.0, 1.0, None, (F, F, T, F, T)),
    (1.0, 2.0, 1.0, (F, F, F, T, F)),
    (1.0, 2.0, 1.5, (T, F, F, T, T)),
    (1.0, 1.0, 0.0, (F, F, F, F, F)),
    (1.0, 1.0, -1.0, (F, F, F, F, F)),
    (1.0, 2.0, -1.0, (F, T, F, T, F)),
    (NAN, 1.0, None, (F, F, F, F, F)),
    (1.0, NAN, None, (F, F, F, F, F)),
    (1.0, 2.0, NAN, (F, F, F, T, F)),
    (1.0, 1.0, NAN, (F, F, F, F, F)),
    (INF, INF, None, (F, F, F, F, F)),
    (-INF, INF, None, (F, T, F, T, F)),
    (1.0, 2.0, INF, (T, F, F, T, T)),
    (1.0, INF, INF, (F, F, F, T, F)),
    (1, True, None, (T, F, F, T, T)),
    (1, 2, 0, (F, T, F, T, F)),
]


def test_the_table_has_a_column_for_every_comparison(acc):
    assert sorted(FUNCS) == sorted(n for n in acc.__all__ if n.startswith("fuzzy_"))


@pytest.mark.parametrize("a,b,atol,expected", TABLE,
                         ids=[f"a={a!r},b={b!r},atol={atol!r}" for a, b, atol, _ in TABLE])
def test_table(acc, a, b, atol, expected):
    for name, want in zip(FUNCS, expected):
        f = getattr(acc, name)
        got = f(a, b) if atol is None else f(a, b, atol)
        assert got is want, name
        assert f(a, b, atol) is want
        assert f(a=a, b=b, atol=atol) is want


doubles = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from([0.0, -0.0, 1e-08, -1e-08, 5e-09, 2e-08, 0.5, 1.0]),
    st.floats(-1.0, 1.0),
)


@given(a=doubles, b=doubles, atol=st.one_of(st.none(), doubles),
       shift=st.floats(-3e-08, 3e-08))
def test_against_model(acc, a, b, atol, shift):
    b2 = a + shift if math.isfinite(a) else b
    for x, y in ((a, b), (a, b2)):
        for name in FUNCS:
            assert getattr(acc, name)(x, y, atol) is getattr(model, name)(x, y, atol)


@pytest.mark.parametrize("name", FUNCS)
def test_each_parameter_converts_and_fails_under_its_own_name(acc, name):
    f = getattr(acc, name)
    # ints, bools and float subclasses take the converting path and agree with exact floats
    assert f(1, True, 0.5) == f(1.0, 1.0, 0.5) == f(1.0, 1.0, atol=0.5)
    assert f(1.0, 2.0, 2) == f(1.0, 2.0, 2.0)
    for args, param in [(("x", 1.0), "a"), ((1.0, "x"), "b"), ((1.0, 1.0, "x"), "atol")]:
        with pytest.raises(TypeError, match=f"^argument '{param}': "):
            f(*args)
