#!/usr/bin/env bash
# The free-threaded CPython of tools/matrix.py (X.Yt), built from Debian's pythonX.Y source
# package and kept outside any clone, as the chroots are.
#   tools/freethreaded.sh ensure [tsan]  build the interpreter if missing (4 to 7 minutes on 2
#                                        cores; with tsan, a second one configured
#                                        --with-thread-sanitizer: 8 to 20 minutes)
#   tools/freethreaded.sh path [tsan]    print the interpreter's path (fails if it is not built)
#   tools/freethreaded.sh source [X.Y]   print the path of the pythonX.Y source tarball (fetched
#                                        once; by default this interpreter's; tools/musl.sh
#                                        builds from it, tools/cross.sh reads its headers)
#   tools/freethreaded.sh venv [tsan]    print a venv of it, kept beside it, with what the threaded
#                                        tests need (NumPy, pytest, Hypothesis); made once (pip
#                                        under ThreadSanitizer takes minutes)
# Only the upstream tarball of the source package is used (Debian's patches assume Debian's
# layout). It comes from forky or, failing that, trixie: Debian's package lists name sid's
# sources of newer versions, but serves none of their files.
# ACCEL_FT_ROOT (tools/common.sh) is where they live.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
root=$ACCEL_FT_ROOT
suites=(forky trixie)
ft=$(matrix_python freethreaded)
say() { echo "freethreaded: $*" >&2; }

prefix() { if [ "${1:-}" = tsan ]; then echo "$root/$ft-tsan"; else echo "$root/$ft"; fi; }

mirror() {
  local m
  m=$(grep -rhvE '^[[:space:]]*#' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null |
    grep -oE 'https?://[^ ]*/debian/?' | grep -v security | head -1) || true
  echo "${m:-http://deb.debian.org/debian}"
}

# fetch X.Y: downloads that source package into $root/src with an apt state of its own; prints
# the tarball.
fetch() {
  local v=$1 state=$root/apt suite tarball
  # CI's streams may ask at once (the cross checks read its headers): one fetches, the other waits.
  mkdir -p "$root"
  exec 8>"$root/fetch.lock"
  flock 8
  tarball=$(ls "$root"/src/python"$v"_*.orig.tar.xz 2>/dev/null | head -1) || true
  if [ -n "$tarball" ]; then echo "$tarball"; return; fi
  mkdir -p "$state/lists/partial" "$root/src"
  for suite in "${suites[@]}"; do
    say "fetching the python$v source package from Debian $suite"
    echo "deb-src $(mirror) $suite main" >"$state/sources.list"
    local opts=(-o "Dir::Etc::SourceList=$state/sources.list" -o Dir::Etc::SourceParts=/nonexistent
      -o "Dir::State::Lists=$state/lists" -o Acquire::Check-Valid-Until=false)
    if apt-get "${opts[@]}" update -qq >/dev/null 2>&1 &&
      (cd "$root/src" && apt-get "${opts[@]}" source --download-only -qq "python$v" >/dev/null 2>&1); then
      ls "$root"/src/python"$v"_*.orig.tar.xz | head -1
      return
    fi
    say "Debian $suite did not serve it"
  done
  say "no python$v source package could be fetched"
  return 1
}

# CPython's test modules stay: the suite makes legacy subinterpreters with _testcapi.
ensure() {
  local kind=${1:-} dest build tarball log flags=(--disable-gil --without-ensurepip)
  dest=$(prefix "$kind")
  if [ -x "$dest/bin/python$ft" ]; then return; fi
  [ "$kind" != tsan ] || flags+=(--with-thread-sanitizer)
  tarball=$(fetch "${ft%t}")
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
  "$dest/bin/python$ft" -c 'import sys; sys.exit(sys._is_gil_enabled())'
  rm -rf "$build"
  say "built in $((SECONDS - start)) s: $dest/bin/python$ft"
}

venv() {
  local kind=${1:-} dir py
  ensure "$kind"
  dir=$(prefix "$kind")-venv
  py=$(prefix "$kind")/bin/python$ft
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
  source) fetch "${1:-${ft%t}}" ;;
  venv) venv "$@" ;;
  path)
    p=$(prefix "${1:-}")/bin/python$ft
    [ -x "$p" ] || { say "not built: run tools/freethreaded.sh ensure ${1:-}"; exit 2; }
    echo "$p" ;;
  *) echo "usage: tools/freethreaded.sh ensure|path|venv [tsan] | source [X.Y]" >&2; exit 2 ;;
esac
