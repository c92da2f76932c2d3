"""Stubs, pickling, and the built distributions (the last only with ACCEL_PACKAGING=1)."""

import concurrent.futures
import multiprocessing
import os
import pickle
import subprocess
import sys
import venv

import pytest

import _accel

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


mypy = pytest.importorskip("mypy")


def test_stubs_match_the_module():
    proc = run(sys.executable, "-m", "mypy.stubtest", "_accel")
    assert proc.returncode == 0, proc.stdout + proc.stderr


def test_usage_example_type_checks():
    proc = run(sys.executable, "-m", "mypy", "--strict", "--no-incremental",
               os.path.join(ROOT, "examples", "typing_example.py"))
    assert proc.returncode == 0, proc.stdout + proc.stderr


packaging = pytest.mark.skipif(os.environ.get("ACCEL_PACKAGING") != "1",
                               reason="builds distributions; set ACCEL_PACKAGING=1")


@pytest.fixture(scope="module")
def dists(tmp_path_factory):
    out = tmp_path_factory.mktemp("dist")
    proc = run(sys.executable, "-m", "build", "--outdir", str(out), ROOT)
    assert proc.returncode == 0, proc.stdout[-3000:] + proc.stderr[-3000:]
    wheel = next(out.glob("*.whl"))
    sdist = next(out.glob("*.tar.gz"))
    return wheel, sdist


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
    assert proc.stdout.split() == ["1.0", "(4,", "4)", "0.1.0"]
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


def test_readme_shows_the_demo_output():
    proc = run(sys.executable, os.path.join(ROOT, "examples", "demo.py"))
    assert proc.returncode == 0, proc.stderr
    with open(os.path.join(ROOT, "README.md")) as f:
        readme = f.read()
    block = readme.split("<!-- demo output -->\n```\n", 1)[1].split("```\n", 1)[0]
    assert block == proc.stdout
