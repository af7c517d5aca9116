#!/usr/bin/env bash
# Builds both programs from the checked-out commit and writes the release to
# dist/ (docs/release.md):
#   zephra_vantic-<version>-win32.zip        the stripped programs, INTEGRATION.txt, licences
#   zephra_vantic-<version>-win32-debug.zip  the debug files the programs' debug links name
#   SHA256SUMS
# The same commit gives the same bytes in any folder, at any time.
#   scripts/release.sh [--allow-dirty]
# A tree with changes that are not committed is refused: its release would not
# be the commit's. --allow-dirty makes one anyway, for trying this script.
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  "") if [ -n "$(git status --porcelain)" ]; then
        echo "release: uncommitted changes (scripts/release.sh --allow-dirty to release them anyway):" >&2
        git status --short >&2
        exit 1
      fi ;;
  --allow-dirty) ;;
  *) echo "usage: scripts/release.sh [--allow-dirty]" >&2; exit 2 ;;
esac
bash scripts/setup.sh

# Every time written into the programs and the archives is the last commit's.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C

# A fresh folder inside the checkout, so the compiler's path map covers it.
build=build/release
rm -rf "$build" dist
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DSTARTER_TESTS=OFF >/dev/null
ninja -C "$build" -j2 zephra_vantic_starter zephra_vantic_status

version=$(sed -n 's/.*kProductVersion\[\] = "\(.*\)";/\1/p' "$build/generated/contract/product_version.h")
python3 scripts/release_archives.py "$build" "$version" dist
(cd dist && cat SHA256SUMS)
