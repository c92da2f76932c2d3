#!/usr/bin/env bash
# Builds, installs and runs the module on a CPython >= 3.12 that it finds itself.
#   ./dev.sh demo    build, install into a venv and run the demo
#   ./dev.sh test    build, install into a venv and run the test suite (extra args go to pytest)
#   ./dev.sh bench   build, install into a venv and run the benchmark
#   ./dev.sh wheels  one manylinux wheel per CPython 3.12 to 3.15 into wheelhouse/ (root, for the
#                    sid chroot that provides 3.14 and 3.15)
# PYTHON=/path/to/python picks the interpreter; ACCEL_WERROR=ON, ACCEL_SANITIZE=ON,
# ACCEL_FAULT_INJECTION=ON and ACCEL_COVERAGE=ON (test builds only) pass through to the build;
# NUMPY_SPEC (default "numpy") picks the NumPy to test against.
set -euo pipefail
cd "$(dirname "$0")"

if [ "${1:-}" = wheels ]; then exec tools/wheels.sh; fi

usable() {  # a CPython >= 3.12 with the GIL
  "$1" -c 'import sys; sys.exit(0 if sys.version_info >= (3, 12) and getattr(sys, "_is_gil_enabled", lambda: True)() else 1)' >/dev/null 2>&1
}

find_python() {
  if [ -n "${PYTHON:-}" ]; then
    usable "$PYTHON" || { echo "PYTHON=$PYTHON is not a CPython >= 3.12 with the GIL" >&2; exit 2; }
    command -v "$PYTHON"; return
  fi
  local c
  for c in python3.12 python3.13 python3; do
    if command -v "$c" >/dev/null 2>&1 && usable "$c"; then command -v "$c"; return; fi
  done
  # pyenv's versions, also when pyenv itself is not on PATH
  local root v
  root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
  for v in $(ls "$root/versions" 2>/dev/null | grep -E '^3\.(1[2-9]|[2-9][0-9])(\.[0-9]+)?$' | sort -V); do
    c="$root/versions/$v/bin/python3"
    if usable "$c"; then echo "$c"; return; fi
  done
  echo "no CPython >= 3.12 found: install one or set PYTHON" >&2
  exit 2
}

say() { echo "dev.sh: $*" >&2; }

py=$(find_python)
tag=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
say "using $py (CPython $("$py" -c 'import platform; print(platform.python_version())'))"
variant=""  # instrumented builds and debug interpreters get their own venv and build tree
"$py" -c 'import sys, sysconfig; sys.exit(0 if sysconfig.get_config_var("Py_DEBUG") else 1)' &&
  variant="$variant-dbg"
[ "${ACCEL_SANITIZE:-OFF}" = ON ] && variant="$variant-san"
[ "${ACCEL_FAULT_INJECTION:-OFF}" = ON ] && variant="$variant-inject"
[ "${ACCEL_COVERAGE:-OFF}" = ON ] && variant="$variant-cov"
venv=".venv-$tag$variant"
if [ ! -x "$venv/bin/python" ]; then
  say "creating the virtual environment $venv"
  "$py" -m venv "$venv"
fi
vpy="$venv/bin/python"

export ACCEL_WERROR="${ACCEL_WERROR:-OFF}" ACCEL_SANITIZE="${ACCEL_SANITIZE:-OFF}"
export ACCEL_FAULT_INJECTION="${ACCEL_FAULT_INJECTION:-OFF}" ACCEL_COVERAGE="${ACCEL_COVERAGE:-OFF}"

install() {
  say "installing ${NUMPY_SPEC:-numpy}${*:+ and $*} into $venv"
  "$vpy" -m pip install -q --disable-pip-version-check --upgrade pip >/dev/null
  "$vpy" -m pip install -q --disable-pip-version-check "${NUMPY_SPEC:-numpy}" "$@"
  say "building and installing _accel (build tree build/py$tag$variant; about 30 s)"
  "$vpy" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps \
    -Cbuild-dir="build/py$tag$variant" .
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  demo)
    install
    say "running examples/demo.py"
    exec "$vpy" examples/demo.py ;;
  test)
    install pytest hypothesis mypy
    [ "${ACCEL_PACKAGING:-0}" = 1 ] && "$vpy" -m pip install -q build auditwheel
    if [ "$ACCEL_SANITIZE" = ON ]; then
      # The interpreter is not instrumented: preload the runtimes and let malloc see every
      # Python allocation.
      export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
      export PYTHONMALLOC=malloc
      export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}"
      export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
    fi
    say "running the test suite"
    exec "$vpy" -m pytest "$@" ;;
  bench)
    install nanobind cmake ninja
    export PATH="$PWD/$venv/bin:$PATH"  # the venv's cmake builds the nanobind twin
    say "running bench/run.py"
    exec "$vpy" bench/run.py "$@" ;;
  *)
    echo "usage: ./dev.sh demo|test|bench|wheels [args]" >&2
    exit 2 ;;
esac
