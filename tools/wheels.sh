#!/usr/bin/env bash
# Builds manylinux x86-64 wheels into wheelhouse/, one per CPython version given (default 3.12,
# 3.13, 3.13t, 3.14 and 3.15): 3.12 and 3.13 with this machine's interpreters, the free-threaded
# 3.13t with tools/freethreaded.sh's (built first if missing: 4 to 7 minutes), 3.14 and 3.15 in
# the Debian sid chroot (tools/sid-chroot.sh, root needed). Each is built with g++ against the shared libstdc++
# and libgcc_s, then checked and tagged by auditwheel and by tools/check_wheels.py. Each build's
# output goes to build/wheels/log-X.Y; this prints one line per step.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
say() { echo "wheels: $*" >&2; }
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.12 3.13 3.13t 3.14 3.15)
platform="manylinux_${MANYLINUX_GLIBC/./_}_x86_64"
mkdir -p wheelhouse build/wheels

# Each version's unrepaired wheel goes to build/wheels/raw-X.Y, so that builds of different
# versions can run side by side.
build_here() {  # X.Y: python -m build --wheel in a venv of this machine's interpreter
  local py venv=build/wheels/venv-$1
  py=$(find_python "$1")
  [ -x "$venv/bin/python" ] || "$py" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check build
  "$venv/bin/python" -m build --wheel --outdir "build/wheels/raw-$1" .
}

build_in_sid() {  # X.Y: the same inside the sid chroot
  local venv=build/wheels/venv-$1 out=build/wheels/raw-$1
  tools/sid-chroot.sh run sh -c "set -e
    [ -x $venv/bin/python ] || python$1 -m venv $venv
    $venv/bin/python -m pip install -q --disable-pip-version-check build
    rm -rf $out
    $venv/bin/python -m build --wheel --outdir $out ."
  cp "$ACCEL_SID_ROOT/accel/$out"/*.whl "$out"/
}

chroot_ready=0
for v in "${versions[@]}"; do
  rm -rf "build/wheels/raw-$v"
  mkdir -p "build/wheels/raw-$v"
  case "$v" in
    3.12 | 3.13 | 3.13t)
      if [ "$v" = 3.13t ] && ! find_python 3.13t >/dev/null 2>&1; then
        say "CPython 3.13t: building the interpreter first (4 to 7 minutes)"
        logged "build/wheels/log-freethreaded" tools/freethreaded.sh ensure
      fi
      say "CPython $v: building with $(find_python "$v")"
      logged "build/wheels/log-$v" build_here "$v" ;;
    3.14 | 3.15)
      if [ "$chroot_ready" = 0 ]; then
        logged "build/wheels/log-chroot" tools/sid-chroot.sh ensure
        logged "build/wheels/log-copy" tools/sid-chroot.sh copy
        chroot_ready=1
      fi
      say "CPython $v: building in the sid chroot"
      logged "build/wheels/log-$v" build_in_sid "$v" ;;
    *) say "no wheel recipe for CPython $v"; exit 2 ;;
  esac
done

# auditwheel checks every symbol version and library against the platform, then retags.
audit=$(audit_venv)
for v in "${versions[@]}"; do
  for whl in "build/wheels/raw-$v"/*.whl; do
    forget_wheels "$v" x86_64
    say "auditwheel: $(basename "$whl") as $platform"
    logged "build/wheels/log-audit-$v" env PATH="$PWD/$audit/bin:$PATH" "$audit/bin/auditwheel" repair \
      --plat "$platform" --only-plat -w wheelhouse "$whl"
  done
done
say "checking the wheels"
wanted=()
for v in "${versions[@]}"; do wanted+=(--python "$v"); done
"$audit/bin/python" tools/check_wheels.py --arch x86_64 "${wanted[@]}" wheelhouse
