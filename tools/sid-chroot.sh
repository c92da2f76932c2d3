#!/usr/bin/env bash
# CPython 3.14 and 3.15 (and the 3.14 debug build) come from Debian sid, which needs a newer
# glibc than Debian 12: this keeps a sid chroot with them and runs commands in it, as root.
#   tools/sid-chroot.sh ensure          create the chroot if missing; mount /proc, copy DNS,
#                                       pip and CA settings in
#   tools/sid-chroot.sh sync            copy this working tree (tracked files) to /accel inside,
#                                       keeping the build trees and venvs made there
#   tools/sid-chroot.sh run CMD...      run CMD in /accel inside the chroot
# ACCEL_SID_ROOT (default /var/cache/accel-sid/root) is where it lives, outside any clone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=${ACCEL_SID_ROOT:-/var/cache/accel-sid/root}
packages=python3.14-dev,python3.14-venv,python3.15-dev,python3.15-venv,python3.14-dbg
packages=$packages,gcc,g++,cmake,ninja-build,ca-certificates,binutils,valgrind
say() { echo "sid-chroot: $*" >&2; }

ensure() {
  [ "$(id -u)" = 0 ] || { say "needs root (debootstrap, chroot)"; exit 2; }
  if [ ! -x "$root/usr/bin/python3.15" ] || [ ! -x "$root/usr/bin/python3.14d" ]; then
    command -v debootstrap >/dev/null 2>&1 || {
      say "installing debootstrap"
      apt-get update -qq && apt-get install -y -qq debootstrap >/dev/null
    }
    say "creating a Debian sid chroot in $root (about 2-3 minutes)"
    rm -rf "$root"
    mkdir -p "$(dirname "$root")"
    debootstrap --variant=minbase --include="$packages" sid "$root" >/dev/null
  fi
  mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  if [ -f /etc/pip.conf ]; then cp /etc/pip.conf "$root/etc/pip.conf"; fi
  # pip inside uses the same CA bundle as the host (which may carry a local proxy's root)
  local ca=${SSL_CERT_FILE:-/etc/ssl/certs/ca-certificates.crt}
  if [ -f "$ca" ]; then cp "$ca" "$root/etc/ssl/certs/ca-certificates.crt"; fi
}

sync() {
  say "copying the working tree to $root/accel (its build/ and .venv-* stay)"
  mkdir -p "$root/accel"
  find "$root/accel" -mindepth 1 -maxdepth 1 ! -name build ! -name '.venv-*' -exec rm -rf {} +
  git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$root/accel"
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  ensure) ensure ;;
  sync) sync ;;
  run) exec chroot "$root" /usr/bin/env -C /accel "$@" ;;
  *) echo "usage: tools/sid-chroot.sh ensure|sync|run CMD..." >&2; exit 2 ;;
esac
