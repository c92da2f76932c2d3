"""Which interpreters and platforms exist for this project, and how each is obtained, built and
tested: the one declaration that the tools, CI, the release and the README follow.

Columns:
  python    X.Y, X.Yt (free-threaded) or X.Yd (debug build); a comma list for several
  platform  the wheel's platform, or the zig target of a cross check; a comma list for several
  source    where the interpreter (or toolchain) comes from:
              pyenv         this machine's CPython, found by tools/common.sh find_python
              freethreaded  built from Debian's source package by tools/freethreaded.sh
              sid-chroot    Debian sid's packages in the chroot of tools/sid-chroot.sh
              arm64-tree    Debian sid's arm64 packages under qemu (tools/arm64.sh)
              musl          built on musl from Debian's source package (tools/musl.sh)
              cross         nothing runs: zig compiles and links (tools/cross.sh)
              cibuildwheel  native runners of .github/workflows/wheels.yml
  wheel     ship (built, tested, released here), build (built here, not released), native
            (built and tested by the workflow on native runners, not released here) or -
  tests     full (the whole suite), conformance (the tests marked so), link (built and checked,
            not run), native (cibuildwheel's test-command on the runner) or -

usage: python tools/matrix.py pythons|platforms [--platform P] [--source S] [--wheel W]
                                                [--tests T]
       python tools/matrix.py rows [filters]     python, platform, source, wheel, tests a line
Filters take one value or a comma list; a listing prints one value a line, in matrix order.
"""

import sys

MATRIX = """
# python                         platform                              source        wheel   tests
3.12                             manylinux-x86_64                      pyenv         ship    full
3.13                             manylinux-x86_64                      pyenv         ship    full
3.13t                            manylinux-x86_64                      freethreaded  ship    full
3.14                             manylinux-x86_64                      sid-chroot    ship    full
3.15                             manylinux-x86_64                      sid-chroot    ship    full
3.14d                            manylinux-x86_64                      sid-chroot    -       full
3.13                             manylinux-aarch64                     arm64-tree    ship    conformance
3.14                             manylinux-aarch64                     arm64-tree    ship    conformance
3.15                             manylinux-aarch64                     arm64-tree    ship    conformance
3.13                             musllinux-x86_64                      musl          ship    full
3.13                             musllinux-aarch64                     musl          ship    conformance
3.13                             x86_64-macos,aarch64-macos            cross         -       link
3.13                             x86_64-windows,aarch64-windows        cross         -       link
3.13                             x86_64-linux-musl,aarch64-linux-musl  cross         -       link
3.12,3.13,3.14,3.14t,3.15,3.15t  macos-x86_64,macos-arm64              cibuildwheel  native  native
3.12,3.13,3.14,3.14t,3.15,3.15t  windows-AMD64,windows-ARM64           cibuildwheel  native  native
3.12,3.13,3.14,3.14t,3.15,3.15t  linux-x86_64,linux-aarch64            cibuildwheel  native  native
"""

COLUMNS = ("python", "platform", "source", "wheel", "tests")


def rows():
    """Every (python, platform, source, wheel, tests), one per interpreter and platform."""
    out = []
    for line in MATRIX.splitlines():
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        python, platform, source, wheel, tests = line.split()
        for p in python.split(","):
            for plat in platform.split(","):
                out.append(dict(zip(COLUMNS, (p, plat, source, wheel, tests))))
    return out


def select(**filters):
    """The rows whose columns hold one of the given values (comma lists)."""
    wanted = {k: v.split(",") for k, v in filters.items() if v}
    return [r for r in rows() if all(r[k] in v for k, v in wanted.items())]


def unique(values):
    return list(dict.fromkeys(values))


def main(argv):
    if not argv or argv[0] not in ("pythons", "platforms", "rows"):
        print(__doc__.split("usage: ", 1)[1], file=sys.stderr)
        return 2
    what, filters, args = argv[0], {}, argv[1:]
    while args:
        key = args.pop(0)
        if not key.startswith("--") or key[2:] not in COLUMNS or not args:
            print(f"matrix: bad filter {key!r}", file=sys.stderr)
            return 2
        filters[key[2:]] = args.pop(0)
    chosen = select(**filters)
    if what == "rows":
        lines = [" ".join(r[c] for c in COLUMNS) for r in chosen]
    else:
        lines = unique(r[what[:-1]] for r in chosen)
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
