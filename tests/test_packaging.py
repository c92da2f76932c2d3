"""Stubs, pickling, the README's examples, and the built distributions (the last only with
ACCEL_PACKAGING=1; ACCEL_DIST names a folder holding the wheel and sdist to check instead of
building them)."""

import concurrent.futures
import importlib.util
import multiprocessing
import os
import pathlib
import pickle
import shutil
import subprocess
import sys
import tarfile
import venv
import zipfile

import pytest

import _accel

# In no subset of the suite that a CI leg runs apart (conftest.MARKERS): the whole-suite
# legs only.
pytestmark = []

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(*cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=900, **kw)


def test_functions_pickle_by_reference():
    for name in _accel.__all__:
        f = getattr(_accel, name)
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            assert pickle.loads(pickle.dumps(f, protocol)) is f


def test_process_pool_runs_synthesis_costs():
    coords = [(0.5, 0, 0), (0.25, 0.25, 0), (0.5, 0.5, 0.5), (0, 0, 0)]
    # spawn: workers start clean and get the functions by reference, as on any platform
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=context) as pool:
        got = list(pool.map(_accel.synth_cost_by_cx, *zip(*coords)))
    assert got == [1.0, 2.0, 3.0, 0.0]


# The stubs and the typing example read the same on every build; ACCEL_TYPE_CHECKS=0 leaves them
# to another run (CI checks them once: mypy without its compiled build, as on the free-threaded
# and debug interpreters, takes a minute or more).
needs_mypy = pytest.mark.skipif(
    importlib.util.find_spec("mypy") is None or os.environ.get("ACCEL_TYPE_CHECKS") == "0",
    reason="mypy is not installed, or ACCEL_TYPE_CHECKS=0")


@needs_mypy
def test_stubs_match_the_module():
    proc = run(sys.executable, "-m", "mypy.stubtest", "_accel")
    assert proc.returncode == 0, proc.stdout + proc.stderr


@pytest.mark.source_tree
@needs_mypy
def test_usage_example_type_checks():
    proc = run(sys.executable, "-m", "mypy", "--strict", "--no-incremental",
               os.path.join(ROOT, "examples", "typing_example.py"))
    assert proc.returncode == 0, proc.stdout + proc.stderr


def packaging(test):
    """Builds distributions from the checkout (or reads those in ACCEL_DIST): a source-tree test,
    run on request."""
    skip = pytest.mark.skipif(os.environ.get("ACCEL_PACKAGING") != "1",
                              reason="builds distributions: in a checkout, set ACCEL_PACKAGING=1")
    return pytest.mark.source_tree(skip(test))


def build(tmp_path_factory, source, *args):
    out = tmp_path_factory.mktemp("dist")
    proc = run(sys.executable, "-m", "build", *args, "--outdir", str(out), str(source))
    assert proc.returncode == 0, proc.stdout[-3000:] + proc.stderr[-3000:]
    return out


@pytest.fixture(scope="module")
def dists(tmp_path_factory):
    given = os.environ.get("ACCEL_DIST")
    out = pathlib.Path(given) if given else build(tmp_path_factory, ROOT)
    tag = f"cp{sys.version_info[0]}{sys.version_info[1]}"
    wheel = next(out.glob(f"*-{tag}-*x86_64.whl"), None) or next(out.glob(f"*-{tag}-*.whl"))
    sdist = next(out.glob("*.tar.gz"))
    return wheel, sdist


def tracked_files():
    proc = run("git", "-C", ROOT, "ls-files")
    if proc.returncode != 0:
        pytest.skip("not a git checkout")
    return set(proc.stdout.split())


@packaging
def test_license_ships_in_both_distributions(dists):
    wheel, sdist = dists
    with zipfile.ZipFile(wheel) as z:
        [info] = {n.split("/")[0] for n in z.namelist() if ".dist-info/" in n}
        assert f"{info}/licenses/LICENSE" in z.namelist()
        metadata = z.read(f"{info}/METADATA").decode()
    assert "License-Expression: MIT" in metadata.splitlines()
    with tarfile.open(sdist) as t:
        assert any(n.endswith("/LICENSE") for n in t.getnames())


@packaging
def test_sdist_of_a_used_checkout_holds_what_a_clone_holds(tmp_path_factory):
    # Venvs and build trees hold folders named like the project's own (src, stubs): none of it
    # may ship.
    tree = tmp_path_factory.mktemp("checkout")
    files = tracked_files()
    for name in files:
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(os.path.join(ROOT, name), tree / name)
    for junk in (".venv-3.12/lib/python3.12/site-packages/numpy/f2py/src/fortranobject.c",
                 ".venv-3.12/lib/python3.12/site-packages/mypy/typeshed/stubs/x.pyi",
                 "build/py3.12/CMakeFiles/src/frame/ref.cpp.o", "wheelhouse/x.whl",
                 "dist/x.tar.gz", "src/frame/__pycache__/x.pyc"):
        (tree / junk).parent.mkdir(parents=True, exist_ok=True)
        (tree / junk).write_text("junk")
    out = build(tmp_path_factory, tree, "--sdist")
    with tarfile.open(next(out.glob("*.tar.gz"))) as t:
        shipped = {n.split("/", 1)[1] for n in t.getnames() if "/" in n and t.getmember(n).isfile()}
    assert shipped - {"PKG-INFO"} == files


@packaging
def test_wheel_is_manylinux_compatible(dists):
    proc = run(sys.executable, "-m", "auditwheel", "show", str(dists[0]))
    assert proc.returncode == 0, proc.stdout + proc.stderr
    assert "manylinux" in proc.stdout, proc.stdout


@packaging
def test_wheel_installs_into_fresh_venv(dists, tmp_path):
    venv.create(tmp_path / "env", with_pip=True)
    py = str(tmp_path / "env" / "bin" / "python")
    proc = run(py, "-m", "pip", "install", "-q", str(dists[0]))
    assert proc.returncode == 0, proc.stderr
    proc = run(py, "-c", "import _accel, numpy, importlib.metadata as m; "
               "print(_accel.synth_cost_by_cx(0.5, 0, 0), _accel.canonical_unitary(0, 0, 0).shape,"
               " m.version('weylgate-accel'))", cwd=str(tmp_path))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == ["1.0", "(4,", "4)", project_version()]
    site = run(py, "-c", "import sysconfig; print(sysconfig.get_paths()['platlib'])").stdout
    assert os.path.exists(os.path.join(site.strip(), "_accel-stubs", "__init__.pyi"))


@packaging
def test_sdist_builds_without_numpy(dists, tmp_path):
    venv.create(tmp_path / "env", with_pip=True)
    py = str(tmp_path / "env" / "bin" / "python")
    proc = run(py, "-m", "pip", "wheel", "-q", "--no-deps", "-w", str(tmp_path / "w"),
               str(dists[1]))
    assert proc.returncode == 0, proc.stderr[-3000:]
    assert run(py, "-c", "import numpy").returncode != 0
    assert list((tmp_path / "w").glob("*.whl"))


def project_version():
    import tomllib

    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as f:
        return tomllib.load(f)["project"]["version"]


@pytest.mark.source_tree
def test_changelog_describes_the_version():
    with open(os.path.join(ROOT, "CHANGELOG.md")) as f:
        text = f.read()
    import re
    top = re.search(r"\n## (Unreleased|\d\S*.*)\n", text).group(1)
    version = project_version()
    if ".dev" in version:
        # Between releases the changes since the last one are on top, under "Unreleased".
        assert top == "Unreleased"
    else:
        # A release's heading carries the date its number was set.
        assert re.fullmatch(rf"{re.escape(version)} - \d{{4}}-\d\d-\d\d", top)


def readme_block(marker, doc="README.md"):
    with open(os.path.join(ROOT, doc)) as f:
        return f.read().split(f"<!-- {marker} -->\n```" , 1)[1].split("\n", 1)[1].split("```\n", 1)[0]


@pytest.mark.source_tree
def test_readme_reference_examples_hold():
    # The Example column of the API reference, a row a function: `call` is `value`, exactly
    # (type, sign and repr), or the identity for the unitary.
    import re

    with open(os.path.join(ROOT, "README.md")) as f:
        rows = re.findall(r"^\| `(\w+)\(.*\| `(\w+\([^`]*\))` is (?:`([^`]*)`|(the identity)) \|$",
                          f.read(), re.M)
    assert sorted(name for name, _, _, _ in rows) == sorted(_accel.__all__)
    for name, call, value, identity in rows:
        assert call.startswith(name + "(")
        got = eval(call, vars(_accel))
        if identity:
            np = pytest.importorskip("numpy")
            assert (got == np.eye(4)).all(), call
        else:
            want = eval(value)
            assert (type(got), repr(got)) == (type(want), repr(want)), call


@pytest.mark.source_tree
def test_readme_usage_example_runs_as_shown():
    proc = run(sys.executable, "-c", readme_block("usage"))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == readme_block("usage output")


@pytest.mark.source_tree
def test_readme_shows_the_demo_output():
    proc = run(sys.executable, os.path.join(ROOT, "examples", "demo.py"))
    assert proc.returncode == 0, proc.stderr
    assert readme_block("demo output", os.path.join("docs", "development.md")) == proc.stdout


@pytest.mark.source_tree
def test_examples_never_swallow_interrupts():
    # Copied as they stand, the docs' handlers must let KeyboardInterrupt and SystemExit through:
    # each `except BaseException` re-raises whatever is not the fault, named by its class.
    texts = {p: p.read_text() for p in [pathlib.Path(ROOT, "README.md"),
                                        *pathlib.Path(ROOT, "docs").glob("*.md"),
                                        *pathlib.Path(ROOT, "examples").glob("*.py")]}
    found = 0
    for path, text in texts.items():
        lines = text.splitlines()
        for i, line in enumerate(lines):
            if "except BaseException" in line:
                found += 1
                handler = "\n".join(lines[i + 1:i + 4])
                assert '!= "PanicException"' in handler and "raise" in handler, (
                    f"{path.name}:{i + 1} swallows interrupts")
    assert found >= 3


@pytest.mark.source_tree
def test_readme_links_resolve_on_the_package_page():
    # The README is the long description: a relative link or an in-page anchor leads nowhere on
    # the index's page, which renders it without heading ids.
    import re
    text = pathlib.Path(ROOT, "README.md").read_text()
    assert re.findall(r"\]\((?!https://)[^)]*\)", text) == []
