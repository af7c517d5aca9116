#!/usr/bin/env bash
# Runs a Windows program under wine in the test run's prefix (see wine-session.sh).
: "${WINEPREFIX:?run tests through scripts/test.sh, which prepares a wine prefix}"
export WINEDEBUG=-all WINEARCH=${STARTER_WINE_ARCH:-win32}
exec wine "$@"
