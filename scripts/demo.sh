#!/usr/bin/env bash
# Builds the starter and runs its main job under wine the way a sibling
# component does (no arguments), against the stand-in service installed as
# the product's java.exe, then shows the status line and this run's log lines,
# and ends with the status program's report of the state the run left.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null
ninja -C build/win32 zephra_vantic_starter zephra_vantic_status standin_service netstat_standin findstr_standin >/dev/null

export WINEPREFIX=$PWD/build/demo-prefix WINEARCH=win32 WINEDEBUG=-all
[ -d "$WINEPREFIX/drive_c" ] || { echo "creating wine prefix $WINEPREFIX"; wineboot -i >/dev/null 2>&1; wineserver -w; }
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null

corvel="$WINEPREFIX/drive_c/Program Files/norvik/brandle/Corvel"
mkdir -p "$corvel/Tidewell/jre/bin" "$corvel/Vantic"
cp build/win32/tests/bin/standin_service.exe "$corvel/Tidewell/jre/bin/java.exe"
printf 'stand-in jar' > "$corvel/Vantic/Vantic.jar"

log="$WINEPREFIX/drive_c/users/Public/Documents/corvel/VanticLogs/zephra_vantic_starter.log"
before=$(stat -c %s "$log" 2>/dev/null || echo 0)
tools='Z:'$(echo "$PWD/build/win32/tests/bin/path_tools" | tr / '\\')
# The starter's pipeline runs in the system folder, where cmd finds netstat and
# findstr first: the stand-ins go there too, run instead of wine's own ("=n").
cp build/win32/tests/bin/path_tools/{netstat,findstr}.exe "$WINEPREFIX/drive_c/windows/system32/"
export WINEDLLOVERRIDES=netstat.exe,findstr.exe=n

echo "== running: zephra_vantic_starter.exe (no arguments)"
status=0
line=$(WINEPATH="$tools" wine build/win32/zephra_vantic_starter.exe) || status=$?
echo "== exit code: $status"
echo "== status line on standard output:"
printf '%s\n' "$line"
echo "== this run's log lines ($log):"
tail -c +$((before + 1)) "$log" | tr -d '\r'
echo "== ServerPort in the registry:"
wine reg query 'HKLM\SOFTWARE\dadevuvidi\Corvel\Vantic' /v ServerPort 2>/dev/null | tr -d '\r' | grep ServerPort || echo "(not set)"
echo "== install tree:"
ls -l "$corvel/Vantic"
echo "== the status report (zephra_vantic_status.exe):"
report=0
wine build/win32/zephra_vantic_status.exe | tr -d '\r' || report=$?
echo "== its exit code: $report"
