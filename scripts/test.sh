#!/usr/bin/env bash
# Sets up what is missing, builds both trees and runs every test: the core
# natively under AddressSanitizer and UndefinedBehaviorSanitizer, a short
# fuzzing run of the parsers, static analysis of the product code, then the
# Windows build under wine in a fresh 32-bit prefix, and its suite for 64-bit
# Windows in a fresh 64-bit one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build/native -G Ninja >/dev/null
ninja -C build/native
ctest --test-dir build/native --output-on-failure -j2
scripts/fuzz.sh 30

cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null
ninja -C build/win32
scripts/static_analysis.sh build/win32

# --- a release: two clones give the same bytes (scripts/check_release.sh) ---
# Its two builds run beside the wine suites instead of after them, at the
# lowest priority, so the suites' timed runs keep the processor they need.
nice -n 19 scripts/check_release.sh >build/check_release.log 2>&1 &
release_check=$!

tests/support/wine-session.sh ctest --test-dir build/win32 --output-on-failure
STARTER_WINE_ARCH=win64 tests/support/wine-session.sh ctest --test-dir build/win32 --output-on-failure \
  -R '^Wow64Prefix\.'

wait "$release_check" || { cat build/check_release.log >&2; exit 1; }
cat build/check_release.log
