"""An independent pure-Python model of the module's kernels and result rules.

Every operation below is one IEEE double operation written out in Python, in the order the
module's contract fixes, so results can be compared bit for bit.
"""

import math
import struct

TOL = 1e-08
HALF_PI = 1.5707963267948966
WEYL_MESSAGE = "Weyl coordinate must be normalized to satisfy 0.5 >= a >= b >= |c|"


class Fault(Exception):
    """The model's internal fault: the module raises PanicException with the same message."""


def bits(x):
    return struct.pack("<d", x)


def same_float(x, y):
    """Bit-identical doubles, any NaN matching any NaN."""
    if isinstance(x, float) and isinstance(y, float) and math.isnan(x) and math.isnan(y):
        return True
    return type(x) is type(y) and bits(x) == bits(y)


def same(x, y):
    if isinstance(x, tuple):
        return isinstance(y, tuple) and len(x) == len(y) and all(map(same, x, y))
    if isinstance(x, bool) or isinstance(y, bool):
        return x is y
    if isinstance(x, float):
        return same_float(x, y)
    return type(x) is type(y) and x == y


def div(x, y):
    """IEEE division: x / 0 gives a signed infinity or NaN instead of raising."""
    if y != 0.0:
        return x / y
    if x == 0.0 or math.isnan(x):
        return math.nan
    return math.copysign(math.inf, x) * math.copysign(1.0, y)


# Tolerant comparisons.
def _atol(atol):
    return TOL if atol is None else atol


def fuzzy_equal(a, b, atol=None):
    return abs(a - b) < _atol(atol)


def fuzzy_less(a, b, atol=None):
    return a < b and abs(a - b) > _atol(atol)


def fuzzy_greater(a, b, atol=None):
    return a > b and abs(a - b) > _atol(atol)


def fuzzy_less_equal(a, b, atol=None):
    return a < b or abs(a - b) < _atol(atol)


def fuzzy_greater_equal(a, b, atol=None):
    return a > b or abs(a - b) < _atol(atol)


# Weyl chamber.
def _at_least(x, y):
    return x > y or abs(x - y) < TOL


def check_weyl_coord(a, b, c):
    return _at_least(0.5, a) and _at_least(a, b) and _at_least(b, abs(c))


def _require(a, b, c):
    if not check_weyl_coord(a, b, c):
        raise Fault(WEYL_MESSAGE)


def mirror_weyl_coord(a, b, c):
    _require(a, b, c)
    if c > 0 or abs(c) < TOL:
        a2, c2 = 0.5 - c, a - 0.5
    else:
        a2, c2 = 0.5 + c, 0.5 - a
    b2 = 0.5 - b
    if abs(c2) > TOL and c2 < 0 and abs(a2 - 0.5) < TOL:
        c2 = -c2
    return (a2, b2, c2)


def only_xx_rot(_a, b, c):
    return abs(b) < TOL and abs(c) < TOL


# Synthesis costs.
def _near(x, y):
    return abs(x - y) < TOL


def _zero(x):
    return abs(x) < TOL


def synth_cost_by_cx(a, b, c):
    _require(a, b, c)
    if not _zero(c):
        return 3.0
    if not _zero(b):
        return 2.0
    if _zero(a):
        return 0.0
    if _near(a, 0.5):
        return 1.0
    return 2.0


def synth_cost_by_b(a, b, c):
    _require(a, b, c)
    return 1.0 if _near(a, 0.5) and _near(b, 0.25) and _zero(c) else 2.0


def synth_cost_by_sqisw(a, b, c):
    _require(a, b, c)
    if _zero(c) and _zero(a) and _zero(b):
        return 0.0
    if _zero(c) and _near(a, 0.25) and _near(b, 0.25):
        return 0.75
    s = b + abs(c)
    return 1.5 if a > s or _near(a, s) else 2.25


def _max(x, y):
    return x if math.isnan(y) or x > y else y


def _min(x, y):
    return x if math.isnan(y) or x < y else y


def optimal_can_gate_duration(a, b, c, gx, gy, gz):
    _require(a, b, c)
    A, B, C = a * HALF_PI, b * HALF_PI, c * HALF_PI
    S = gx + gy
    F = abs(gz) + S
    Dm = S - gz
    Dp = S + gz
    t1 = _max(_max(div(A, gx), div((A + B) - C, Dm)), div((A + B) + C, Dp))
    R = HALF_PI - A
    t2 = _max(_max(div(R, gx), div((R + B) + C, Dm)), div((R + B) - C, Dp))
    return _min(t1, t2) * F


# Pair ordering without a key (key handling is modelled in the tests that use it).
def sort_two_floats(a, b):
    a, b = float(a), float(b)
    return (a, b) if a < b else (b, a)


def sort_two_ints(a, b):
    a, b = int(a), int(b)
    return (a, b) if a < b else (b, a)


# The canonical unitary, entry by entry, as (real, imag) pairs in row-major order.
def _sincos(x):
    if math.isnan(x) or math.isinf(x):
        return math.nan, math.nan
    return math.sin(x), math.cos(x)


def _rot(z):
    """(0 - 1i) * z with all four products."""
    x, y = z
    return (0.0 * x - (-1.0) * y, 0.0 * y + (-1.0) * x)


def _scale(r, z):
    return (r * z[0], r * z[1])


def canonical_unitary(a, b, c):
    sg, cg = _sincos(c * HALF_PI)
    alpha, beta = a * HALF_PI, b * HALF_PI
    sp, cp = _sincos(alpha + beta)
    sm, cm = _sincos(alpha - beta)
    e_minus, e_plus = (cg, -sg), (cg, sg)
    m = [[(0.0, 0.0)] * 4 for _ in range(4)]
    m[0][0] = m[3][3] = _scale(cm, e_minus)
    m[1][1] = m[2][2] = _scale(cp, e_plus)
    m[0][3] = m[3][0] = _scale(sm, _rot(e_minus))
    m[1][2] = m[2][1] = _scale(sp, _rot(e_plus))
    return m
