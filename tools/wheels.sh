#!/usr/bin/env bash
# Builds manylinux x86-64 wheels into wheelhouse/, one per CPython version given (default: every
# manylinux-x86_64 wheel of tools/matrix.py), each where the matrix says its interpreter is:
# pyenv's with this machine's interpreters, freethreaded for tools/freethreaded.sh's (built first
# if missing: 4 to 7 minutes; the plain X.Y drives the build), sid-chroot in the Debian sid
# chroot (tools/sid-chroot.sh, root needed). Each is built with g++ against the shared libstdc++
# and libgcc_s, then checked and
# tagged by auditwheel and by tools/check_wheels.py. Each build's output goes to
# build/wheels/log-X.Y; this prints one line per step.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
say() { echo "wheels: $*" >&2; }
versions=("$@")
[ ${#versions[@]} -gt 0 ] || mapfile -t versions < <(matrix pythons --platform manylinux-x86_64 \
  --wheel ship)
platform="manylinux_${MANYLINUX_GLIBC/./_}_x86_64"
mkdir -p wheelhouse build/wheels

# Each version's unrepaired wheel goes to build/wheels/raw-X.Y, so that builds of different
# versions can run side by side.
# The build tree is a fresh one inside the checkout, so that a compiler cache sees the same paths
# from every clone (tools/common.sh compiler_cache).
build_here() {  # X.Y: python -m build --wheel in a venv of this machine's interpreter
  local venv=build/wheels/venv-$1 tree=$PWD/build/wheels/build-$1
  make_venv "$venv" "$(find_python "$1")" build
  rm -rf "$tree"
  "$venv/bin/python" -m build --wheel --outdir "build/wheels/raw-$1" -C build-dir="$tree" .
}

# X.Yt: scikit-build-core on this machine's X.Y drives CMake against the free-threaded
# interpreter, which only answers CMake's questions. Python code on CPython 3.13t (pip, build,
# scikit-build-core) can stall for minutes while the cores are busy.
build_free() {
  local v=$1 base=${1%t} venv=build/wheels/venv-driver-${1%t} target suffix include
  target=$(find_python "$v")
  make_venv "$venv" "$(find_python "$base")" scikit-build-core cmake ninja
  suffix=$("$target" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
  include=$("$target" -c 'import sysconfig; print(sysconfig.get_path("include"))')
  SETUPTOOLS_EXT_SUFFIX="$suffix" "$venv/bin/python" -c '
import sys
from scikit_build_core.build import build_wheel
raw, build, tag, target, include = sys.argv[1:]
print(build_wheel(raw, {"build-dir": build, "wheel.tags": [tag],
                        "cmake.define.Python_EXECUTABLE": target,
                        "cmake.define.Python_INCLUDE_DIR": include,
                        "cmake.define.Python_FIND_ABI": "ANY;ANY;ANY;ON"}))' \
    "build/wheels/raw-$v" "build/wheels/build-$v" "cp${base//./}-cp${v//./}-linux_x86_64" \
    "$target" "$include"
}

build_in_sid() {  # X.Y: the same inside the sid chroot
  local venv=build/wheels/venv-$1 out=build/wheels/raw-$1 tree=/accel/build/wheels/build-$1
  tools/sid-chroot.sh run bash -c "set -e; source tools/common.sh
    make_venv $venv python$1 build
    rm -rf $out $tree
    $venv/bin/python -m build --wheel --outdir $out -C build-dir=$tree ."
  cp "$ACCEL_SID_ROOT/accel/$out"/*.whl "$out"/
}

chroot_ready=0
for v in "${versions[@]}"; do
  rm -rf "build/wheels/raw-$v"
  mkdir -p "build/wheels/raw-$v"
  case "$(matrix rows --python "$v" --platform manylinux-x86_64 --wheel ship | cut -d' ' -f3)" in
    pyenv)
      say "CPython $v: building with $(find_python "$v")"
      logged "build/wheels/log-$v" build_here "$v" ;;
    freethreaded)
      if ! find_python "$v" >/dev/null 2>&1; then
        say "CPython $v: building the interpreter first (4 to 7 minutes)"
        logged "build/wheels/log-freethreaded" tools/freethreaded.sh ensure
      fi
      say "CPython $v: building for $(find_python "$v")"
      logged "build/wheels/log-$v" build_free "$v" ;;
    sid-chroot)
      if [ "$chroot_ready" = 0 ]; then
        logged "build/wheels/log-chroot" tools/sid-chroot.sh ensure
        logged "build/wheels/log-copy" tools/sid-chroot.sh copy
        chroot_ready=1
      fi
      say "CPython $v: building in the sid chroot"
      logged "build/wheels/log-$v" build_in_sid "$v" ;;
    *) say "tools/matrix.py ships no manylinux x86-64 wheel of CPython $v"; exit 2 ;;
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
