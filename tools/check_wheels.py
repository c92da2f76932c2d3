"""Checks the manylinux wheels in a folder: for each wanted CPython version one wheel of the given
architecture, tagged with the glibc baseline of tools/common.sh, whose module needs no newer
glibc, libstdc++ or C++ ABI than that baseline provides, links only libraries of the manylinux
set, and exports nothing but PyInit__accel.

usage: check_wheels.py --arch x86_64|aarch64 --python X.Y [--python X.Y ...] FOLDER
"""

import argparse
import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
ALLOWED = {"libc.so.6", "libm.so.6", "libgcc_s.so.1", "libstdc++.so.6", "libpthread.so.0",
           "libdl.so.2", "librt.so.1", "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1"}


def baseline():
    """The MANYLINUX_* ceilings, read from tools/common.sh, their one home."""
    text = (ROOT / "tools" / "common.sh").read_text()
    found = dict(re.findall(r"^MANYLINUX_(\w+)=(\S+)$", text, re.M))
    return {k: tuple(int(x) for x in v.split(".")) for k, v in found.items()}


def readelf(*args):
    return subprocess.run(["readelf", "-W", *args], capture_output=True, text=True,
                          check=True).stdout


def check(path, ceilings):
    """The module's problems, and a one-line summary of what it needs."""
    problems = []
    needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", readelf("-d", path)))
    if needed - ALLOWED:
        problems.append(f"links {sorted(needed - ALLOWED)}")
    versions = {}
    for lib, version in re.findall(r"Name: (GLIBC|GLIBCXX|CXXABI)_([\d.]+)", readelf("-V", path)):
        v = tuple(int(x) for x in version.split("."))
        versions[lib] = max(versions.get(lib, v), v)
    for lib, newest in versions.items():
        if newest > ceilings[lib]:
            problems.append(f"needs {lib}_{'.'.join(map(str, newest))}")
    exported = set()
    for line in readelf("--dyn-syms", path).splitlines():
        f = line.split()
        if len(f) >= 8 and f[4] in ("GLOBAL", "WEAK") and f[6] != "UND":
            exported.add(f[7].split("@")[0])
    if exported != {"PyInit__accel"}:
        problems.append(f"exports {sorted(exported)}")
    summary = ", ".join(f"{k}_{'.'.join(map(str, v))}" for k, v in sorted(versions.items()))
    return problems, f"needs {summary}; links {sorted(needed)}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", required=True)
    parser.add_argument("--python", action="append", required=True)
    parser.add_argument("folder")
    args = parser.parse_args()
    ceilings = baseline()
    glibc = ceilings["GLIBC"]
    tag = f"manylinux_{glibc[0]}_{glibc[1]}_{args.arch}"
    wanted = {"cp" + v.replace(".", "") for v in args.python}
    seen, problems = set(), []
    # musllinux wheels of the same architecture are tools/musl.sh's to check.
    for whl in sorted(pathlib.Path(args.folder).glob(f"*manylinux*_{args.arch}.whl")):
        # The free-threaded ABI is its own wheel: cp313-cp313t, asked for as 3.13t.
        m = re.search(r"-cp(3\d+)-cp3\d+(t?)d?-(\S+)\.whl$", whl.name)
        if m is None or "cp" + m.group(1) + m.group(2) not in wanted:
            continue
        version = m.group(1) + m.group(2)
        seen.add("cp" + version)
        if tag not in m.group(3).split("."):
            problems.append(f"{whl.name}: not tagged {tag}")
        with tempfile.TemporaryDirectory() as tmp, zipfile.ZipFile(whl) as z:
            [so] = [n for n in z.namelist() if n.startswith("_accel") and n.endswith(".so")]
            if not re.fullmatch(rf"_accel\.cpython-{version}d?-{args.arch}-linux-gnu\.so", so):
                problems.append(f"{whl.name}: module named {so}")
            found, summary = check(z.extract(so, tmp), ceilings)
        print(f"{whl.name}: {summary}")
        problems += [f"{whl.name}: {p}" for p in found]
    if seen != wanted:
        problems.append(f"{args.arch} wheels for {sorted(seen)}, wanted {sorted(wanted)}")
    for p in problems:
        print("problem:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
