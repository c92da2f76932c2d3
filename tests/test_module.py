"""Module creation, the function table, the shared object's exports and subinterpreters."""

import ctypes
import dis
import importlib
import os
import inspect
import subprocess
import sys

import pytest

from support import FREE_THREADED, run_child

# The subsets of the suite that CI legs run apart (conftest.MARKERS).
pytestmark = [pytest.mark.conformance]

NAMES = [
    "fuzzy_equal", "fuzzy_greater_equal", "fuzzy_greater", "fuzzy_less_equal", "fuzzy_less",
    "check_weyl_coord", "optimal_can_gate_duration", "mirror_weyl_coord", "sort_two_ints",
    "sort_two_floats", "sort_two_objs", "synth_cost_by_cx", "synth_cost_by_sqisw",
    "synth_cost_by_b", "only_xx_rot", "canonical_unitary",
]

SIGNATURES = {
    **{n: "(a, b, atol=None)" for n in NAMES[:5]},
    **{n: "(a, b, key=None)" for n in ("sort_two_ints", "sort_two_floats", "sort_two_objs")},
    **{n: "(a, b, c)" for n in ("check_weyl_coord", "mirror_weyl_coord", "synth_cost_by_cx",
                                "synth_cost_by_sqisw", "synth_cost_by_b", "canonical_unitary")},
    "optimal_can_gate_duration": "(a, b, c, gx, gy, gz)",
    "only_xx_rot": "(_a, b, c)",
}


def test_namespace(acc):
    assert acc.__all__ == NAMES
    assert all(type(n) is str for n in acc.__all__)
    assert acc.__name__ == "_accel"
    assert acc.__doc__ == "Python module entry"


@pytest.mark.parametrize("name", NAMES)
def test_function_objects(acc, name):
    f = getattr(acc, name)
    assert type(f).__name__ == "builtin_function_or_method"
    assert f.__self__ is acc
    assert f.__module__ == "_accel"
    assert f.__name__ == name
    assert f.__doc__ is None
    assert f.__text_signature__ == SIGNATURES[name]
    assert str(inspect.signature(f)) == SIGNATURES[name]
    params = inspect.signature(f).parameters.values()
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in params)


def test_reimport_gives_same_module(acc):
    first = sys.modules.pop("_accel")
    try:
        again = importlib.import_module("_accel")
        assert again is first
        assert again.__all__ == NAMES
    finally:
        sys.modules["_accel"] = first


def _elf(flag, path):
    return subprocess.run(["readelf", flag, "-W", path], capture_output=True, text=True,
                          check=True).stdout


@pytest.mark.skipif(sys.platform != "linux", reason="ELF checks")
def test_exports_only_init_and_needs_no_libpython(acc):
    symbols = _elf("--dyn-syms", acc.__file__)
    exported = [line.split()[-1] for line in symbols.splitlines()
                if " GLOBAL " in line and " UND " not in line and "DEFAULT" in line]
    assert exported == ["PyInit__accel"]
    needed = [line for line in _elf("-d", acc.__file__).splitlines() if "(NEEDED)" in line]
    assert not any("libpython" in line or "numpy" in line for line in needed)


def test_import_does_not_touch_numpy():
    proc = run_child("import sys, _accel; _accel.fuzzy_equal(1.0, 2.0);"
                     "print('numpy' in sys.modules)")
    assert proc.stdout.strip() == "False"


LEGACY = """
import _testcapi, os, sys
import _accel
path = sys.argv[1] if len(sys.argv) > 1 else None
code = '''
try:
    import _accel
    result = 'imported'
except ImportError as exc:
    result = 'ImportError: ' + str(exc)
with open(%r, 'w') as f:
    f.write(result)
'''
import tempfile
out = tempfile.mktemp()
rc = _testcapi.run_in_subinterp(code % out)
print(open(out).read())
print(_accel.fuzzy_equal(1.0, 1.0))
"""

ISOLATED = """
import _accel
try:
    import _interpreters as interpreters
except ImportError:
    import _xxsubinterpreters as interpreters
interp = interpreters.create()
try:
    failure = interpreters.run_string(interp, "import _accel")  # 3.13 returns the failure
except Exception as exc:  # 3.12 raises it
    failure = exc
if failure is None:
    print('imported')
else:
    print('refused:', getattr(failure, 'msg', failure))
print(_accel.check_weyl_coord(0.5, 0.5, 0.5))
"""


@pytest.mark.parametrize("repeat", range(2))
def test_legacy_subinterpreter_is_refused(repeat):
    proc = run_child(LEGACY)
    lines = proc.stdout.splitlines()
    if FREE_THREADED:
        # CPython refuses single-phase modules in every subinterpreter of a free-threaded build,
        # with its own message, before the module runs.
        assert lines[0] == "ImportError: module _accel does not support loading in subinterpreters"
    else:
        assert lines[0] == ("ImportError: PyO3 modules do not yet support subinterpreters, see "
                            "https://github.com/PyO3/pyo3/issues/576")
    assert lines[1] == "True"


@pytest.mark.parametrize("repeat", range(2))
def test_isolated_subinterpreter_is_refused(repeat):
    proc = run_child(ISOLATED)
    lines = proc.stdout.splitlines()
    assert lines[0].startswith("refused:")
    assert "_accel" in lines[0]
    assert lines[1] == "True"


@pytest.mark.source_tree
def test_kernels_stay_free_of_python_and_of_the_frame():
    root = os.path.join(os.path.dirname(__file__), "..", "src")
    kernel_files = [os.path.join(root, d, f) for d in ("compare", "weyl", "synth")
                    for f in os.listdir(os.path.join(root, d))]
    for path in kernel_files:
        with open(path) as f:
            includes = [line for line in f if line.startswith("#include")]
        assert not any("Python.h" in line or "frame/" in line or "lib/" in line
                       for line in includes), path


def _method_flags(f):
    # PyCFunctionObject: the object header (larger on free-threaded builds), then the definition.
    method_def = ctypes.c_void_p.from_address(id(f) + object.__basicsize__)
    return ctypes.c_int.from_address(method_def.value + 2 * ctypes.sizeof(ctypes.c_void_p)).value


@pytest.mark.parametrize("name", NAMES)
def test_vectorcall_flags_and_specialised_call(acc, name):
    f = getattr(acc, name)
    assert _method_flags(f) == 0x82  # METH_FASTCALL | METH_KEYWORDS, nothing else
    ns = {"f": f}
    exec("def loop():\n    for _ in range(64):\n        try: f(0.5, 0.0, 0.0)\n"
         "        except BaseException: pass", ns)
    ns["loop"]()
    ns["loop"]()
    if FREE_THREADED and sys.version_info < (3, 14):
        return  # the free-threaded 3.13 interpreter does not specialise calls
    ops = [i.opname for i in dis.get_instructions(ns["loop"], adaptive=True)]
    assert "CALL_BUILTIN_FAST_WITH_KEYWORDS" in ops


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="debug interpreters only")
def test_debug_interpreter_gets_a_debug_build(acc):
    # Py_DEBUG keeps reference totals through these helpers; a release build never calls them.
    symbols = _elf("--dyn-syms", acc.__file__)
    assert "_Py_NegativeRefcount" in symbols or "RefTotal" in symbols


def _source(*parts):
    return os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), *parts)


@pytest.mark.source_tree
def test_hand_kept_lists_cover_the_module(acc):
    """The lists that must be kept by hand beside the function table (the model, the twins, the
    differential, the benchmarks' rows, the stubs, the README's reference) fail here when a
    function is added without them."""
    import re

    sys.path[:0] = [_source("bench"), _source("tools")]
    try:
        import differential
        import model
        import overhead
        import python_twin
        import random
        import run
        from support import SIGS
    finally:
        del sys.path[:2]
    names = set(acc.__all__)
    with open(_source("bench", "twin", "twin.cpp")) as f:
        nanobind = set(re.findall(r'm\.def\(\s*"(\w+)"', f.read()))
    with open(_source("stubs", "_accel-stubs", "__init__.pyi")) as f:
        stubs = set(re.findall(r"^def (\w+)\(", f.read(), re.M))
    with open(_source("README.md")) as f:
        text = f.read()
    readme = set(re.findall(r"^\| `(\w+)\(", text, re.M))
    # The README counts the functions in words, twice.
    words = ["zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine",
             "ten", "eleven", "twelve", "thirteen", "fourteen", "fifteen", "sixteen",
             "seventeen", "eighteen", "nineteen", "twenty"]
    counted = {f"offers {words[len(names)]} functions", f"the other {words[len(names) - 1]}"}
    with open(_source("docs", "performance.md")) as f:
        tables = [set(re.findall(r"^\| `(\w+)` \|", t, re.M))
                  for t in f.read().split("\n\n") if t.startswith("| function |")]
    lists = {
        "tests: NAMES": set(NAMES), "tests: SIGNATURES": set(SIGNATURES),
        "tests/test_fuzz_binder.py": set(SIGS),
        "tests/model.py": {n for n in names if hasattr(model, n)} | {"sort_two_objs"},
        "bench/python_twin.py": {n for n in names if hasattr(python_twin, n)},
        "bench/twin/twin.cpp": nanobind,
        "bench/overhead.py": {row[0] for row in overhead.ROWS},
        "tools/differential.py": {c[0] for c in differential.cases(random.Random(1))},
        "bench/run.py": {row[0] for row in run.rows()},
        "stubs/_accel-stubs/__init__.pyi": stubs,
        "README.md (API reference)": readme,
        "README.md (the counts in words)": names if all(c in text for c in counted) else set(),
        **{f"docs/performance.md (table {i + 1})": t for i, t in enumerate(tables)},
    }
    assert {where: sorted(names - have) for where, have in lists.items() if names - have} == {}
