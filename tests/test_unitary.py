"""The canonical unitary: array properties, bit-exact entries, ownership and the NumPy bridge."""

import gc
import math
import sys

import pytest
from hypothesis import given, strategies as st

import model
from support import run_child

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.conformance, pytest.mark.leaks, pytest.mark.memcheck]

np = pytest.importorskip("numpy")
NAN, INF = math.nan, math.inf


def as_pairs(u):
    return [[(float(z.real), float(z.imag)) for z in row] for row in u.tolist()]


def assert_bits(u, coord):
    want = model.canonical_unitary(*map(float, coord))
    assert all(model.same(g, w) for grow, wrow in zip(as_pairs(u), want)
               for g, w in zip(grow, wrow)), (as_pairs(u), want)


def test_array_properties(acc):
    u = acc.canonical_unitary(0.3, 0.2, 0.1)
    assert type(u) is np.ndarray
    assert u.dtype == np.complex128 and u.shape == (4, 4) and u.strides == (64, 16)
    assert u.flags.c_contiguous and u.flags.writeable and u.flags.aligned
    assert not u.flags.owndata
    base_type = type(u.base)
    assert (base_type.__name__, base_type.__qualname__, base_type.__module__) == (
        "PySliceContainer", "PySliceContainer", "builtins")
    assert base_type.__bases__ == (object,)
    assert "owned buffer" in base_type.__doc__
    with pytest.raises(TypeError, match="^No constructor defined for PySliceContainer$"):
        base_type()
    with pytest.raises(TypeError):
        type("Sub", (base_type,), {})
    assert not hasattr(u.base, "__dict__")
    with pytest.raises(TypeError):
        __import__("weakref").ref(u.base)
    assert not gc.is_tracked(u.base)


SPECIAL = [(0, 0, 0), (0.5, 0.5, 0.5), (0.5, 0, 0), (0.3, 0.2, 0.1), (1.0, -3.0, 2.5),
           (0.25, 0.25, 0), (-0.0, -0.0, -0.0), (1e308, 1e308, 0.0)]


@pytest.mark.parametrize("coord", SPECIAL)
def test_bits_match_model(acc, coord):
    assert_bits(acc.canonical_unitary(*coord), coord)


def test_known_matrices(acc):
    ident = acc.canonical_unitary(0, 0, 0)
    assert (ident == np.eye(4)).all()
    assert model.same(as_pairs(ident)[0][3], (0.0, -0.0))
    h = math.sqrt(2) / 2
    swap = np.array([[1, 0, 0, 0], [0, 0, 1, 0], [0, 1, 0, 0], [0, 0, 0, 1]])
    assert np.allclose(acc.canonical_unitary(0.5, 0.5, 0.5), h * (1 - 1j) * swap)
    cx_like = acc.canonical_unitary(0.5, 0, 0)
    assert np.allclose(cx_like, h * np.eye(4) - 1j * h * np.fliplr(np.eye(4)))
    expected_row0 = [0.975528 - 0.154508j, 0, 0, -0.024472 - 0.154508j]
    assert np.allclose(acc.canonical_unitary(0.3, 0.2, 0.1)[0], expected_row0, atol=1e-6)


@pytest.mark.parametrize("bad", [NAN, INF, -INF])
@pytest.mark.parametrize("pos", range(3))
def test_non_finite(acc, bad, pos):
    coord = [0.3, 0.2, 0.1]
    coord[pos] = bad
    u = acc.canonical_unitary(*coord)
    nonzero = (np.eye(4) + np.fliplr(np.eye(4))).astype(bool)
    assert np.isnan(u[nonzero].real).all() and np.isnan(u[nonzero].imag).all()
    assert all(model.same((float(z.real), float(z.imag)), (0.0, 0.0)) for z in u[~nonzero])


finite = st.floats(-1e6, 1e6)


@given(finite, finite, finite)
def test_against_model_and_identities(acc, a, b, c):
    u = acc.canonical_unitary(a, b, c)
    assert_bits(u, (a, b, c))
    assert (u == u.T).all()
    if max(abs(a), abs(b), abs(c)) < 100:
        assert np.allclose(u @ u.conj().T, np.eye(4), atol=1e-12)
        assert np.allclose(acc.canonical_unitary(a + 4, b, c), u, atol=1e-9)
        assert np.allclose(acc.canonical_unitary(a, b, c + 2), -u, atol=1e-9)


def test_fresh_buffer_per_call_and_views_outlive(acc):
    u = acc.canonical_unitary(0.3, 0.2, 0.1)
    keep = u.copy()
    u[:] = 7
    v = acc.canonical_unitary(0.3, 0.2, 0.1)
    assert (v == keep).all() and v is not u and v.base is not u.base
    view = v[1:3, 1:3]
    del v
    gc.collect()
    assert (view == keep[1:3, 1:3]).all()


def test_owner_type_references_stay_balanced(acc):
    owner = type(acc.canonical_unitary(0, 0, 0).base)
    before = sys.getrefcount(owner)
    for _ in range(20000):
        acc.canonical_unitary(0.1, 0.2, 0.3)
    assert sys.getrefcount(owner) == before


MISSING_THEN_PRESENT = """
import sys, _accel
sys.modules['numpy'] = None  # makes `import numpy` fail
for _ in range(2):
    try:
        _accel.canonical_unitary(0.1, 0.0, 0.0)
    except BaseException as exc:
        print(type(exc).__name__, str(exc).split(':')[0], 'ModuleNotFoundError' in str(exc))
print(_accel.synth_cost_by_cx(0.5, 0, 0))
del sys.modules['numpy']
print(_accel.canonical_unitary(0.1, 0.0, 0.0).shape)
"""


def test_numpy_missing_then_present():
    proc = run_child(MISSING_THEN_PRESENT)
    assert proc.stdout.splitlines() == [
        "PanicException Failed to access NumPy array API capsule True"] * 2 + ["1.0", "(4, 4)"]
    assert "Failed to access NumPy array API capsule: " in proc.stderr


WHICH_CORE = """
import builtins, _accel, numpy
seen = []
real = builtins.__import__
def spy(name, *args, **kw):
    seen.append(name)
    return real(name, *args, **kw)
builtins.__import__ = spy
_accel.canonical_unitary(0, 0, 0)
builtins.__import__ = real
print(numpy.__version__.split('.')[0], [n for n in seen if n.endswith('multiarray')])
"""


def test_core_module_follows_numpy_major():
    major, names = run_child(WHICH_CORE).stdout.split(" ", 1)
    want = "numpy._core.multiarray" if int(major) >= 2 else "numpy.core.multiarray"
    assert names.strip() == repr([want])


BROKEN_CAPSULE = """
import sys, types, _accel
fake = types.ModuleType('numpy')
fake.__version__ = '2.0.0'
lib = types.ModuleType('numpy.lib')
class NumpyVersion:
    def __init__(self, v):
        self.major = 2
lib.NumpyVersion = NumpyVersion
core = types.ModuleType('numpy._core')
multiarray = types.ModuleType('numpy._core.multiarray')
multiarray._ARRAY_API = 'not a capsule'
sys.modules.update({'numpy': fake, 'numpy.lib': lib, 'numpy._core': core,
                    'numpy._core.multiarray': multiarray})
try:
    _accel.canonical_unitary(0, 0, 0)
except BaseException as exc:
    print(exc)
"""


def test_attribute_that_is_not_a_capsule():
    out = run_child(BROKEN_CAPSULE).stdout
    assert out.startswith("Failed to access NumPy array API capsule: ")
    assert "'str' object cannot be converted to 'PyCapsule'" in out


BAD_NUMPY = """
import sys, types, numpy, numpy.lib, _accel
real_version = numpy.lib.NumpyVersion
class Unprintable(Exception):
    def __repr__(self):
        raise ValueError("no repr")
class Huge:
    major = 300
def broken(name):
    raise Unprintable()
attempts = [("NumpyVersion", lambda v: Huge()), ("NumpyVersion", broken)]
for attr, value in attempts:
    setattr(numpy.lib, attr, value)
    try:
        _accel.canonical_unitary(0, 0, 0)
    except BaseException as exc:
        print(str(exc))
numpy.lib.NumpyVersion = real_version
print(_accel.canonical_unitary(0, 0, 0).shape)
"""


def test_unusable_numpy_versions_are_reported_and_retried():
    out = run_child(BAD_NUMPY).stdout.splitlines()
    prefix = "Failed to access NumPy array API capsule: "
    assert out[0] == prefix + ("type: <class 'OverflowError'>, value: OverflowError('out of "
                               "range integral type conversion attempted'), traceback: None")
    assert out[1].startswith(prefix + "type: <class '__main__.Unprintable'>, "
                             "value: <unprintable object>, traceback: <traceback object")
    assert out[2] == "(4, 4)"
