# Sourced by dev.sh, .ci/run and the tools: the one home of "which interpreter", "which chroot"
# and "which glibc".

# The wheels' baseline: manylinux_2_17 (manylinux2014). Its libstdc++ and C++ ABI ceilings are
# the ones that glibc release shipped with (GCC 4.8), which tools/check_wheels.py enforces.
MANYLINUX_GLIBC=2.17
MANYLINUX_GLIBCXX=3.4.19
MANYLINUX_CXXABI=1.3.7

# The Debian sid trees that provide what this machine lacks, kept outside any clone: CPython
# 3.14, 3.15 and the 3.14 debug build (x86-64), and arm64 CPython 3.13 to 3.15.
ACCEL_SID_ROOT=${ACCEL_SID_ROOT:-/var/cache/accel-sid/root}
ACCEL_ARM64_ROOT=${ACCEL_ARM64_ROOT:-/var/cache/accel-arm64/root}

# Succeeds for a CPython 3.12 or newer built with the GIL, the only kind the module supports.
usable_python() {
  "$1" -c 'import sys
ok = sys.implementation.name == "cpython" and sys.version_info >= (3, 12)
sys.exit(0 if ok and getattr(sys, "_is_gil_enabled", lambda: True)() else 1)' >/dev/null 2>&1
}

# find_python [X.Y]: prints a usable interpreter's path. Without a version: $PYTHON if set, else
# the first of python3.12, python3.13 and python3 on PATH, else the oldest usable pyenv version.
# With one: pythonX.Y on PATH, else pyenv's newest X.Y. pyenv is searched also when it is not on
# PATH.
find_python() {
  local want=${1:-} candidates=() c root v
  if [ -z "$want" ] && [ -n "${PYTHON:-}" ]; then
    if usable_python "$PYTHON"; then command -v "$PYTHON"; return; fi
    echo "PYTHON=$PYTHON is not a CPython >= 3.12 with the GIL" >&2
    return 2
  fi
  if [ -n "$want" ]; then candidates=("python$want"); else candidates=(python3.12 python3.13 python3); fi
  for c in "${candidates[@]}"; do
    if command -v "$c" >/dev/null 2>&1 && usable_python "$c"; then command -v "$c"; return; fi
  done
  root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
  local pattern='^3\.(1[2-9]|[2-9][0-9])(\.[0-9]+)?$' order=(sort -V)
  if [ -n "$want" ]; then pattern="^${want//./\\.}(\\.[0-9]+)?\$"; order=(sort -rV); fi
  while read -r v; do
    c="$root/versions/$v/bin/python3"
    if [ -n "$v" ] && usable_python "$c"; then echo "$c"; return; fi
  done < <(ls "$root/versions" 2>/dev/null | grep -E "$pattern" | "${order[@]}")
  echo "no usable CPython ${want:->= 3.12} found: install one or set PYTHON" >&2
  return 2
}

# test_requirements PYTHON: the test extra of pyproject.toml, one requirement a line; the one list
# of what the suites install (PYTHON is any interpreter with tomllib, 3.11 or newer).
test_requirements() {
  "$1" -c 'import tomllib
with open("pyproject.toml", "rb") as f:
    print("\n".join(tomllib.load(f)["project"]["optional-dependencies"]["test"]))'
}
