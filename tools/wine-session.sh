#!/usr/bin/env bash
# Runs a command with a persistent wineserver for the Windows build's prefix, so that each
# Windows test process starts in a fraction of a second instead of two; ends the server after.
#   wine-session.sh <build dir> <command...>
set -uo pipefail
build=$1; shift
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix in $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
fi
/usr/lib/wine/wineserver -p >/dev/null 2>&1
# Start the prefix's background services here, with their output going nowhere: started by the
# first test program instead, they inherit its output pipe and keep ctest waiting for it to close.
/usr/lib/wine/wine64 wineboot >/dev/null 2>&1
"$@"
status=$?
/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
exit $status
