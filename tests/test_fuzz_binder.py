"""Random call shapes for every function against a pure-Python model of the binding rules."""

from hypothesis import given, strategies as st

import _accel as acc
import model
from support import SIGS, Floaty, Indexy, model_call

# In no subset of the suite that a CI leg runs apart (conftest.MARKERS): the whole-suite
# legs only.
pytestmark = []

VALUES = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True), st.integers(-2 ** 70, 2 ** 70),
    st.sampled_from([0.0, 0.5, 0.25, -0.0, 1, True, False, None, "s", b"b", [], 2 ** 31,
                     -2 ** 31, Floaty(-1.0), Floaty(0.3), Floaty(ValueError("v")),
                     Floaty(TypeError("t")), Indexy(3), Indexy(2 ** 40), abs, 5]))
KEYWORDS = st.sampled_from(["a", "b", "c", "_a", "atol", "key", "gx", "gy", "gz", "x", "A",
                            "\u00e4", "\udcff", "", "atol ", "keys"])


@given(st.sampled_from(sorted(SIGS)), st.lists(VALUES, max_size=7),
       st.dictionaries(KEYWORDS, VALUES, max_size=4))
def test_call_shapes(fname, args, kwargs):
    kw_items = list(kwargs.items())
    try:
        want = ("ok", model_call(fname, args, kw_items))
    except model.Fault as exc:
        want = ("PanicException", str(exc))
    except Exception as exc:  # noqa: BLE001
        want = (type(exc).__name__, str(exc))
    try:
        got = ("ok", getattr(acc, fname)(*args, **kwargs))
    except BaseException as exc:  # noqa: BLE001
        got = (type(exc).__name__, str(exc))
    if want[0] == "ok" and got[0] == "ok":
        if want[1] is not None:
            assert model.same(got[1], want[1]), (fname, args, kwargs, got, want)
    else:
        assert got == want, (fname, args, kwargs)
