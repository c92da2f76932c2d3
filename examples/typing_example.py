"""Type-checks against the shipped stubs: `python -m mypy examples/typing_example.py`."""

import numpy as np
import numpy.typing as npt

import _accel


def cheaper(a: float, b: float, c: float) -> tuple[str, float]:
    cx = ("cx", _accel.synth_cost_by_cx(a, b, c))
    sqisw = ("sqisw", _accel.synth_cost_by_sqisw(a, b, c))
    return _accel.sort_two_objs(cx, sqisw, key=lambda pair: pair[1])[0]


def unitary(a: float, b: float, c: float) -> npt.NDArray[np.complex128]:
    if not _accel.check_weyl_coord(a, b, c):
        raise ValueError("not in the Weyl chamber")
    return _accel.canonical_unitary(a, b, c)


low, high = _accel.sort_two_floats(2, 1.5, key=abs)
i, j = _accel.sort_two_ints(3, True)
mirrored: tuple[float, float, float] = _accel.mirror_weyl_coord(0.3, 0.2, 0.1)
duration: float = _accel.optimal_can_gate_duration(0.5, 0.25, 0, 1, 1, 0)
same: bool = _accel.fuzzy_equal(low, 1.5, atol=None)
print(cheaper(0.5, 0.25, 0.0), unitary(0.5, 0, 0).shape, low + high, i + j, mirrored, duration,
      same)
