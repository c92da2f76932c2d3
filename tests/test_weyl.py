"""Weyl-coordinate checks and the mirror coordinate against their tables and the model."""

import math

import pytest
from hypothesis import given

import model
from support import call_ids, check_against_model, weyl_coords

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.conformance, pytest.mark.memcheck]

NAN, INF = math.nan, math.inf

CHECK = [
    ((0.5, 0.5, 0.5), True), ((0.5, 0.5, -0.5), True), ((0.0, 0.0, 0.0), True),
    ((0.500000005, 0.5, 0.5), True), ((0.50000001, 0.0, 0.0), False),
    ((0.3, 0.300000005, 0.0), True), ((0.3, 0.30000002, 0.0), False),
    ((0.3, 0.2, -0.200000005), True), ((0.3, 0.2, 0.20000002), False),
    ((0.0, -5e-09, 0.0), True), ((-1e-08, -1e-08, 0.0), False),
    ((NAN, 0.0, 0.0), False), ((0.3, 0.2, NAN), False), ((INF, 0.0, 0.0), False),
    ((0.6, 0.0, 0.0), False), ((0.3, 0.4, 0.1), False), ((-INF, -INF, 0.0), False),
]


@pytest.mark.parametrize("coord,expected", CHECK, ids=call_ids("check_weyl_coord", CHECK))
def test_check_weyl_coord(acc, coord, expected):
    assert acc.check_weyl_coord(*coord) is expected


MIRROR = [
    ((0.5, 0.0, 0.0), (0.5, 0.5, 0.0)),
    ((0.0, 0.0, 0.0), (0.5, 0.5, 0.5)),
    ((0.5, 0.5, 0.5), (0.0, 0.0, 0.0)),
    ((0.5, 0.5, -0.5), (0.0, 0.0, 0.0)),
    ((0.25, 0.25, 0.25), (0.25, 0.25, -0.25)),
    ((0.3, 0.2, 0.1), (0.4, 0.3, -0.2)),
    ((0.3, 0.2, -0.1), (0.4, 0.3, 0.2)),
    ((0.4, 0.1, 0.0), (0.5, 0.4, 0.09999999999999998)),
    ((0.4, 0.1, -0.0), (0.5, 0.4, 0.09999999999999998)),
    ((0.4, 0.1, -5e-09), (0.500000005, 0.4, 0.09999999999999998)),
    ((0.4, 0.1, 5e-09), (0.499999995, 0.4, 0.09999999999999998)),
    ((0.49999999, 0.1, 0.0), (0.5, 0.4, -9.999999994736442e-09)),
]


@pytest.mark.parametrize("coord,expected", MIRROR, ids=call_ids("mirror_weyl_coord", MIRROR))
def test_mirror(acc, coord, expected):
    got = acc.mirror_weyl_coord(*coord)
    assert type(got) is tuple and all(type(x) is float for x in got)
    assert model.same(got, expected)
    assert model.same(got, model.mirror_weyl_coord(*coord))


@pytest.mark.parametrize("coord", [(0.6, 0.0, 0.0), (NAN, 0.0, 0.0), (0.1, 0.2, 0.0)])
def test_mirror_outside_chamber(acc, panic_type, coord):
    with pytest.raises(panic_type, match=r"^Weyl coordinate must be normalized"):
        acc.mirror_weyl_coord(*coord)


ONLY_XX = [
    ((0.3, 0.0, 0.0), True), ((0.3, 1e-08, 0.0), False), ((0.3, 9.9e-09, -9.9e-09), True),
    ((NAN, 0.0, 0.0), True), ((INF, 0.0, 0.0), True), ((7, 0.0, 0.0), True),
    ((0.3, NAN, 0.0), False), ((0.3, 0.0, NAN), False), ((0.3, 0.0, -1e-08), False),
]


@pytest.mark.parametrize("coord,expected", ONLY_XX, ids=call_ids("only_xx_rot", ONLY_XX))
def test_only_xx_rot(acc, coord, expected):
    assert acc.only_xx_rot(*coord) is expected


def test_only_xx_rot_converts_unused_a(acc):
    with pytest.raises(TypeError, match=r"^argument '_a': "):
        acc.only_xx_rot("s", 0.0, 0.0)


# Coordinates on and around every face of the chamber, within and just outside the tolerance.
@given(weyl_coords())
def test_weyl_against_model(acc, coord):
    assert acc.check_weyl_coord(*coord) is model.check_weyl_coord(*coord)
    assert acc.only_xx_rot(*coord) is model.only_xx_rot(*coord)
    check_against_model(acc.mirror_weyl_coord, model.mirror_weyl_coord, *coord)
