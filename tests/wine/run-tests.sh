#!/usr/bin/env bash
# Runs the tests of a Windows build under wine, headless (arguments: the Windows build folder and
# the Linux one, whose tolvane-devsim and tolvane-pack the end-to-end checks use): a private
# prefix in the build folder; a pair of joined pseudo-terminals as COM12 and COM13, the virtual
# device as COM21 and a silent one as COM22, all configured before the wine server starts (so
# the registry lists them); a persistent wine server so that ctest does not wait on the
# server's inherited output; a virtual display (Xvfb) from the start, for the window's tests.
# Last, the release files (installer and zip) as a user meets them.
set -euo pipefail
build=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
export WINEPREFIX=$build/wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset LD_PRELOAD
# A wine server started without a display cannot give later programs windows. The file is
# emptied here, not by the background job's redirection, which may come after the wait below
# has read an earlier run's number.
: >"$build/display.txt"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$build/display.txt" 2>/dev/null &
xvfb=$!
# A loaded machine has taken more than five seconds to bring the display up.
for _ in $(seq 1200); do [[ -s $build/display.txt ]] && break; sleep 0.05; done
[[ -s $build/display.txt ]] || { echo "run-tests: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$build/display.txt")

if [[ ! -f $WINEPREFIX/system.reg ]]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi

# Starts a helper that prints its device path(s) first; waits for the given number of lines.
pids=()
start() { # output file, lines, command...
    local out=$1 lines=$2
    shift 2
    "$@" >"$out" &
    pids+=($!)
    for _ in $(seq 100); do
        [[ $(wc -l <"$out") -ge $lines ]] && return
        sleep 0.05
    done
    echo "run-tests: $1 did not start" >&2
    exit 1
}
start "$build/bridge.txt" 2 "$build/host/pty-bridge"
device12=$(sed -n 1p "$build/bridge.txt")
device13=$(sed -n 2p "$build/bridge.txt")
image=$build/devsim-image.bin
rm -f "$image"
start "$build/device.txt" 1 "$linux/bin/tolvane-devsim" --loader 115200,none --image "$image"
device21=$(cat "$build/device.txt")
start "$build/silent.txt" 1 "$linux/bin/tolvane-devsim" --silent
device22=$(cat "$build/silent.txt")
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "${pids[@]}" "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

for port in 12:$device12 13:$device13 21:$device21 22:$device22; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM${port%%:*}" /d "${port#*:}" /f >/dev/null 2>&1
done
# The dialog fonts and the result label's face through a CJK font the system has, so that the
# window's Chinese texts render.
for face in "MS Shell Dlg" "MS Shell Dlg 2" "MS Sans Serif" "Microsoft Sans Serif" Tahoma SimSun 宋体; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "$face" \
        /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
done
wineserver -k
wineserver -w
wineserver -p 300
wine cmd /c exit >/dev/null 2>&1 </dev/null
# The server makes a port's link only where none is left from an earlier run, whose pseudo-
# terminal may have had another number: point every link at this run's device.
for port in 12:$device12 13:$device13 21:$device21 22:$device22; do
    ln -sfn "${port#*:}" "$WINEPREFIX/dosdevices/com${port%%:*}"
done

status=0
(cd "$build" && TOLVANE_WINE_PORTS=12,13 ctest --output-on-failure -j 2 --timeout 120) || status=1
"$(dirname "$0")/end-to-end.sh" "$build" "$linux" "$image" || status=1
"$(dirname "$0")/signature-tests.sh" "$build" "$linux" "$image" || status=1
"$(dirname "$0")/window-tests.sh" "$build" "$linux" "$image" || status=1
"$(dirname "$0")/station-tests.sh" "$build" "$linux" || status=1
"$(dirname "$0")/release-tests.sh" "$build" || status=1
exit $status
