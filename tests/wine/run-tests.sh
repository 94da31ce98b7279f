#!/usr/bin/env bash
# Runs the tests of a Windows build (argument: its folder) under wine, headless: a private
# prefix in the build folder, a pair of joined pseudo-terminals configured as COM12 and COM13
# before the wine server starts (so the registry lists them), and a persistent wine server so
# that ctest does not wait on the server's inherited output.
set -euo pipefail
build=$(cd "$1" && pwd)
export WINEPREFIX=$build/wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset LD_PRELOAD DISPLAY

if [[ ! -f $WINEPREFIX/system.reg ]]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi

coproc BRIDGE { exec "$build/host/pty-bridge"; }
read -r -u "${BRIDGE[0]}" device12
read -r -u "${BRIDGE[0]}" device13
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "$BRIDGE_PID" 2>/dev/null || true
}
trap cleanup EXIT

wine reg add 'HKLM\Software\Wine\Ports' /v COM12 /d "$device12" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM13 /d "$device13" /f >/dev/null 2>&1
wineserver -k
wineserver -w
wineserver -p 300
wine cmd /c exit >/dev/null 2>&1 </dev/null

cd "$build"
TOLVANE_WINE_PORTS=12,13 ctest --output-on-failure -j 2
