#!/usr/bin/env bash
# Wine 10 (Debian 13) beside the host's wine 8, in a chroot kept under build/.
#   scripts/wine10.sh prepare        make the chroot unless a complete one is there
#   scripts/wine10.sh run CMD...     run CMD in it, from this checkout's folder
# Wine 10 names the owner of each listener, deletes with POSIX semantics and
# has the WOW64 reads of a 64-bit process: the suite runs under both so each
# path runs against the emulator that has it.
#
# "run" works in a mount namespace of its own: proc, dev (with dev/pts), sys
# and the checkout (at the same path, so build trees and ctest files work
# unchanged) are mounted only there and vanish with its last process,
# whatever ends the run. Nothing stays mounted under build/, so `rm -rf
# build` stays safe. The command sees the host's STARTER_* settings only.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$PWD
root=${STARTER_WINE10_ROOT:-$checkout/build/wine10-root}
log=${root}.log
# Written last, naming the packages: a chroot without it is an interrupted
# build, and one made with other packages is out of date; both are made anew.
ready=$root/.starter-ready
# What the tests call inside it besides wine: ctest, chattr, mount, ip, and
# the validator of the status program's JSON.
packages=(wine wine32:i386 wine64 cmake e2fsprogs mount iproute2 procps python3-jsonschema)

mirror() {
  # The Debian archive this machine already uses.
  local uri
  uri=$(grep -hoE '^(URIs:|deb) +https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list /etc/apt/sources.list.d/* \
          2>/dev/null | grep -oE 'https?://[^ ]+' | head -1)
  echo "${uri:-http://deb.debian.org/debian}"
}

prepare() {
  [ -f "$ready" ] && [ "$(cat "$ready")" = "${packages[*]}" ] && return 0
  echo "wine10: making the Debian 13 chroot in $root (log: $log)" >&2
  local building=$root.building
  rm -rf "$building"
  mkdir -p "$building"
  # debootstrap splits its target's path at spaces: it is given a link to the
  # folder, at a path without any.
  local target
  target=$(mktemp -u /tmp/wine10-building.XXXXXX)
  ln -s "$building" "$target"
  # debootstrap and apt mount proc and sys in the target for a while: a private
  # mount namespace takes those mounts away even if the build is killed.
  if ! unshare -m --propagation private bash -euo pipefail -c '
      building=$1 mirror=$2; shift 2
      debootstrap --variant=minbase trixie "$building" "$mirror"
      mount -t proc proc "$building/proc"
      mount --rbind /dev "$building/dev"
      cp /etc/resolv.conf "$building/etc/resolv.conf"
      chroot "$building" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
        bash -euo pipefail -c "dpkg --add-architecture i386 && apt-get update -qq &&
          apt-get install -y -qq --no-install-recommends $* </dev/null && apt-get clean"
    ' prepare "$target" "$(mirror)" "${packages[@]}" >"$log" 2>&1; then
    echo "wine10: making the chroot failed; the last lines of $log:" >&2
    tail -n 30 "$log" >&2
    rm -rf "$building" "$target"
    return 1
  fi
  rm "$target"
  rm -rf "$root"
  mv "$building" "$root"
  echo "${packages[*]}" >"$ready"
  echo "wine10: chroot ready (wine $(chroot "$root" dpkg-query -W -f '${Version}' wine))" >&2
}

run() {
  [ -f "$ready" ] || { echo "wine10: no chroot at $root: run 'scripts/wine10.sh prepare' first" >&2; return 2; }
  unshare -m --propagation private bash -euo pipefail -c '
    root=$1 checkout=$2; shift 2
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t sysfs sysfs "$root/sys"
    # The wine server keeps its socket under /tmp: each run has a /tmp of
    # its own, gone with it. It is mounted before the checkout, so a
    # checkout under /tmp is bound onto this fresh /tmp instead of hidden
    # beneath it.
    mount -t tmpfs tmpfs "$root/tmp"
    mkdir -p "$root$checkout"
    mount --bind "$checkout" "$root$checkout"
    # ctest files made by the host'"'"'s cmake name its modules (the test
    # discovery) by their host paths.
    for modules in /usr/share/cmake-*; do
      mkdir -p "$root$modules"
      mount --bind -o ro "$modules" "$root$modules"
    done
    # The host'"'"'s environment stays outside but for the project'"'"'s settings.
    settings=()
    while IFS= read -r -d "" entry; do
      if [[ $entry == STARTER_* ]]; then settings+=("$entry"); fi
    done < <(env -0)
    exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
      "${settings[@]}" bash -c "cd \"\$0\" && exec \"\$@\"" "$checkout" "$@"
  ' run "$root" "$checkout" "$@"
}

case ${1:-} in
  prepare) prepare ;;
  run) shift; run "$@" ;;
  *) echo "usage: $0 prepare | run COMMAND..." >&2; exit 2 ;;
esac
