#!/usr/bin/env bash
# The window program under wine on the virtual display, driven as a person would drive it:
# mouse clicks on its buttons and the package's path typed into the file dialog (xdotool);
# window-probe.exe reads what message boxes and labels show. Checks the caption and size, the
# version query and a whole upgrade against the virtual device on COM21, and Config.ini written
# at closing. Called by run-tests.sh with the server and DISPLAY up.
set -uo pipefail
win=$1 linux=$2 image=$3
. "$(dirname "$0")/checks.sh"
. "$(dirname "$0")/window-helpers.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
probe() { timeout 150 "$win/wine-run.sh" "$win/bin/window-probe.exe" "$@"; }
# Client coordinates are screen ones plus the window's origin (no window manager, no frame).
click() { xdotool mousemove --sync $((X + $1)) $((Y + $2)) click 1; }

# The port panel at the device's line; both modes at 115200bps (item 9) without parity.
ini=$win/bin/Config.ini
printf '[COMPort1]\r\nPort=21\r\nBaudrate=115200\r\nParity=NONE\r\nByteSize=8\r\nStopBits=0\r\nBaudrateWk=9\r\nParityWk=0\r\nBaudrateBt=9\r\nParityBt=0\r\n' >"$ini"
"$win/wine-run.sh" "$win/bin/tolvane.exe" >/dev/null 2>&1 &
window=$(find_window '^Tolvane 3\.2\.0\.0$')
check "the window comes up with its caption" test -n "$window"
if [[ -z $window ]]; then
    echo "DISPLAY=$DISPLAY; running: $(pgrep -fc 'bin/tolvane.exe') tolvane.exe; windows named:" \
        "$(xdotool search --name . 2>/dev/null | wc -l)"
    exit 1
fi
eval "$(xdotool getwindowgeometry --shell "$window")"
check "its client area is 752 x 250 (${WIDTH}x$HEIGHT)" test "$WIDTH" -eq 752 -a "$HEIGHT" -eq 250

click 94 172 # 打开串口
click 376 163 # 查询版本号
reply=$(probe box)
check "the version query shows the device's reply ($reply)" grep -q '^VERSION:2.1' <<<"$reply"

# The upgrade through the file dialog, answered as a person does: a click into the file name
# field, the path typed, Enter. The field's place is asked for at each try (under load the dialog
# is found before it has moved into place), and keys typed before it takes input are lost, so the
# field is read back before Enter and the path typed again until it is there.
head -c 12288 /dev/urandom >"$work/area.bin"
"$linux/bin/tolvane-pack" --block-size 1024 "$work/area.bin" "$work/package.enc2" >/dev/null
click 704 24 # 选择
dialog=$(find_window '^(Open|打开)$')
check "选择 opens the file dialog" test -n "$dialog"
path="Z:${work//\//\\}\\package.enc2"
dialog_open() { xdotool search --name '^(Open|打开)$' >/dev/null 2>&1; }
if [[ -n $dialog ]]; then
    for _ in $(seq 10); do
        read -r fx fy < <(probe where) || continue
        xdotool mousemove --sync "$fx" "$fy" click 1
        xdotool key End shift+Home type --delay 10 "$path"
        probe field "$path" || continue
        xdotool key Return
        for _ in $(seq 50); do dialog_open || break; sleep 0.1; done
        dialog_open || break
    done
    dialog_open && echo "the file dialog is still open"
fi
check "the chosen package's path is in the path field" probe wait "$path"
click 376 195 # 开始升级
check "the result label shows 升级成功" probe wait 升级成功
for _ in $(seq 50); do cmp -s "$image" "$work/area.bin" && break; sleep 0.1; done
check "the device received the block area" cmp "$image" "$work/area.bin"

rm -f "$ini"
close_with_alt_f4 "$window" '^Tolvane 3' "$ini"
keys=(Port Baudrate Parity ByteSize StopBits BaudrateWk ParityWk BaudrateBt ParityBt)
check "Config.ini holds the nine keys after closing" \
    test "$(grep -cE "^($(IFS='|'; echo "${keys[*]}"))=" "$ini" 2>/dev/null)" -eq 9
grep -q '^BaudrateWk=9' "$ini" || echo "Config.ini: $(tr -d '\r' <"$ini" | tr '\n' ' ')"
exit $((failures > 0))
