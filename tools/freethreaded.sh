#!/usr/bin/env bash
# Free-threaded CPython 3.13 (3.13t), built from Debian's python3.13 source package and kept
# outside any clone, as the chroots are.
#   tools/freethreaded.sh ensure [tsan]  build the interpreter if missing (4 to 7 minutes on 2
#                                        cores; with tsan, a second one configured
#                                        --with-thread-sanitizer: 8 to 20 minutes)
#   tools/freethreaded.sh path [tsan]    print the interpreter's path (fails if it is not built)
#   tools/freethreaded.sh source         print the path of the python3.13 source tarball (fetched
#                                        once; tools/cross.sh reads its headers)
#   tools/freethreaded.sh venv [tsan]    print a venv of it, kept beside it, with what the threaded
#                                        tests need (NumPy, pytest, Hypothesis); made once (pip
#                                        under ThreadSanitizer takes minutes)
# Only the upstream tarball of the source package is used (Debian's patches assume Debian's
# layout). It comes from forky or, failing that, trixie: Debian serves no source package of
# sid's 3.13 or of 3.14 and 3.15.
# ACCEL_FT_ROOT (tools/common.sh) is where they live.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
root=$ACCEL_FT_ROOT
suites=(forky trixie)
say() { echo "freethreaded: $*" >&2; }

prefix() { if [ "${1:-}" = tsan ]; then echo "$root/3.13t-tsan"; else echo "$root/3.13t"; fi; }

mirror() {
  local m
  m=$(grep -rhvE '^[[:space:]]*#' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null |
    grep -oE 'https?://[^ ]*/debian/?' | grep -v security | head -1) || true
  echo "${m:-http://deb.debian.org/debian}"
}

# Downloads the source package into $root/src with an apt state of its own; prints the tarball.
fetch() {
  local state=$root/apt suite tarball
  # CI's streams may ask at once (the cross checks read its headers): one fetches, the other waits.
  mkdir -p "$root"
  exec 8>"$root/fetch.lock"
  flock 8
  tarball=$(ls "$root"/src/python3.13_*.orig.tar.xz 2>/dev/null | head -1) || true
  if [ -n "$tarball" ]; then echo "$tarball"; return; fi
  mkdir -p "$state/lists/partial" "$root/src"
  for suite in "${suites[@]}"; do
    say "fetching the python3.13 source package from Debian $suite"
    echo "deb-src $(mirror) $suite main" >"$state/sources.list"
    local opts=(-o "Dir::Etc::SourceList=$state/sources.list" -o Dir::Etc::SourceParts=/nonexistent
      -o "Dir::State::Lists=$state/lists" -o Acquire::Check-Valid-Until=false)
    if apt-get "${opts[@]}" update -qq >/dev/null 2>&1 &&
      (cd "$root/src" && apt-get "${opts[@]}" source --download-only -qq python3.13 >/dev/null 2>&1); then
      ls "$root"/src/python3.13_*.orig.tar.xz | head -1
      return
    fi
    say "Debian $suite did not serve it"
  done
  say "no python3.13 source package could be fetched"
  return 1
}

# CPython's test modules stay: the suite makes legacy subinterpreters with _testcapi.
ensure() {
  local kind=${1:-} dest build tarball log flags=(--disable-gil --without-ensurepip)
  dest=$(prefix "$kind")
  if [ -x "$dest/bin/python3.13t" ]; then return; fi
  [ "$kind" != tsan ] || flags+=(--with-thread-sanitizer)
  tarball=$(fetch)
  build=$root/build-${kind:-plain}
  log=$root/build-${kind:-plain}.log
  rm -rf "$build" "$dest"
  mkdir -p "$build"
  tar -xf "$tarball" -C "$build" --strip-components=1
  say "building CPython $(basename "$tarball" | sed 's/.*_\(.*\)\.orig.*/\1/') ${flags[*]} into $dest"
  say "  ($([ "$kind" = tsan ] && echo 8 to 20 || echo 4 to 7) minutes on 2 cores; output in $log)"
  local start=$SECONDS
  logged "$log" make_cpython "$build" --prefix="$dest" "${flags[@]}"
  # Its venvs get pip from the ensurepip wheel that the tarball bundles.
  "$dest/bin/python3.13t" -c 'import sys; sys.exit(sys._is_gil_enabled())'
  rm -rf "$build"
  say "built in $((SECONDS - start)) s: $dest/bin/python3.13t"
}

venv() {
  local kind=${1:-} dir py
  ensure "$kind"
  dir=$(prefix "$kind")-venv
  py=$(prefix "$kind")/bin/python3.13t
  if [ ! -e "$dir/.accel-ready" ]; then
    say "creating $dir (once; several minutes under ThreadSanitizer)"
    rm -rf "$dir"
    if ! TSAN_OPTIONS="exitcode=0 report_bugs=0" make_venv "$dir" "$py" --only-binary=:all: numpy \
      pytest 'hypothesis>=6.100' >"$dir.log" 2>&1; then
      tail -n 20 "$dir.log" >&2
      return 1
    fi
    touch "$dir/.accel-ready"
  fi
  echo "$dir"
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  ensure) ensure "$@" ;;
  source) fetch ;;
  venv) venv "$@" ;;
  path)
    p=$(prefix "${1:-}")/bin/python3.13t
    [ -x "$p" ] || { say "not built: run tools/freethreaded.sh ensure ${1:-}"; exit 2; }
    echo "$p" ;;
  *) echo "usage: tools/freethreaded.sh ensure|path|venv [tsan] | source" >&2; exit 2 ;;
esac
