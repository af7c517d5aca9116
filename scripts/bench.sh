#!/usr/bin/env bash
# Builds the starter and its benchmark, then runs the benchmark under wine in a
# fresh 32-bit prefix and prints its figures. Arguments go to the benchmark:
#   bash scripts/bench.sh                      every benchmark, 15 rounds each
#   bash scripts/bench.sh --rounds 30 latency  one benchmark, more rounds
# Names: poll, run, latency, select, resources, churn, connections. Exit code 0 when every target was met.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/bench-win32
cmake --no-warn-unused-cli -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null
# One job: the machine is shared, and a busy build would skew the figures anyway.
ninja -j1 -C "$build" starter_bench >/dev/null
echo "benchmark of $(git rev-parse --short HEAD 2>/dev/null || echo 'this tree') on $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
STARTER_WINE_PREFIX=$PWD/build/bench-prefix STARTER_STANDIN_TOOLS=$PWD/$build/tests/bin/path_tools \
  tests/support/wine-session.sh wine "$build/tests/bin/starter_bench.exe" "$@"
