#!/usr/bin/env bash
# ./dev.sh release: every wheel the project ships and the sdist into dist/, each checked, with
# dist/SHA256SUMS; a line per artifact, then a summary. Root (the chroot and the arm64 tree).
# The wheels are the Linux ones that tools/matrix.py marks "ship":
#   manylinux x86-64 (tools/wheels.sh: auditwheel and check_wheels.py)
#   manylinux aarch64 (tools/arm64.sh: the same checks)
#   musllinux x86-64 and aarch64 (tools/musl.sh: auditwheel under its musllinux policy, then on a
#   CPython built for musl the whole suite on x86-64 and the conformance tests under qemu on
#   aarch64, as the matrix says)
#   the sdist (python -m build --sdist)
# Then twine check --strict on all of them, the README rendered as the package page shows it,
# and every x86-64 wheel installed into a fresh venv of its interpreter and imported. Any miss
# fails the release. First run: about 15 minutes with the chroot, the arm64 tree and the
# free-threaded interpreter to build; later ones about 6.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
say() { echo "release: $*" >&2; }
mapfile -t x86 < <(matrix pythons --platform manylinux-x86_64 --wheel ship)
mapfile -t arm < <(matrix pythons --platform manylinux-aarch64 --wheel ship)
mapfile -t musl < <(matrix platforms --source musl --wheel ship | sed 's/^musllinux-//')
musl_python=$(matrix_python musl)
work=build/release
rm -rf dist "$work"
mkdir -p dist "$work"
SECONDS=0
need_root "./dev.sh release"
# A release is of a version that the CHANGELOG names and dates; its notes are not edited after.
version=$(sed -n 's/^version = "\(.*\)"$/\1/p' pyproject.toml)
top=$(grep -m1 -E '^## (Unreleased|[0-9])' CHANGELOG.md | sed 's/^## //')
if [[ "$version" == *dev* || "$top" != "$version - "* ]]; then
  say "pyproject.toml says $version and CHANGELOG.md's top section is '$top': give the release"
  say "its version in both (the section as '## X.Y.Z - YYYY-MM-DD'), then run this again"
  exit 2
fi

say "x86-64 wheels for ${x86[*]} (about 2 minutes)"
tools/wheels.sh "${x86[@]}"
say "aarch64 wheels for ${arm[*]} (about 1 minute)"
tools/arm64.sh wheels "${arm[@]}"
say "the musllinux ${musl[*]} wheels and their suites on musl (about 4 minutes; 15 more the first time)"
tools/musl.sh wheels "${musl[@]}"
for a in "${musl[@]}"; do
  tests=$(matrix rows --platform "musllinux-$a" | cut -d' ' -f5)
  logged "$work/log-musl-suite-$a" tools/musl.sh test "$a" -q \
    $([ "$tests" = conformance ] && echo "-m conformance")
done
for v in "${x86[@]}"; do cp "$(wheel_for "$v" x86_64)" dist/; done
for v in "${arm[@]}"; do cp "$(wheel_for "$v" aarch64)" dist/; done
for a in "${musl[@]}"; do cp "$(wheel_for "$musl_python" "$a" musllinux)" dist/; done

say "the sdist"
tools_venv=$work/venv-tools
logged "$work/log-tools" make_venv "$tools_venv" "$(find_python)" build twine "readme_renderer[md]"
logged "$work/log-sdist" "$tools_venv/bin/python" -m build --sdist --outdir dist .

say "twine check --strict, and the long description as the index renders it"
logged "$work/log-twine" "$tools_venv/bin/twine" check --strict dist/*
# twine maps text/markdown to no renderer: the README is rendered here with the index's own.
logged "$work/log-readme" "$tools_venv/bin/python" tools/check_readme.py README.md

# Installs a wheel into a fresh venv of its interpreter (the sid-chroot ones inside the chroot)
# and calls the module once.
import_check() {
  local v=$1 whl=$2 probe='import _accel; assert _accel.synth_cost_by_cx(0.5, 0, 0) == 1.0'
  case "$(matrix rows --python "$v" --platform manylinux-x86_64 | cut -d' ' -f3)" in
    sid-chroot)
      mkdir -p "$ACCEL_SID_ROOT/accel/$work"
      cp "$whl" "$ACCEL_SID_ROOT/accel/$work/"
      tools/sid-chroot.sh run bash -c "set -e; source tools/common.sh; rm -rf $work/venv-$v
        make_venv $work/venv-$v python$v --no-deps $work/$(basename "$whl")
        cd / && /accel/$work/venv-$v/bin/python -c '$probe'" ;;
    *)
      rm -rf "$work/venv-$v"
      make_venv "$work/venv-$v" "$(find_python "$v")" --no-deps "$whl"
      (cd / && "$OLDPWD/$work/venv-$v/bin/python" -c "$probe") ;;
  esac
}

for v in "${x86[@]}"; do
  whl=$(wheel_for "$v" x86_64 manylinux)
  logged "$work/log-import-$v" import_check "$v" "dist/$(basename "$whl")"
done

(cd dist && sha256sum -- * >SHA256SUMS)
for f in dist/*; do
  case "$f" in
    *musllinux*x86_64.whl) what="auditwheel, twine, the whole suite on musl" ;;
    *musllinux*aarch64.whl) what="auditwheel, twine, the conformance tests on musl under qemu" ;;
    *x86_64.whl) what="auditwheel, wheel checks, twine, installed and imported" ;;
    *.whl) what="auditwheel, wheel checks, twine" ;;
    *.tar.gz) what="twine" ;;
    *) what="checksums of the $(($(wc -l <"$f"))) artifacts" ;;
  esac
  echo "$f: $what"
done
say "$(($(ls dist | wc -l) - 1)) artifacts and SHA256SUMS in dist/, all checks passed, in ${SECONDS} s"
say "tag the release: git tag -a v$version -m 'weylgate-accel $version' && git push origin v$version"
