"""Native hot paths for two-qubit gate tooling.

Weyl coordinates (a, b, c) are in units of pi/2: (a, b, c) stands for the canonical gate
exp(-i*(pi/2)*(a*XX + b*YY + c*ZZ)). A coordinate is normalised when
0.5 >= a >= b >= |c|, each inequality allowed to fail by less than 1e-08.

Errors: binding and conversion failures raise TypeError (or OverflowError for integers out of
range). Internal faults, such as a coordinate outside the Weyl chamber, raise
``pyo3_runtime.PanicException``, which derives from BaseException rather than Exception; it is
not an attribute of this module (catch BaseException and check the type name).
"""

from collections.abc import Callable
from typing import Any, Protocol, SupportsFloat, SupportsIndex, TypeVar, overload

import numpy as np
import numpy.typing as npt

__all__ = [
    "fuzzy_equal",
    "fuzzy_greater_equal",
    "fuzzy_greater",
    "fuzzy_less_equal",
    "fuzzy_less",
    "check_weyl_coord",
    "optimal_can_gate_duration",
    "mirror_weyl_coord",
    "sort_two_ints",
    "sort_two_floats",
    "sort_two_objs",
    "synth_cost_by_cx",
    "synth_cost_by_sqisw",
    "synth_cost_by_b",
    "only_xx_rot",
    "canonical_unitary",
]

# Anything CPython converts to a float: float, int, bool, objects with __float__ or __index__.
_Real = SupportsFloat | SupportsIndex

_T = TypeVar("_T")

class _SupportsLessThan(Protocol):
    def __lt__(self, other: Any, /) -> Any: ...

_LT = TypeVar("_LT", bound=_SupportsLessThan)

def fuzzy_equal(a: _Real, b: _Real, atol: _Real | None = None) -> bool:
    """|a - b| < atol; atol None means 1e-08."""

def fuzzy_greater_equal(a: _Real, b: _Real, atol: _Real | None = None) -> bool:
    """a > b or |a - b| < atol; atol None means 1e-08."""

def fuzzy_greater(a: _Real, b: _Real, atol: _Real | None = None) -> bool:
    """a > b and |a - b| > atol; atol None means 1e-08."""

def fuzzy_less_equal(a: _Real, b: _Real, atol: _Real | None = None) -> bool:
    """a < b or |a - b| < atol; atol None means 1e-08."""

def fuzzy_less(a: _Real, b: _Real, atol: _Real | None = None) -> bool:
    """a < b and |a - b| > atol; atol None means 1e-08."""

def check_weyl_coord(a: _Real, b: _Real, c: _Real) -> bool:
    """Whether (a, b, c) is normalised: 0.5 >= a >= b >= |c| within 1e-08."""

def optimal_can_gate_duration(
    a: _Real, b: _Real, c: _Real, gx: _Real, gy: _Real, gz: _Real
) -> float:
    """Optimal duration of the canonical gate (a, b, c) under interaction strengths gx, gy, gz,
    multiplied by gx + gy + |gz|. Raises PanicException if (a, b, c) is not normalised."""

def mirror_weyl_coord(a: _Real, b: _Real, c: _Real) -> tuple[float, float, float]:
    """The normalised coordinate of the gate composed with SWAP. Raises PanicException if
    (a, b, c) is not normalised."""

def sort_two_ints(
    a: SupportsIndex, b: SupportsIndex, key: Callable[[int], SupportsIndex] | None = None
) -> tuple[int, int]:
    """(a, b) when key(a) < key(b), else (b, a); values are 32-bit signed integers."""

def sort_two_floats(
    a: _Real, b: _Real, key: Callable[[float], _Real] | None = None
) -> tuple[float, float]:
    """(a, b) when key(a) < key(b), else (b, a): equal or NaN keys give (b, a)."""

@overload
def sort_two_objs(a: _LT, b: _LT, key: None = None) -> tuple[_LT, _LT]:
    """(b, a) when b < a, else (a, b): the caller's own objects."""

@overload
def sort_two_objs(a: _T, b: _T, key: Callable[[_T], _SupportsLessThan]) -> tuple[_T, _T]:
    """(b, a) when key(b) < key(a), else (a, b). A non-callable key raises TypeError."""

def synth_cost_by_cx(a: _Real, b: _Real, c: _Real) -> float:
    """Cost in CX gates: 0.0, 1.0, 2.0 or 3.0. Raises PanicException if not normalised."""

def synth_cost_by_sqisw(a: _Real, b: _Real, c: _Real) -> float:
    """Cost in sqrt(iSWAP) gates: 0.0, 0.75, 1.5 or 2.25. Raises PanicException if not
    normalised."""

def synth_cost_by_b(a: _Real, b: _Real, c: _Real) -> float:
    """Cost in B gates: 1.0 or 2.0. Raises PanicException if not normalised."""

def only_xx_rot(_a: _Real, b: _Real, c: _Real) -> bool:
    """Whether |b| < 1e-08 and |c| < 1e-08; _a is converted but not used."""

def canonical_unitary(a: _Real, b: _Real, c: _Real) -> npt.NDArray[np.complex128]:
    """The canonical gate's 4x4 unitary: complex128, C-contiguous, writeable, over a buffer that
    its base (a PySliceContainer) owns. Raises PanicException if NumPy is unusable."""
