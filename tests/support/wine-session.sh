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
"$@"
