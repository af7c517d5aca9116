#!/usr/bin/env bash
# Two releases of the checked-out commit, each made by scripts/release.sh in a
# fresh clone of its own, at different paths and at different times, must
# give the same files in dist/; no file in their archives may hold the path
# it was built in. Uncommitted changes are not part of the check: it releases
# the commit, as anyone checking a release would.
#   scripts/check_release.sh [work folder, default build/release-check]
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(realpath -m "${1:-build/release-check}")
commit=$(git rev-parse HEAD)
rm -rf "$work"
# Paths of different lengths: a path that leaked in would also move every
# offset after it.
clones=("$work/a" "$work/another/clone/at/a/deeper/path")
for clone in "${clones[@]}"; do
  git clone -q "$PWD" "$clone"
  if [ "$(git -C "$clone" rev-parse HEAD)" != "$commit" ]; then
    echo "release check: the clone of $PWD is not at $commit" >&2
    exit 1
  fi
  start=$SECONDS
  if ! bash "$clone/scripts/release.sh" >"$clone.log" 2>&1; then
    echo "release check: scripts/release.sh failed in $clone ($clone.log):" >&2
    tail -n 40 "$clone.log" >&2
    exit 1
  fi
  echo "release check: released in $clone in $((SECONDS - start)) s"
done

a=${clones[0]}/dist b=${clones[1]}/dist
if ! diff <(ls "$a") <(ls "$b") >/dev/null; then
  echo "release check: the two dist/ folders hold different files" >&2
  exit 1
fi
for file in "$a"/*; do
  cmp "$file" "$b/${file##*/}"
done
(cd "$a" && sha256sum --quiet -c SHA256SUMS)

# The executables and the debug files as shipped, searched for either clone's
# folder (they share $work).
unpacked=$work/unpacked
for archive in "$a"/*.zip; do
  python3 -m zipfile -e "$archive" "$unpacked"
done
if grep -rlaF "$work" "$unpacked"; then
  echo "release check: the files above hold a build path ($work)" >&2
  exit 1
fi
echo "release check: identical dist/ from two clones, no build path:"
cat "$a/SHA256SUMS"
