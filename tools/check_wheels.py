"""Checks the wheels in wheelhouse/: one per CPython 3.12 to 3.15, each tagged manylinux, each
module needing glibc 2.28 or older and no library outside the manylinux set."""

import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

ALLOWED = {"libc.so.6", "libm.so.6", "libgcc_s.so.1", "libstdc++.so.6", "libpthread.so.0",
           "libdl.so.2", "librt.so.1", "ld-linux-x86-64.so.2"}
WANTED = {"cp312", "cp313", "cp314", "cp315"}


def glibc_needed(path):
    out = subprocess.run(["objdump", "-T", path], capture_output=True, text=True,
                         check=True).stdout
    versions = {tuple(int(x) for x in v.split(".")) for v in re.findall(r"GLIBC_(\d+\.\d+)", out)}
    return max(versions)


def needed(path):
    out = subprocess.run(["readelf", "-d", path], capture_output=True, text=True,
                         check=True).stdout
    return set(re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", out))


def main():
    wheels = sorted(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "wheelhouse").glob("*.whl"))
    seen, problems = set(), []
    for whl in wheels:
        tag = re.search(r"-(cp3\d+)-cp3\d+d?-(\S+)\.whl$", whl.name)
        python, platform = tag.group(1), tag.group(2)
        seen.add(python)
        if not platform.startswith("manylinux"):
            problems.append(f"{whl.name}: not tagged manylinux")
        with tempfile.TemporaryDirectory() as tmp, zipfile.ZipFile(whl) as z:
            [so] = [n for n in z.namelist() if n.startswith("_accel") and n.endswith(".so")]
            path = z.extract(so, tmp)
            glibc, libs = glibc_needed(path), needed(path)
        print(f"{whl.name}: needs glibc {'.'.join(map(str, glibc))}, links {sorted(libs)}")
        if glibc > (2, 28):
            problems.append(f"{whl.name}: needs glibc {glibc}")
        if libs - ALLOWED:
            problems.append(f"{whl.name}: links {sorted(libs - ALLOWED)}")
    if seen != WANTED:
        problems.append(f"wheels for {sorted(seen)}, wanted {sorted(WANTED)}")
    for p in problems:
        print("problem:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
