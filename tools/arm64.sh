#!/usr/bin/env bash
# manylinux aarch64 wheels, cross-compiled here, and their test suites run under qemu, as root.
#   tools/arm64.sh ensure                 the cross toolchain, qemu and an arm64 Debian sid tree
#                                         with the manylinux-aarch64 CPythons of tools/matrix.py
#                                         (first time: a few minutes, unpacked)
#   tools/arm64.sh wheels [X.Y...]        cross-built wheels into wheelhouse/ (default: those of
#                                         the matrix, whose rows say which CPythons sid has)
#   tools/arm64.sh test X.Y [ARGS]        installs that wheel into a venv of the arm64 interpreter
#                                         and runs pytest under emulation (ARGS go to pytest)
#   tools/arm64.sh emulate CMD...         runs CMD with aarch64 programs emulated, its children
#                                         too, in the environment of the emulated suites
#   tools/arm64.sh registered CMD...      runs CMD with the emulation registered and nothing
#                                         else changed (CI holds it so for the whole run: the
#                                         commands inside then neither add nor remove it, and
#                                         can run side by side)
#   tools/arm64.sh differential X86PY     the same random inputs through the aarch64 module
#                                         (on arm64 CPython of X86PY's version) and the x86-64
#                                         one that X86PY imports, compared bit for bit
# Emulation of child processes needs binfmt_misc: an entry for aarch64 is registered for the
# command's time only, unless one is there already. ACCEL_ARM64_ROOT (tools/common.sh) is where
# the tree lives, outside any clone.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
root=$ACCEL_ARM64_ROOT
work=build/arm64
mapfile -t pythons < <(matrix pythons --platform manylinux-aarch64)
say() { echo "arm64: $*" >&2; }
binfmt=/proc/sys/fs/binfmt_misc

# Registers qemu for aarch64 executables (F: the interpreter is opened now, so it also serves
# inside chroots) and removes what it added when the script ends.
enable_emulation() {
  if ! mountpoint -q "$binfmt"; then
    mount -t binfmt_misc binfmt_misc "$binfmt"
    trap_add "umount $binfmt"
  fi
  if [ ! -e "$binfmt/qemu-aarch64" ]; then
    local magic
    magic=$(cut -d: -f5,6 /usr/lib/binfmt.d/qemu-aarch64.conf)
    echo ":qemu-aarch64:M::$magic:/usr/bin/qemu-aarch64-static:PF" >"$binfmt/register"
    trap_add "echo -1 >$binfmt/qemu-aarch64"
  fi
}

undo=()
trap_add() { undo=("$1" "${undo[@]}"); }
cleanup() { local u; for u in "${undo[@]}"; do eval "$u" || true; done; }
trap cleanup EXIT

ensure() {
  [ "$(id -u)" = 0 ] || { say "needs root (apt, debootstrap, binfmt_misc)"; exit 2; }
  if ! command -v aarch64-linux-gnu-g++ >/dev/null || ! command -v qemu-aarch64-static >/dev/null ||
    ! command -v debootstrap >/dev/null; then
    say "installing the cross compiler, qemu and debootstrap"
    apt_install g++-aarch64-linux-gnu qemu-user-static debootstrap
  fi
  enable_emulation
  if [ ! -e "$root/.accel-complete" ]; then
    local v include=()
    for v in "${pythons[@]}"; do include+=("python$v" "python$v-venv" "libpython$v-dev"); done
    say "creating an arm64 Debian sid tree in $root (a few minutes)"
    remove_tree "$root"
    mkdir -p "$(dirname "$root")"
    # The first stage resolves and fetches the packages and unpacks the essential ones; the rest
    # are unpacked here as they are. Nothing is configured: the tree's programs run under qemu
    # with the machine's files where the tree has none, and its maintainer scripts (most of all
    # byte-compiling each standard library, under emulation) took most of ten minutes.
    debootstrap --foreign --arch=arm64 --variant=minbase \
      --include="$(IFS=,; echo "${include[*]}")" sid "$root" >/dev/null
    local package deb
    while read -r package deb; do
      dpkg-deb -x "$root/$deb" "$root"
      basename "$deb" .deb | sed 's/%3a/:/' | awk -F_ -v p="$package" '{print p "=" $2}'
    done <"$root/debootstrap/debpaths" >"$root/.accel-packages"
    for v in "${pythons[@]}"; do
      emulated "$root/usr/bin/python$v" -c 'import sysconfig, venv' ||
        { say "the tree's python$v does not run"; exit 1; }
    done
    touch "$root/.accel-complete"
  fi
}

# Runs an arm64 program from the tree under emulation, as if the tree were the root.
# Bytecode is written even where the environment says not to (PYTHONDONTWRITEBYTECODE): the
# packages in the tree's venvs come from this machine's pip, without bytecode for the emulated
# interpreter, and without it every emulated process compiles what it imports again (pytest,
# Hypothesis and NumPy in every child process of the suite).
emulated() { env -u PYTHONDONTWRITEBYTECODE QEMU_LD_PREFIX="$root" "$@"; }

# A venv of the arm64 CPython X.Y at DIR, filled from this machine by pip with arm64 wheels
# (much faster than pip under emulation). The pip that does it is a current one in a venv of
# its own: older ones check a wheel's Python requirement against the interpreter they run on.
venv_with() {
  local v=$1 dir=$2 pip=$work/pip-venv
  shift 2
  [ -x "$dir/bin/python" ] || emulated "$root/usr/bin/python$v" -m venv --without-pip "$dir"
  mkdir -p "$work"
  # Suites of several versions may start at once: one makes the pip venv, the others wait.
  (
    flock 9
    if [ ! -x "$pip/bin/python" ]; then
      make_venv "$pip" "$(find_python)" --upgrade pip >"$work/log-pip" 2>&1 ||
        { cat "$work/log-pip" >&2; exit 1; }
    fi
  ) 9>"$work/pip-venv.lock"
  if ! PIP_CONSTRAINT=$(constraints_for "$v") \
    "$pip/bin/python" -m pip install -q --disable-pip-version-check --upgrade --target \
    "$dir/lib/python$v/site-packages" --python-version "$v" --implementation cp \
    --platform manylinux_2_28_aarch64 --platform manylinux2014_aarch64 --only-binary=:all: \
    "$@" >"$work/log-pip" 2>&1; then
    cat "$work/log-pip" >&2
    exit 1
  fi
}

# The wheel is built by this machine's Python and CMake with the cross compiler; only the target
# interpreter runs under emulation, in a few short questions that CMake asks it (its headers,
# version, debug build or not) and one for its extension suffix: Python and scikit-build-core
# would be slow under emulation.
build_wheel() {  # X.Y
  local v=$1 target=$work/target-venv-$1 include=$work/include-$1 log=$work/log-build-$1
  local cross=$work/cross-venv suffix
  # Debian's pyconfig.h includes <aarch64-linux-gnu/pythonX.Y/pyconfig.h>: the cross compiler
  # sees that one folder of the tree's headers and nothing else of them.
  mkdir -p "$include/aarch64-linux-gnu"
  ln -sfn "$root/usr/include/aarch64-linux-gnu/python$v" "$include/aarch64-linux-gnu/python$v"
  # A venv of the target interpreter: asked from inside one, it reports the tree's paths.
  [ -x "$target/bin/python" ] || emulated "$root/usr/bin/python$v" -m venv --without-pip "$target"
  suffix=$(emulated "$target/bin/python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
  if [ ! -x "$cross/bin/python" ]; then
    logged "$work/log-cross-venv" make_venv "$cross" "$(find_python)" scikit-build-core
  fi
  rm -rf "$work/raw-$v" && mkdir -p "$work/raw-$v"
  logged "$log" env QEMU_LD_PREFIX="$root" ACCEL_ARM64_ROOT="$root" \
    ACCEL_ARM64_INCLUDE="$PWD/$include" CMAKE_TOOLCHAIN_FILE="$PWD/tools/aarch64-toolchain.cmake" \
    SETUPTOOLS_EXT_SUFFIX="$suffix" "$cross/bin/python" -c '
import sys
from scikit_build_core.build import build_wheel
raw, build, version, target, root = sys.argv[1:]
tag = "cp{0}-cp{0}-linux_aarch64".format(version.replace(".", ""))
print(build_wheel(raw, {
    "build-dir": build,
    "wheel.tags": [tag],
    # The target interpreter, not this one, is the Python that CMake finds.
    "cmake.define.Python_EXECUTABLE": target,
    "cmake.define.Python_ROOT_DIR": root + "/usr",
    "cmake.define.Python_INCLUDE_DIR": root + "/usr/include/python" + version,
}))' "$work/raw-$v" "$work/build-$v" "$v" "$PWD/$target/bin/python" "$root"
}

wheels() {
  local versions=("$@") v whl wanted=()
  [ ${#versions[@]} -gt 0 ] || versions=("${pythons[@]}")
  ensure
  mkdir -p "$work" wheelhouse
  local audit
  audit=$(audit_venv)
  for v in "${versions[@]}"; do
    say "CPython $v: cross-compiling with $(aarch64-linux-gnu-g++ -dumpfullversion)"
    build_wheel "$v"
    forget_wheels "$v" aarch64
    # auditwheel on an x86-64 machine accepts an aarch64 wheel only with the platform left to
    # it; check_wheels.py then asserts the tag it chose.
    for whl in "$work/raw-$v"/*.whl; do
      logged "$work/log-audit-$v" env PATH="$PWD/$audit/bin:$PATH" "$audit/bin/auditwheel" \
        repair --plat auto --only-plat -w wheelhouse "$whl"
    done
    wanted+=(--python "$v")
  done
  say "checking the wheels"
  "$audit/bin/python" tools/check_wheels.py --arch aarch64 "${wanted[@]}" wheelhouse
}

# The environment of emulated test runs. NumPy's bundled OpenBLAS picks kernels that compute
# complex products wrongly on qemu's default CPU model; a plain ARMv8 core is emulated right.
# Child processes get time-outs scaled for emulation, and the tests know they are emulated.
test_env=(OPENBLAS_CORETYPE=ARMV8 QEMU_CPU=cortex-a72 ACCEL_TIMEOUT_FACTOR=4 ACCEL_EMULATED=1)

test_wheel() {  # X.Y [pytest args]
  local v=$1 venv=$work/test-venv-$1
  shift
  ensure
  local whl
  whl=$(wheel_for "$v" aarch64) || { say "no aarch64 wheel for CPython $v: run wheels first"; exit 2; }
  say "CPython $v: installing $(basename "$whl") and the test tools"
  # The runner, Hypothesis and NumPy; mypy and the packaging tools stay out (their tests skip).
  venv_with "$v" "$venv" pytest hypothesis numpy
  venv_with "$v" "$venv" --no-deps --force-reinstall "$whl"
  say "CPython $v: running the suite under emulation"
  emulated env "${test_env[@]}" "$venv/bin/python" -m pytest -p no:cacheprovider "$@"
}

differential() {  # X86PY: compares the x86-64 module X86PY imports with the aarch64 one
  local x86=$1 seed=${ACCEL_DIFF_SEED:-20261208} count=${ACCEL_DIFF_COUNT:-100000} v venv whl
  v=$(python_tag "$x86")
  venv=$work/test-venv-$v
  ensure
  whl=$(wheel_for "$v" aarch64) || { say "no aarch64 wheel for CPython $v: run wheels first"; exit 2; }
  venv_with "$v" "$venv" numpy
  venv_with "$v" "$venv" --no-deps --force-reinstall "$whl"
  mkdir -p "$work"
  say "differential: $count inputs per function, seed $seed, x86-64 ($x86)"
  # Faults write their reports to standard error: kept apart, they are not the result.
  "$x86" tools/differential.py dump --seed "$seed" --count "$count" "$work/diff-x86_64.bin" \
    2>"$work/diff-x86_64.err"
  say "differential: the same inputs through the aarch64 module under emulation"
  emulated env "${test_env[@]}" "$venv/bin/python" tools/differential.py dump \
    --seed "$seed" --count "$count" "$work/diff-aarch64.bin" 2>"$work/diff-aarch64.err"
  python3 tools/differential.py compare "$work/diff-x86_64.bin" "$work/diff-aarch64.bin"
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  ensure) ensure ;;
  wheels) wheels "$@" ;;
  test) test_wheel "$@" ;;
  differential) differential "$@" ;;
  emulate | registered)
    command -v qemu-aarch64-static >/dev/null || apt_install qemu-user-static
    enable_emulation
    if [ "$cmd" = emulate ]; then env "${test_env[@]}" "$@"; else "$@"; fi ;;
  *) echo "usage: tools/arm64.sh ensure | wheels [X.Y...] | test X.Y [ARGS] | differential X86PY | emulate|registered CMD..." >&2
    exit 2 ;;
esac
