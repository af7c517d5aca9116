#!/usr/bin/env bash
# scripts/wine10.sh run from a checkout under /tmp, in a folder whose name
# has a space: the command must start in that checkout and read its files
# there. The chroot's /tmp is a fresh one for each run, which would hide a
# checkout under /tmp if it were mounted after the checkout.
#   scripts/check_wine10_location.sh   (after scripts/wine10.sh prepare)
set -euo pipefail
cd "$(dirname "$0")/.."
root=${STARTER_WINE10_ROOT:-$PWD/build/wine10-root}
folder=$(mktemp -d "/tmp/wine10 location.XXXXXX")
trap 'rm -rf "$folder"' EXIT
checkout="$folder/a checkout"
mkdir -p "$checkout/scripts"
cp scripts/wine10.sh "$checkout/scripts/"
echo "read in the checkout" >"$checkout/probe"

seen=$(STARTER_WINE10_ROOT=$root "$checkout/scripts/wine10.sh" run bash -c 'pwd; cat probe')
expected=$(printf '%s\n%s' "$checkout" "read in the checkout")
if [ "$seen" != "$expected" ]; then
  printf 'wine10 location check: a checkout at %s gave\n%s\n' "$checkout" "$seen" >&2
  exit 1
fi
echo "wine10 location check: a checkout under /tmp with a space in its path runs in the chroot"
