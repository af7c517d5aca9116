#!/usr/bin/env bash
# The fault injector's whole matrix (tests/fault, docs/emulators.md): every
# scenario of the driver at its whole extent, under the host's wine 8, niced,
# each scenario in a fresh prefix and a network namespace of its own, two
# side by side. Each scenario's log is kept in build/fault-matrix/; the
# summary lines ("fault matrix <scenario>: ...") and the time go to standard
# output. Needs the Windows build (ninja -C build/win32 fault_matrix_tests);
# STARTER_FAULT_TREE names another build tree laid out as that one (a copy
# made before a long run goes on while the build changes).
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${STARTER_FAULT_TREE:-build/win32}
out=build/fault-matrix
mkdir -p "$out"
scenarios=(FirstRunWithNoService ReadyServiceNoArgument ReadyServicePort ReadyServiceProcessAndFile
  ReadyServiceUninstallReport ReadyServiceOtherMode StatusText StatusJson StatusHistory)

scenario() {
  nice -n 10 unshare -n bash -c '
    ip link set lo up
    STARTER_WINE_PREFIX=$PWD/build/wineprefix-fault-$1 STARTER_FAULT_EXTENT=whole \
      STARTER_STANDIN_TOOLS=$PWD/$2/tests/bin/path_tools tests/support/wine-session.sh \
      tests/support/wine-exec.sh "$2/tests/bin/fault_matrix_tests.exe" --gtest_filter="*/$1"
  ' scenario "$1" "$tree" >"$out/$1.log" 2>&1
}

start=$SECONDS
failed=0
for ((i = 0; i < ${#scenarios[@]}; i += 2)); do
  scenario "${scenarios[$i]}" &
  first=$!
  if [ $((i + 1)) -lt ${#scenarios[@]} ]; then scenario "${scenarios[$((i + 1))]}" || failed=1; fi
  wait $first || failed=1
done
cat "$out"/*.log | grep '^fault matrix' || true
echo "whole matrix: $((SECONDS - start)) s; violations in: $(grep -l 'violations:' "$out"/*.log | tr '\n' ' ')"
exit $failed
