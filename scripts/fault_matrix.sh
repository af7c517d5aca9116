#!/usr/bin/env bash
# The fault injector's whole matrix (tests/fault, docs/emulators.md): every
# scenario of the driver at its whole extent, under one emulator (wine8, the
# default, or wine10: scripts/wine10.sh), niced, each scenario in a fresh
# prefix and a network namespace of its own, two side by side. Each
# scenario's log is kept in build/fault-matrix-<emulator>/; the summary lines
# ("fault matrix <scenario>: ...") and the time go to standard output. Needs
# the Windows build (ninja -C build/win32 fault_matrix_tests);
# STARTER_FAULT_TREE names another build tree laid out as that one (a copy
# made before a long run goes on while the build changes).
set -euo pipefail
cd "$(dirname "$0")/.."
emulator=${1:-wine8}
case $emulator in
  wine8) run=() ;;
  wine10) run=(scripts/wine10.sh run) ;;
  *) echo "usage: $0 [wine8|wine10]" >&2; exit 2 ;;
esac
tree=${STARTER_FAULT_TREE:-build/win32}
out=build/fault-matrix-$emulator
mkdir -p "$out"
scenarios=(FirstRunWithNoService ReadyServiceNoArgument ReadyServicePort OtherListenerPort NeverConnectsNoArgument
  ReadyServiceProcessAndFile ReadyServiceUninstallReport ReadyServiceOtherMode StatusText StatusJson StatusHistory)

scenario() {
  nice -n 10 unshare -n bash -c '
    ip link set lo up
    name=$1 tree=$2 emulator=$3; shift 3
    "$@" env STARTER_WINE_PREFIX=$PWD/build/wineprefix-fault-$emulator-$name STARTER_FAULT_EXTENT=whole \
      STARTER_STANDIN_TOOLS=$PWD/$tree/tests/bin/path_tools tests/support/wine-session.sh \
      tests/support/wine-exec.sh "$tree/tests/bin/fault_matrix_tests.exe" --gtest_filter="*/$name"
  ' scenario "$1" "$tree" "$emulator" "${run[@]}" >"$out/$1.log" 2>&1
}

start=$SECONDS
failed=0
for ((i = 0; i < ${#scenarios[@]}; i += 2)); do
  scenario "${scenarios[$i]}" &
  first=$!
  if [ $((i + 1)) -lt ${#scenarios[@]} ]; then scenario "${scenarios[$((i + 1))]}" || failed=1; fi
  wait $first || failed=1
done
cat "$out"/*.log | grep -a '^fault matrix' || true
violated=$(grep -la 'violations:' "$out"/*.log | tr '\n' ' ')
echo "whole matrix under $emulator: $((SECONDS - start)) s; violations in: $violated"
exit $failed
