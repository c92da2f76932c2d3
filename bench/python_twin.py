"""The module's functions in plain Python, over the test suite's independent model."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
import model  # noqa: E402

fuzzy_equal = model.fuzzy_equal
fuzzy_greater_equal = model.fuzzy_greater_equal
fuzzy_greater = model.fuzzy_greater
fuzzy_less_equal = model.fuzzy_less_equal
fuzzy_less = model.fuzzy_less
check_weyl_coord = model.check_weyl_coord
optimal_can_gate_duration = model.optimal_can_gate_duration
mirror_weyl_coord = model.mirror_weyl_coord
synth_cost_by_cx = model.synth_cost_by_cx
synth_cost_by_sqisw = model.synth_cost_by_sqisw
synth_cost_by_b = model.synth_cost_by_b
only_xx_rot = model.only_xx_rot


def sort_two_floats(a, b, key=None):
    a, b = float(a), float(b)
    ka, kb = (a, b) if key is None else (float(key(a)), float(key(b)))
    return (a, b) if ka < kb else (b, a)


def sort_two_ints(a, b, key=None):
    a, b = int(a), int(b)
    ka, kb = (a, b) if key is None else (int(key(a)), int(key(b)))
    return (a, b) if ka < kb else (b, a)


def sort_two_objs(a, b, key=None):
    if key is not None and not callable(key):
        raise TypeError("key argument must be a callable")
    ka, kb = (a, b) if key is None else (key(a), key(b))
    return (b, a) if kb < ka else (a, b)


def canonical_unitary(a, b, c):
    m = model.canonical_unitary(float(a), float(b), float(c))
    return np.array([[complex(*z) for z in row] for row in m], dtype=np.complex128)
