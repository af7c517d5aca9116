#!/usr/bin/env bash
# Builds the starter and its benchmark, then runs the benchmark under wine in a
# fresh 32-bit prefix and prints its figures. Arguments go to the benchmark:
#   bash scripts/bench.sh                      every benchmark, 15 rounds each
#   bash scripts/bench.sh --rounds 30 latency  one benchmark, more rounds
#   BENCH_BEFORE_TREE=/path/to/checkout bash scripts/bench.sh --rounds 3 connections
#                                              the starter of that checkout, built in
#                                              its own build/before-win32, runs
#                                              beside this one in alternating order
# Names: poll, run, latency, select, resources, churn, connections. Exit code 0 when every target was met.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/bench-win32
cmake --no-warn-unused-cli -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null
# One job: the machine is shared, and a busy build would skew the figures anyway.
ninja -j1 -C "$build" starter_bench >/dev/null
if [[ -n "${BENCH_BEFORE_TREE:-}" ]]; then
  before_build=$BENCH_BEFORE_TREE/build/before-win32
  cmake --no-warn-unused-cli -S "$BENCH_BEFORE_TREE" -B "$before_build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null
  ninja -j1 -C "$before_build" zephra_vantic_starter >/dev/null
  echo "beside the starter of $(git -C "$BENCH_BEFORE_TREE" rev-parse --short HEAD)"
  export STARTER_BENCH_BEFORE="Z:${before_build//\//\\}\\zephra_vantic_starter.exe"
fi
echo "benchmark of $(git rev-parse --short HEAD 2>/dev/null || echo 'this tree') on $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
STARTER_WINE_PREFIX=$PWD/build/bench-prefix STARTER_STANDIN_TOOLS=$PWD/$build/tests/bin/path_tools \
  tests/support/wine-session.sh wine "$build/tests/bin/starter_bench.exe" "$@"
