#!/usr/bin/env bash
# Runs a command (typically ctest) inside a fresh 32-bit wine prefix made for
# this run. The wine server is started first, together with one throwaway
# program that brings up wine's background services, so that neither holds
# the pipes of the programs whose output the tests capture. The server and
# everything in the prefix are stopped afterwards, whatever the outcome.
# STARTER_WINE_ARCH=win64 makes it a 64-bit prefix, in a folder of its own:
# the 32-bit programs then run under WOW64, as on 64-bit Windows.
set -euo pipefail
arch=${STARTER_WINE_ARCH:-win32}
suffix=${arch#win32}
prefix=${STARTER_WINE_PREFIX:-$PWD/build/wineprefix${suffix:+-$suffix}}
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all STARTER_WINE_ARCH=$arch
# A test that made a folder immutable (chattr +i) and died before undoing it
# would leave a prefix that cannot be removed.
chattr -R -i "$prefix" >/dev/null 2>&1 || true
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
wineboot -i >/dev/null 2>&1
wineserver -w  # let the boot's server end, so ours is the persistent one
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null
# A program that crashes must fail its test. wine's default debugger ends a
# crashed program with exit code 0; with no debugger to start, wine ends it
# with the exception's code instead.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger \
  /d no_debugger.exe /f >/dev/null 2>&1 </dev/null

# --- netstat and findstr stand-ins in the system folder --------------------
# The starter runs its netstat | findstr pipeline with the system folder as
# the interpreter's current folder, so cmd finds the programs there before it
# looks at PATH, and wine's own list no connections. Our stand-ins replace
# them there (syswow64 is the system folder of a 32-bit program in a 64-bit
# prefix); wine runs the file instead of its built-in program only when told
# to with "=n". The tests keep them first on PATH too, so none depends on
# which lookup finds them. STARTER_STANDIN_TOOLS names another build's tools.
standins=${STARTER_STANDIN_TOOLS:-$PWD/build/win32/tests/bin/path_tools}
if [ -f "$standins/netstat.exe" ] && [ -f "$standins/findstr.exe" ]; then
  for system in "$prefix/drive_c/windows/system32" "$prefix/drive_c/windows/syswow64"; do
    if [ -d "$system" ]; then cp "$standins/netstat.exe" "$standins/findstr.exe" "$system/"; fi
  done
else
  echo "wine-session: no netstat/findstr stand-ins in $standins: wine's own stay" >&2
fi
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}netstat.exe,findstr.exe=n"
# ----------------------------------------------------------------------------

"$@"
