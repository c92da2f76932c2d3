"""The maintainers' tools: the matrix of interpreters and platforms and what must follow it (the
README, cibuildwheel's configuration, CI's graph), the test subsets of CI's legs, and the shell
helpers of tools/common.sh. Only the mount test needs root; it says so when it skips."""

import ast
import glob
import importlib
import os
import re
import shutil
import subprocess
import sys

import pytest

# In no subset of the suite that a CI leg runs apart (conftest.MARKERS).
pytestmark = [pytest.mark.source_tree]

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def tool_module(name):
    """A module of tools/ or .ci/, imported by the tests that use it: a copy of tests/ outside
    the checkout, which has neither folder, collects this file and deselects its tests."""
    sys.path[:0] = [os.path.join(ROOT, "tools"), os.path.join(ROOT, ".ci")]
    try:
        return importlib.import_module(name)
    finally:
        del sys.path[:2]


@pytest.fixture(scope="module")
def matrix():
    return tool_module("matrix")


@pytest.fixture(scope="module")
def graph():
    return tool_module("graph")


def run(*cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=120, **kw)


def readme_rows():
    """(platform, python) of the README's table of wheels built and tested here."""
    with open(os.path.join(ROOT, "README.md")) as f:
        text = f.read()
    out = set()
    for arch, family, pythons in re.findall(
            r"^\| Linux ([\w-]+), `(manylinux|musllinux)_[\d_]+`[^|]*\| ([^|]+) \|", text, re.M):
        arch = arch.replace("x86-64", "x86_64")
        for v in pythons.split(","):
            out.add((f"{family}-{arch}", v.split("(")[0].strip()))
    return out


def test_the_readme_table_is_the_matrix_shipped_wheels(matrix):
    shipped = {(r["platform"], r["python"]) for r in matrix.select(wheel="ship")}
    listed = readme_rows()
    assert sorted(shipped - listed) == [], "shipped by the matrix, missing from README.md"
    assert sorted(listed - shipped) == [], "in README.md, not shipped by the matrix"


def test_cibuildwheel_builds_what_the_matrix_says(matrix):
    import tomllib
    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as f:
        config = tomllib.load(f)["tool"]["cibuildwheel"]
    built = {p.split("-")[0] for p in config["build"]}
    wanted = {"cp" + v.replace(".", "") for v in matrix.unique(
        r["python"] for r in matrix.select(source="cibuildwheel"))}
    assert built == wanted
    for system in ("linux", "macos", "windows"):
        archs = {f"{system}-{a}" for a in config[system]["archs"]}
        assert archs == set(matrix.unique(r["platform"] for r in matrix.select(
            source="cibuildwheel") if r["platform"].startswith(system))), system


def test_ci_runs_every_suite_and_wheel_of_the_matrix(matrix, graph):
    legs = {name: command for _, name, _, command in graph.legs()}
    # The command that builds each platform's wheels, with the versions it is given.
    builders = {"manylinux-x86_64": r"(host_wheels|tools/wheels\.sh)( [\d.t]+)*",
                "manylinux-aarch64": r"tools/arm64\.sh wheels( [\d.t]+)*",
                "musllinux-x86_64": r"tools/musl\.sh wheels", "musllinux-aarch64": r"tools/musl\.sh wheels"}
    missing = []
    for r in matrix.rows():
        v, platform = r["python"], r["platform"]
        if r["source"] in ("cross", "cibuildwheel"):
            ok = r["source"] == "cibuildwheel" or re.fullmatch(
                r"(?:\w+=\S* )*tools/cross\.sh", legs.get("cross-builds", "")) is not None
        else:
            family, arch = platform.split("-")
            suite = r["tests"] == "-" or any(
                name.startswith(("cpython-", "aarch64-cpython-")) and f"-{v}-" in f"{name}-"
                and ("aarch64" in name) == (arch == "aarch64") and (family in name) == (
                    family == "musllinux") for name in legs)
            wheel = r["wheel"] not in ("ship", "build") or any(
                m and (platform.startswith("musl") or v in m.group(0).split())
                for m in (re.match(r"(?:\w+=\S* )*" + builders[platform], c)
                          for c in legs.values()))
            ok = suite and wheel
        if not ok:
            missing.append(f"{v} {platform}")
    assert missing == [], "rows of tools/matrix.py with no CI leg"


def test_ci_graph_is_acyclic_and_complete(graph):
    legs = graph.legs()
    names = [name for _, name, _, _ in legs]
    assert len(names) == len(set(names))
    seen = set()
    for _, name, needs, _ in legs:
        # A leg needs only legs declared before it: make then has no cycle to find.
        assert set(needs) <= seen, name
        seen.add(name)
    functions = set(re.findall(r"^(\w+)\(\) \{", open(os.path.join(ROOT, ".ci/run")).read(),
                               re.M))
    for _, name, _, command in legs:
        word = next(w for w in command.split() if "=" not in w)
        assert word in functions or os.path.exists(os.path.join(ROOT, word)), (name, word)


def test_every_test_file_says_which_ci_subsets_run_it(graph):
    from conftest import MARKERS
    registered = set(MARKERS)
    used = set()
    undeclared = []
    for path in sorted(glob.glob(os.path.join(ROOT, "tests", "test_*.py"))):
        with open(path) as f:
            text = f.read()
        tree = ast.parse(text)
        if not any(isinstance(n, ast.Assign) and any(getattr(t, "id", "") == "pytestmark"
                                                     for t in n.targets) for n in tree.body):
            undeclared.append(os.path.basename(path))
        used |= set(re.findall(r"pytest\.mark\.(\w+)", text))
    assert undeclared == []
    builtin = {"parametrize", "skipif", "skip", "xfail", "usefixtures", "filterwarnings"}
    assert used - builtin <= registered
    # Every subset is selected by some leg.
    commands = "\n".join(c for _, _, _, c in graph.legs()) + open(
        os.path.join(ROOT, ".ci/run")).read()
    for marker in registered - {"source_tree"}:
        assert f"-m {marker}" in commands, marker


def test_a_rebuilt_wheel_replaces_every_older_one_of_its_tag(tmp_path):
    # A release copies the one wheel of each tag; an older version's wheel left beside it made
    # the copy fail.
    wheels = ["w-0.1.0-cp313-cp313t-manylinux_2_17_x86_64.whl",
              "w-0.2.0-cp313-cp313t-manylinux_2_17_x86_64.whl",
              "w-0.1.0-cp313-cp313-manylinux_2_17_x86_64.whl",
              "w-0.1.0-cp313-cp313t-manylinux_2_17_aarch64.whl",
              "w-0.1.0-cp313-cp313-musllinux_1_2_x86_64.whl"]
    (tmp_path / "wheelhouse").mkdir()
    for name in wheels:
        (tmp_path / "wheelhouse" / name).touch()
    script = (f"source {ROOT}/tools/common.sh && forget_wheels 3.13t x86_64 && "
              "! wheel_for 3.13t x86_64 && wheel_for 3.13t aarch64 && "
              # A musllinux wheel of the same CPython and architecture is another tag.
              "[ $(wheel_for 3.13 x86_64 | wc -l) = 1 ] && wheel_for 3.13 x86_64 musllinux")
    proc = run("bash", "-c", script, cwd=tmp_path)
    assert proc.returncode == 0, proc.stderr
    assert sorted(os.listdir(tmp_path / "wheelhouse")) == sorted(wheels[2:])


@pytest.mark.skipif(not hasattr(os, "geteuid") or os.geteuid() != 0 or not shutil.which("findmnt"),
                    reason="mounts need root")
def test_removing_a_tree_undoes_its_mounts_and_spares_what_they_show(tmp_path):
    # A chroot build that was killed leaves /proc and bind mounts in its tree; removing the tree
    # must not delete the machine's files through them.
    outside, tree = tmp_path / "outside", tmp_path / "tree"
    (outside / "sub").mkdir(parents=True)
    (outside / "sub" / "keep").touch()
    for folder in ("dev", "proc", "deep/er"):
        (tree / folder).mkdir(parents=True)
    try:
        mounts = [run("mount", "--bind", str(outside), str(tree / "dev")),
                  run("mount", "-t", "proc", "proc", str(tree / "proc")),
                  run("mount", "--bind", str(outside / "sub"), str(tree / "deep/er"))]
        if any(m.returncode for m in mounts):
            pytest.skip("this machine does not let the suite mount")
        proc = run("bash", "-c", f"source {ROOT}/tools/common.sh && remove_tree {tree}")
        assert proc.returncode == 0, proc.stderr
        assert not tree.exists()
        assert (outside / "sub" / "keep").exists()
    finally:
        left = [t for t in run("findmnt", "-rn", "-o", "TARGET").stdout.split()
                if t.startswith(str(tree))]
        for target in sorted(left, reverse=True):
            run("umount", "-l", target)


def test_hand_kept_places_name_every_interpreter_of_the_matrix(matrix):
    # What cannot be derived from tools/matrix.py names each of its interpreters; adding a row
    # fails here with every place still to change.
    def text(path):
        with open(os.path.join(ROOT, path)) as f:
            return f.read()

    shipped = matrix.unique(r["python"] for r in matrix.select(platform="manylinux-x86_64",
                                                               wheel="ship"))
    every = matrix.unique(r["python"] for r in matrix.rows())
    places = {
        "pyproject.toml classifiers": ([f"Programming Language :: Python :: {v}" for v in every
                                        if v[-1].isdigit()], text("pyproject.toml")),
        "dev.sh's help (./dev.sh wheels)": (shipped, text("dev.sh").split("\nset -euo")[0]),
        "README.md": ([v for v in every if v[-1].isdigit()], text("README.md")),
        "docs/development.md": (shipped, text("docs/development.md")),
    }
    missing = [f"{place}: {want}" for place, (wants, body) in places.items() for want in wants
               if want not in body]
    assert missing == [], "to add: " + "; ".join(missing)


def test_the_tools_name_no_interpreter_version_of_their_own(matrix):
    # The tools that build, test and release take every interpreter from tools/matrix.py (or
    # from an argument that .ci/graph.py derives from it): a version written into their code
    # would stay behind when a row changes.
    tools = ["tools/musl.sh", "tools/freethreaded.sh", "tools/cross.sh", "tools/arm64.sh",
             "tools/sid-chroot.sh", "tools/wheels.sh", "tools/release.sh", ".ci/run",
             ".ci/graph.py"]
    version = re.compile(r"(?<![\w.])3\.1\d(?!\d)|\b(?:cp|python)3\d\d\b")
    found = []
    for path in tools:
        with open(os.path.join(ROOT, path)) as f:
            for number, line in enumerate(f, 1):
                code = line.split(" # ")[0]
                if not code.lstrip().startswith("#") and version.search(code):
                    found.append(f"{path}:{number}: {line.strip()}")
    assert found == [], "take these from tools/matrix.py:\n" + "\n".join(found)
