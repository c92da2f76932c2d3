#!/usr/bin/env bash
# The CPythons that tools/matrix.py takes from Debian sid (which needs a newer glibc than Debian
# 12): this keeps a sid chroot with them and runs commands in it, as root.
#   tools/sid-chroot.sh ensure          create the chroot if missing; copy DNS, pip and CA
#                                       settings in
#   tools/sid-chroot.sh copy            copy this working tree (tracked and untracked files that
#                                       git does not ignore) to /accel inside, keeping the build
#                                       trees and venvs made there
#   tools/sid-chroot.sh run CMD...      run CMD in /accel inside the chroot, with /proc mounted
#                                       for the command's time only
# ACCEL_SID_ROOT (tools/common.sh) is where it lives, outside any clone.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
root=$ACCEL_SID_ROOT
# The matrix's sid-chroot interpreters: X.Y as pythonX.Y-dev and -venv, a debug X.Yd as
# pythonX.Y-dbg.
pythons=() packages=(gcc g++ cmake ninja-build ca-certificates binutils valgrind ccache)
while read -r v; do
  case "$v" in
    *d) pythons+=("python${v%d}d") packages+=("python${v%d}-dbg") ;;
    *) pythons+=("python$v") packages+=("python$v-dev" "python$v-venv") ;;
  esac
done < <(matrix pythons --source sid-chroot)
say() { echo "sid-chroot: $*" >&2; }

ensure() {
  [ "$(id -u)" = 0 ] || { say "needs root (debootstrap, chroot)"; exit 2; }
  local p missing=0
  for p in "${pythons[@]}"; do [ -x "$root/usr/bin/$p" ] || missing=1; done
  if [ "$missing" = 1 ]; then
    command -v debootstrap >/dev/null 2>&1 || {
      say "installing debootstrap"
      apt_install debootstrap
    }
    say "creating a Debian sid chroot in $root (about 2-3 minutes)"
    remove_tree "$root"
    mkdir -p "$(dirname "$root")"
    local list
    list=$(IFS=,; echo "${packages[*]}")
    debootstrap --variant=minbase --include="$list" sid "$root" >/dev/null
  fi
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  if [ -f /etc/pip.conf ]; then cp /etc/pip.conf "$root/etc/pip.conf"; fi
  # pip inside uses the same CA bundle as the host (which may carry a local proxy's root)
  local ca=${SSL_CERT_FILE:-/etc/ssl/certs/ca-certificates.crt}
  if [ -f "$ca" ]; then cp "$ca" "$root/etc/ssl/certs/ca-certificates.crt"; fi
  # Packages added to the list since the tree was made are installed into it.
  local installed absent=()
  installed=$(chroot "$root" dpkg-query -W -f='${Package} ${db:Status-Status}\n' 2>/dev/null)
  for p in "${packages[@]}"; do
    grep -qxF "$p installed" <<<"$installed" || absent+=("$p")
  done
  if [ ${#absent[@]} -gt 0 ]; then
    say "installing ${absent[*]} into the chroot"
    # sid's mirror may serve a Release file past its Valid-Until date.
    run sh -c "apt-get -o Acquire::Check-Valid-Until=false update -qq &&
      apt-get install -y -qq --no-install-recommends ${absent[*]} >/dev/null"
  fi
}

# A copy of the same files is left alone: a command may be running in it (CI's legs in the
# chroot run side by side, and the wheel builder copies again).
copy() {
  local stamp
  stamp=$(git ls-files -z --cached --others --exclude-standard | xargs -0 sha256sum | sha256sum)
  if [ "$(cat "$root/accel/.accel-copy" 2>/dev/null)" = "$stamp" ]; then
    say "the working tree is in $root/accel already"
    return
  fi
  say "copying the working tree to $root/accel (its build/ and .venv-* stay)"
  mkdir -p "$root/accel"
  find "$root/accel" -mindepth 1 -maxdepth 1 ! -name build ! -name '.venv-*' -exec rm -rf {} +
  git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - |
    tar -xf - -C "$root/accel"
  echo "$stamp" >"$root/accel/.accel-copy"
}

# hold / release: /proc stays mounted in the tree from one to the other, so that `run`s side by
# side neither mount nor unmount it under each other (CI holds it for its whole run).
hold() { mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"; }
release() { ! mountpoint -q "$root/proc" || umount "$root/proc" || umount -l "$root/proc"; }

run() {
  local mounted=0 status=0
  if ! mountpoint -q "$root/proc"; then
    mount -t proc proc "$root/proc"
    mounted=1
  fi
  # The host's constraints file is not inside: the tools there name the chroot's own copy.
  chroot "$root" /usr/bin/env -u PIP_CONSTRAINT -C /accel "$@" || status=$?
  if [ "$mounted" = 1 ]; then umount "$root/proc" || umount -l "$root/proc"; fi
  return "$status"
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  ensure) ensure ;;
  copy) copy ;;
  run) run "$@" ;;
  hold) hold ;;
  release) release ;;
  *) echo "usage: tools/sid-chroot.sh ensure|copy|hold|release|run CMD..." >&2; exit 2 ;;
esac
