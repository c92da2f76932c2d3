#!/usr/bin/env bash
# Builds, installs and runs the module on a CPython >= 3.12 that it finds itself.
#   ./dev.sh demo                 build, install into a venv and run the demo
#   ./dev.sh test [ARGS]          build, install into a venv and run the test suite (ARGS go to
#                                 pytest)
#   ./dev.sh bench [ARGS]         build, install into a venv and run the benchmark
#   ./dev.sh overhead             the same for its instruction counts over the floor only
#   ./dev.sh fuzz SECONDS         the coverage-guided fuzzer (fuzz/harness.py) on its instrumented
#                                 build: replays fuzz/corpus, then fuzzes that long on one core;
#                                 fails with a reproducer's path on any finding. With
#                                 ACCEL_FUZZ_RUNS=N it stops after N inputs instead (from seed
#                                 ACCEL_FUZZ_SEED, default 1: the same inputs every time), SECONDS
#                                 then only bounding it
#   ./dev.sh fuzz 0 FILE          replays one input, with everything it writes shown
#   ./dev.sh wheels [X.Y...]      manylinux x86-64 wheels into wheelhouse/ (default: 3.12, 3.13,
#                                 3.13t, 3.14, 3.15, and the musllinux wheels of tools/musl.sh
#                                 for x86-64 and aarch64; root, for the sid chroot and the musl
#                                 interpreter)
#   ./dev.sh arm64 wheels|test    manylinux aarch64 wheels, and their suites under emulation
#                                 (root; see tools/arm64.sh)
#   ./dev.sh release              every wheel and the sdist into dist/, checked, with SHA256SUMS
#                                 (root; see tools/release.sh)
#   ./dev.sh cross [TARGET]       compile-and-link checks for macOS, Windows and musl with zig,
#                                 one line per target (see tools/cross.sh); never shipped
#   ./dev.sh update-pins          moves tools/constraints.txt's pins to the newest versions on
#                                 the package index (see tools/update_pins.py)
# A re-run with no change to src/, stubs/, CMakeLists.txt or pyproject.toml (and the same
# options) skips the build and the installs.
# PYTHON picks the interpreter: a path, a command or a version (3.13t: the free-threaded build of
# tools/freethreaded.sh); ACCEL_WERROR=ON, ACCEL_SANITIZE=ON, ACCEL_TSAN=ON (with the
# ThreadSanitizer interpreter), ACCEL_FAULT_INJECTION=ON and ACCEL_COVERAGE=ON (test builds only)
# pass through to the build;
# NUMPY_SPEC (default "numpy") picks the NumPy to test against.
set -euo pipefail
cd "$(dirname "$0")"
source tools/common.sh

usage() {
  {
    echo "usage: ./dev.sh demo | test [pytest args] | bench [args] | overhead [args]"
    echo "       | fuzz SECONDS [FILE] | wheels [X.Y...]"
    echo "       | arm64 ensure|wheels|test [X.Y...] | arm64 differential PYTHON"
    echo "       | release | cross [TARGET] | update-pins"
    echo "(the comment at the top of dev.sh says what each does)"
  } >&"${1:-2}"
  exit "${2:-2}"
}
say() { echo "dev.sh: $*" >&2; }

case "${1:-}" in
  wheels)
    shift
    need_root "./dev.sh wheels"
    tools/wheels.sh "$@"
    # Without versions, the musllinux wheels of tools/matrix.py too.
    [ $# -gt 0 ] || tools/musl.sh wheels
    exit ;;
  arm64) shift; need_root "./dev.sh arm64"; exec tools/arm64.sh "$@" ;;
  release)
    [ $# = 1 ] || { say "release takes no arguments (given: ${*:2})"; usage; }
    exec tools/release.sh ;;
  cross) shift; exec tools/cross.sh "$@" ;;
  update-pins) exec "$(find_python)" tools/update_pins.py ;;
  -h | --help | help) usage 1 0 ;;
  demo)
    [ $# = 1 ] || { say "demo takes no arguments (given: ${*:2})"; usage; } ;;
  test | bench | overhead) ;;
  fuzz)
    # The instrumented build: clang (Debian's clang-19 unless CXX names another) with ASan,
    # UBSan and libFuzzer's coverage, fault injection on, for a CPython that atheris has wheels
    # for.
    [[ "${2:-}" =~ ^[0-9]+$ ]] || usage
    export CXX=${CXX:-clang++-19} ACCEL_FUZZ=ON ACCEL_FAULT_INJECTION=ON PYTHON=${PYTHON:-3.12}
    if ! command -v "$CXX" >/dev/null || [ ! -e "$("$CXX" -print-file-name=libclang_rt.asan-x86_64.so)" ]; then
      say "installing clang-19 and its sanitizer runtimes (Debian packages; about 1 minute)"
      apt_install clang-19 libclang-rt-19-dev
    fi ;;
  "") usage ;;
  *) say "unknown command '$1'"; usage ;;
esac

py=$(find_python)
tag=$(python_tag "$py")
variant=""  # instrumented builds and debug interpreters get their own venv and build tree
"$py" -c 'import sys, sysconfig; sys.exit(0 if sysconfig.get_config_var("Py_DEBUG") else 1)' &&
  variant="$variant-dbg"
[ "${ACCEL_SANITIZE:-OFF}" = ON ] && variant="$variant-san"
[ "${ACCEL_TSAN:-OFF}" = ON ] && variant="$variant-tsan"
[ "${ACCEL_FUZZ:-OFF}" = ON ] && variant="$variant-fuzz"
[ "${ACCEL_FAULT_INJECTION:-OFF}" = ON ] && variant="$variant-inject"
[ "${ACCEL_COVERAGE:-OFF}" = ON ] && variant="$variant-cov"
venv=".venv-$tag$variant"
# Everything it installs is pinned for its interpreter (tools/constraints.txt); NUMPY_SPEC pins
# NumPy itself when it names a version.
except=""
[[ "${NUMPY_SPEC:-}" == *==* ]] && except=numpy
PIP_CONSTRAINT=$(constraints_for "$tag" $except)
export PIP_CONSTRAINT
vpy="$venv/bin/python"
export ACCEL_WERROR="${ACCEL_WERROR:-OFF}" ACCEL_SANITIZE="${ACCEL_SANITIZE:-OFF}" ACCEL_TSAN="${ACCEL_TSAN:-OFF}"
export ACCEL_FAULT_INJECTION="${ACCEL_FAULT_INJECTION:-OFF}" ACCEL_COVERAGE="${ACCEL_COVERAGE:-OFF}"
export ACCEL_FUZZ="${ACCEL_FUZZ:-OFF}"

# What the installed module was built from: the interpreter, the options and the contents of
# everything the build reads.
fingerprint() {
  {
    echo "$py $ACCEL_WERROR $ACCEL_SANITIZE $ACCEL_TSAN $ACCEL_FAULT_INJECTION $ACCEL_COVERAGE"
    echo "$ACCEL_FUZZ ${CXX:-}"
    find src stubs CMakeLists.txt pyproject.toml -type f ! -path '*/__pycache__/*' -print0 |
      sort -z | xargs -0 sha256sum
  } | sha256sum | cut -d' ' -f1
}

# Fills the venv with NumPy, the given packages and a build of the module; what it already
# holds is not installed again.
prepare() {
  local installed="$venv/.accel-packages" built="$venv/.accel-build" missing=() spec want
  if [ ! -x "$vpy" ]; then
    say "creating the virtual environment $venv with $py"
    make_venv "$venv" "$py" --upgrade pip >/dev/null
  fi
  for spec in "${NUMPY_SPEC:-numpy}" "$@"; do
    grep -qxF -- "$spec" "$installed" 2>/dev/null || missing+=("$spec")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]} into $venv"
    # Wheels only: the newest Hypothesis has no wheel for every interpreter and needs Rust to build.
    progress "installing" "$vpy" -m pip install -q --disable-pip-version-check --only-binary=:all: \
      "${missing[@]}"
    printf '%s\n' "${missing[@]}" >>"$installed"
  fi
  want=$(fingerprint)
  if [ "$(cat "$built" 2>/dev/null)" = "$want" ]; then
    say "_accel in $venv is up to date with the sources"
    return
  fi
  rm -f "$built"
  say "building and installing _accel (build tree build/py$tag$variant; about 30 s)"
  progress "building" "$vpy" -m pip install -q --disable-pip-version-check --force-reinstall \
    --no-deps -Cbuild-dir="build/py$tag$variant" .
  echo "$want" >"$built"
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  demo)
    prepare
    say "running examples/demo.py"
    exec "$vpy" examples/demo.py ;;
  test)
    mapfile -t requirements < <(test_requirements "$py")
    prepare "${requirements[@]}"
    if [ "$ACCEL_SANITIZE" = ON ]; then
      # The interpreter is not instrumented: preload the runtimes and let malloc see every
      # Python allocation.
      LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
      export LD_PRELOAD PYTHONMALLOC=malloc
      export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}"
      export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
    fi
    say "running the test suite"
    exec "$vpy" -m pytest "$@" ;;
  bench)
    prepare nanobind cmake ninja
    export PATH="$PWD/$venv/bin:$PATH"  # the venv's cmake builds the nanobind twin
    say "running bench/run.py"
    exec "$vpy" bench/run.py "$@" ;;
  overhead)
    prepare cmake ninja
    export PATH="$PWD/$venv/bin:$PATH"  # the venv's cmake builds the floor module
    say "running bench/overhead.py"
    exec "$vpy" bench/overhead.py "$@" ;;
  fuzz)
    seconds=$1
    mapfile -t requirements < <(test_requirements "$py")
    prepare atheris==3.1.0 "${requirements[@]}"
    work=build/fuzz
    mkdir -p "$work/corpus"
    # libFuzzer from the compiler's own runtime as a shared library, preloaded ahead of the
    # sanitizer runtime: the module's coverage counters register with it when the module loads
    # (the sanitizer runtime's no-op defaults would otherwise take them), and atheris uses it.
    asan=$("$CXX" -print-file-name=libclang_rt.asan-x86_64.so)
    libfuzzer=$work/libfuzzer-$(basename "$CXX").so
    if [ ! -e "$libfuzzer" ]; then
      "$CXX" -shared -o "$libfuzzer" -Wl,--whole-archive \
        "$(dirname "$asan")/libclang_rt.fuzzer_no_main-x86_64.a" -Wl,--no-whole-archive -lpthread
    fi
    # Python is not instrumented: the runtimes are preloaded, malloc sees every allocation, and
    # the module's fault reports stay out of libFuzzer's log (-close_fd_mask=2); the harness
    # writes its own findings to $ACCEL_FUZZ_LOG.
    export LD_PRELOAD="$PWD/$libfuzzer $asan" PYTHONMALLOC=malloc
    export ASAN_OPTIONS="detect_leaks=0:verify_asan_link_order=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export ACCEL_FUZZ_LOG=$PWD/$work/findings.log
    rm -f "$ACCEL_FUZZ_LOG"
    if [ "$seconds" = 0 ]; then
      [ $# -ge 2 ] || usage
      say "replaying $2"
      exec "$vpy" fuzz/harness.py "$2"
    fi
    rm -f "$work"/crash-* "$work"/timeout-* "$work"/oom-*
    budget="$seconds s"
    limits=(-max_total_time="$seconds")
    if [ -n "${ACCEL_FUZZ_RUNS:-}" ]; then
      budget="$ACCEL_FUZZ_RUNS inputs from seed ${ACCEL_FUZZ_SEED:-1} (at most $seconds s)"
      limits+=(-runs="$ACCEL_FUZZ_RUNS" -seed="${ACCEL_FUZZ_SEED:-1}")
    fi
    say "replaying fuzz/corpus ($(ls fuzz/corpus | wc -l) inputs), then fuzzing $budget on one core"
    status=0
    # One input that runs 20 s is a hang; ACCEL_TIMEOUT_FACTOR scales that on a loaded machine.
    "$vpy" fuzz/harness.py "${limits[@]}" -timeout=$((20 * ${ACCEL_TIMEOUT_FACTOR:-1})) \
      -rss_limit_mb=4096 -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$work/" \
      "$work/corpus" fuzz/corpus 2>"$work/libfuzzer.log" || status=$?
    grep -E "INITED|DONE" "$work/libfuzzer.log" | sed 's/^/  libFuzzer: /' >&2 || true
    if [ "$status" != 0 ]; then
      tail -n 30 "$work/libfuzzer.log" >&2
      [ ! -s "$ACCEL_FUZZ_LOG" ] || { say "the harness found:"; cat "$ACCEL_FUZZ_LOG" >&2; }
      reproducer=$(ls -t "$work"/crash-* "$work"/timeout-* "$work"/oom-* 2>/dev/null | head -1) ||
        true
      say "FINDING: reproduce with ./dev.sh fuzz 0 ${reproducer:-<see $work/libfuzzer.log>}"
      exit 1
    fi
    say "no finding in $budget; new inputs are in $work/corpus (fuzz/corpus is not changed)" ;;
esac
