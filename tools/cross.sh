#!/usr/bin/env bash
# Compile-and-link checks of the module for platforms this machine cannot run: macOS (x86-64 and
# arm64, macOS 11 or newer), Windows (x86-64 and ARM64) and Linux with musl (x86-64 and
# aarch64), with zig's clang (pinned, from PyPI) through the project's own CMake and one
# toolchain file per target (tools/cross/). Warnings are errors. Each artifact is checked for its
# file format and architecture, for exporting PyInit__accel alone, and for importing only the C
# runtime and the Python C API.
#   tools/cross.sh            every target, one line each
#   tools/cross.sh TARGET     one (the cross platforms of tools/matrix.py: x86_64-macos,
#                             aarch64-windows, x86_64-linux-musl...)
# Python's headers are those of the matrix's cross interpreter X.Y, from the pythonX.Y source
# package that tools/freethreaded.sh fetches. Windows gets that package's own pyconfig.h (PC/)
# and an import library of pythonXY.dll made from the headers' declarations; macOS and musl get
# the pyconfig.h of this machine's CPython X.Y, a stand-in (docs/development.md says why). These
# builds are checks, never products: ./dev.sh release does not ship them.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
ZIG_VERSION=$(pinned ziglang)
mapfile -t TARGETS < <(matrix platforms --source cross)
v=$(matrix_python cross)
dll=python${v/./}.dll
work=build/cross
# zig, its cache of what it builds for each target (ZIG_GLOBAL_CACHE_DIR, tools/common.sh) and
# the headers live outside any clone, so that every clone reuses them.
cache=$ACCEL_CROSS_ROOT
say() { echo "cross: $*" >&2; }

# The venv with zig and lief (its checks read Mach-O, PE and ELF alike).
# The cross checks and the musl builds run side by side in CI: one makes it, the other waits.
tools_venv() {
  local venv=$cache/venv-zig-$ZIG_VERSION
  mkdir -p "$cache"
  (
    flock 9
    if ! "$venv/bin/python" -c "import lief, ziglang" 2>/dev/null ||
      [ "$("$venv/bin/python" -m ziglang version)" != "$ZIG_VERSION" ]; then
      say "installing ziglang==$ZIG_VERSION and lief into $venv"
      logged "$cache/log-venv" make_venv "$venv" "$(find_python)" "ziglang==$ZIG_VERSION" lief \
        cmake ninja
    fi
  ) 9>"$cache/venv.lock"
  echo "$venv"
}

# CPython X.Y's headers, with the two pyconfig.h; the import libraries of its DLL.
headers() {
  local dest=$cache/python$v tarball host
  [ ! -e "$dest/.ready" ] || return 0
  tarball=$(tools/freethreaded.sh source "$v")
  rm -rf "$dest" && mkdir -p "$dest/src"
  tar -xf "$tarball" -C "$dest/src" --strip-components=1 --wildcards '*/Include' '*/PC/pyconfig.h.in'
  host=$("$(find_python "$v")" -c 'import sysconfig; print(sysconfig.get_config_h_filename())')
  mkdir -p "$dest/posix" "$dest/windows"
  cp -r "$dest/src/Include/." "$dest/posix/" && cp "$host" "$dest/posix/pyconfig.h"
  cp -r "$dest/src/Include/." "$dest/windows/" && cp "$dest/src/PC/pyconfig.h.in" "$dest/windows/pyconfig.h"
  "$venv/bin/python" tools/cross_check.py def "$dest/windows" "$dll" "$dest/${dll%.dll}.def" >/dev/null
  mkdir -p "$dest/x86_64" "$dest/aarch64"
  "$venv/bin/python" -m ziglang dlltool -m i386:x86-64 -d "$dest/${dll%.dll}.def" \
    -l "$dest/x86_64/${dll%.dll}.lib"
  "$venv/bin/python" -m ziglang dlltool -m arm64 -d "$dest/${dll%.dll}.def" \
    -l "$dest/aarch64/${dll%.dll}.lib"
  touch "$dest/.ready"
}

# configure_and_build TARGET DIR CMAKE-OPTION...
configure_and_build() {
  local target=$1 dir=$2
  shift 2
  export ACCEL_ZIG_PYTHON=$venv/bin/python
  "$venv/bin/cmake" -S . -B "$dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
    -DCMAKE_TOOLCHAIN_FILE="tools/cross/$target.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DACCEL_CROSS_CHECK=ON -DACCEL_WERROR=ON "$@" &&
    "$venv/bin/cmake" --build "$dir"
}

build_one() {
  local target=$1 dir=$work/$1 system include artifact opts=()
  system=$(echo "$target" | cut -d- -f2)
  include=$cache/python$v/posix
  if [ "$system" = windows ]; then
    include=$cache/python$v/windows
    opts=(-DPython_LIBRARY="$cache/python$v/${target%%-*}/${dll%.dll}.lib")
  fi
  rm -rf "$dir"
  logged "$dir.log" configure_and_build "$target" "$dir" -DPython_INCLUDE_DIR="$include" \
    "${opts[@]}" || return 1
  artifact=$(find "$dir" -maxdepth 1 -name '_accel*' \( -name '*.so' -o -name '*.pyd' \) | head -1)
  [ -n "$artifact" ] || { say "$target: no module was built (see $dir.log)"; return 1; }
  # A function's status is tested by its caller, so errexit does not hold here: each step says.
  "$venv/bin/python" tools/cross_check.py check "$target" "$artifact" || return 1
  echo "$target: $(basename "$artifact") built and checked ($(wc -c <"$artifact") bytes)"
}

mkdir -p "$work"
if [ "${1:-}" = venv ]; then  # for tools/musl.sh, which builds its wheels with the same zig
  tools_venv
  exit
fi
if [ $# -gt 1 ] || { [ $# = 1 ] && [[ ! " ${TARGETS[*]} " =~ " $1 " ]]; }; then
  echo "usage: tools/cross.sh [${TARGETS[*]// /|}]" >&2
  exit 2
fi
venv=$(tools_venv)
headers
status=0
for target in "${@:-${TARGETS[@]}}"; do
  (build_one "$target") || status=1
done
exit "$status"
