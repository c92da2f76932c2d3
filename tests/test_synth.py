"""Synthesis costs and the canonical-gate duration against their tables and the model."""

import math

import pytest
from hypothesis import given, strategies as st

import model
from support import call_ids, check_against_model, weyl_coords

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.conformance, pytest.mark.memcheck]

NAN, INF = math.nan, math.inf

COSTS = [  # (a, b, c), (cx, b, sqisw)
    ((0, 0, 0), (0.0, 2.0, 0.0)),
    ((0.5, 0, 0), (1.0, 2.0, 1.5)),
    ((0.5, 0.25, 0), (2.0, 1.0, 1.5)),
    ((0.25, 0.25, 0), (2.0, 2.0, 0.75)),
    ((0.5, 0.5, 0), (2.0, 2.0, 1.5)),
    ((0.5, 0.5, 0.5), (3.0, 2.0, 2.25)),
    ((0.5, 0.5, -0.5), (3.0, 2.0, 2.25)),
    ((0.3, 0.2, 0.1), (3.0, 2.0, 1.5)),
    ((0.3, 0.2, -0.1), (3.0, 2.0, 1.5)),
    ((0.3, 0.2, 0.15), (3.0, 2.0, 2.25)),
    ((0.4, 0.3, 0.100000005), (3.0, 2.0, 1.5)),
    ((0.4, 0.3, 0.10000002), (3.0, 2.0, 2.25)),
    ((5e-09, 0, 0), (0.0, 2.0, 0.0)),
    ((1e-08, 0, 0), (2.0, 2.0, 1.5)),
    ((0.49999999, 0, 0), (1.0, 2.0, 1.5)),
    ((0.499999989, 0, 0), (2.0, 2.0, 1.5)),
    ((0.5, 9.9e-09, 0), (1.0, 2.0, 1.5)),
    ((0.5, 1e-08, 0), (2.0, 2.0, 1.5)),
    ((0.5, 1e-08, 1e-08), (3.0, 2.0, 1.5)),
    ((0.5, 0, 9.9e-09), (1.0, 2.0, 1.5)),
    ((0.5, 0.25, 9.9e-09), (2.0, 1.0, 1.5)),
    ((0.5, 0.25, 1e-08), (3.0, 2.0, 1.5)),
    ((0.25, 0.25, 9.9e-09), (2.0, 2.0, 0.75)),
    ((0.25, 0.25, 1e-08), (3.0, 2.0, 1.5)),
    ((-5e-09, -5e-09, 0), (0.0, 2.0, 0.0)),
]


@pytest.mark.parametrize("coord,expected", COSTS, ids=call_ids("synth_cost_by_*", COSTS))
def test_costs(acc, coord, expected):
    got = (acc.synth_cost_by_cx(*coord), acc.synth_cost_by_b(*coord),
           acc.synth_cost_by_sqisw(*coord))
    assert model.same(got, expected)


COST_FUNCS = ["synth_cost_by_cx", "synth_cost_by_b", "synth_cost_by_sqisw"]


@pytest.mark.parametrize("coord", [(0.6, 0, 0), (0.5, 0, 1e-08), (NAN, 0, 0), (0.3, 0.2, INF)])
@pytest.mark.parametrize("name", COST_FUNCS + ["optimal_can_gate_duration"])
def test_outside_chamber(acc, panic_type, name, coord):
    args = coord + ((1.0, 1.0, 1.0) if name.startswith("optimal") else ())
    with pytest.raises(panic_type) as info:
        getattr(acc, name)(*args)
    assert info.value.args == (model.WEYL_MESSAGE,)


@pytest.mark.parametrize("name", COST_FUNCS)
def test_all_arguments_convert_before_the_check(acc, name):
    with pytest.raises(TypeError, match=r"^argument 'c': "):
        getattr(acc, name)(0.9, 0.0, "x")


def test_duration_converts_gz_before_the_check(acc):
    with pytest.raises(TypeError, match=r"^argument 'gz': "):
        acc.optimal_can_gate_duration(0.9, 0, 0, 1, 1, "x")


DURATION = [
    ((0.5, 0, 0, 1, 0, 0), 0.7853981633974483),
    ((0.5, 0.25, 0, 1, 0, 0), 1.1780972450961724),
    ((0.5, 0.25, 0, 1, 1, 0), 1.5707963267948966),
    ((0.25, 0.25, 0, 1, 1, 0), 0.7853981633974483),
    ((0.5, 0, 0, 1, 1, 1), 2.356194490192345),
    ((0.5, 0.5, 0.5, 1, 1, 1), 2.356194490192345),
    ((0.3, 0.2, 0.1, 1, 1, 1), 1.8849555921538759),
    ((0.3, 0.2, 0.1, 1, 1, -1), 2.827433388230814),
    ((0.3, 0.2, -0.1, 1, 1, 1), 2.827433388230814),
    ((0.3, 0.2, 0.1, 1, 0.5, 0.25), 0.9424777960769379),
    ((0.3, 0.2, 0.1, -1, -1, -1), 0.41887902047863906),
    ((0, 0, 0, 1, 1, 1), 0.0),
    ((0.3, 0.2, 0.1, 0, 0, 0), NAN),
    ((0.3, 0.2, 0.1, 0, 1, 0), INF),
    ((0, 0, 0, 0, 1, 0), 0.0),
    ((0, 0, 0, -1, 1, 0), -0.0),
    ((0.5, 0.5, 0.5, 1, 1, 2), INF),
    ((0.3, 0.2, 0.1, NAN, 1, 1), NAN),
    ((0.3, 0.2, 0.1, 1, 1, NAN), NAN),
]


@pytest.mark.parametrize("args,expected", DURATION,
                         ids=call_ids("optimal_can_gate_duration", DURATION))
def test_duration(acc, args, expected):
    got = acc.optimal_can_gate_duration(*args)
    assert type(got) is float
    assert model.same(got, expected)
    assert model.same(got, model.optimal_can_gate_duration(*map(float, args)))


strengths = st.one_of(
    st.sampled_from([0.0, -0.0, 1.0, -1.0, 0.5, 2.0, NAN, INF, -INF]),
    st.floats(-10, 10), st.floats(allow_nan=True, allow_infinity=True))


@given(weyl_coords(), strengths, strengths, strengths)
def test_against_model(acc, coord, gx, gy, gz):
    for name in COST_FUNCS:
        check_against_model(getattr(acc, name), getattr(model, name), *coord)
    check_against_model(acc.optimal_can_gate_duration, model.optimal_can_gate_duration,
                        *coord, gx, gy, gz)
