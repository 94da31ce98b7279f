#!/usr/bin/env bash
# The Windows programs under wine against the Linux ones: tolvane-pack.exe writes what
# tolvane-pack writes, and tolvane-flash.exe lists and upgrades the virtual device on COM21 and
# gives up on the silent one on COM22; a station upgrades one unit on COM23 and history reads its
# record back. Called by run-tests.sh with the server up.
set -uo pipefail
win=$1 linux=$2 image=$3
# A hang must fail the check, not the whole run.
run() { timeout 120 "$win/wine-run.sh" "$@"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/checks.sh"

head -c 12288 /dev/urandom >"$work/area.bin"
args=(--block-size 1024 --end1 11223344 --end2 55667788 --info "测试固件 V1.0")
"$linux/bin/tolvane-pack" "${args[@]}" "$work/area.bin" "$work/linux.enc2" >/dev/null
run "$win/bin/tolvane-pack.exe" "${args[@]}" "$work/area.bin" "$work/win.enc2" >/dev/null
check "tolvane-pack.exe writes the Linux build's package" cmp "$work/linux.enc2" "$work/win.enc2"

run "$win/bin/tolvane-flash.exe" ports >"$work/ports.txt" 2>&1
check "ports lists COM21 from the registry" grep -qw COM21 "$work/ports.txt"

# Parity none in both modes: after a setting without parity, wine refuses even parity on a
# pseudo-terminal (SetCommState error 87).
modes=(--working 115200,none --loader 115200,none --quiet)
run "$win/bin/tolvane-flash.exe" flash "$work/linux.enc2" --port COM21 "${modes[@]}" \
    >"$work/flash.txt" 2>&1
status=$?
check "flash on COM21 succeeds (status $status)" test "$status" -eq 0
[[ $status -eq 0 ]] || cat "$work/flash.txt"
for _ in $(seq 50); do cmp -s "$image" "$work/area.bin" && break; sleep 0.1; done
check "the device received the block area" cmp "$image" "$work/area.bin"

# A package and a trace whose paths hold Chinese characters: the arguments arrive as UTF-16 and
# the files are opened by their wide names, whatever the ANSI code page.
chinese=$work/固件
mkdir -p "$chinese"
cp "$work/linux.enc2" "$chinese/升级包.enc2"
run "$win/bin/tolvane-flash.exe" info "$chinese/升级包.enc2" >"$work/info.txt" 2>&1
check "info reads a package by a Chinese path" grep -q "blocks: 12" "$work/info.txt"
rm -f "$image"
run "$win/bin/tolvane-flash.exe" flash "$chinese/升级包.enc2" --port COM21 "${modes[@]}" \
    --trace "$chinese/跟踪.txt" >"$work/flash-chinese.txt" 2>&1
status=$?
check "flash with Chinese package and trace paths succeeds (status $status)" test "$status" -eq 0
for _ in $(seq 50); do cmp -s "$image" "$work/area.bin" && break; sleep 0.1; done
check "the device received the block area again" cmp "$image" "$work/area.bin"
check "the trace was written under its Chinese name" grep -q "41 54 2B 52 45 53 45 54" \
    "$chinese/跟踪.txt"

run "$win/bin/tolvane-flash.exe" flash "$work/linux.enc2" --port COM22 "${modes[@]}" \
    >"$work/silent.txt" 2>&1
status=$?
check "a silent device on COM22 gives status 5 (status $status)" test "$status" -eq 5

# A station with one slot on COM23: a unit with an identity whose new firmware reports another
# version. The unit stays, so --once must end at its result without waiting for its removal. The
# device is linked in while the server runs; a COM number needs no registry entry to be opened.
unit_image=$work/unit-image.bin
"$linux/bin/tolvane-devsim" --loader 115200,none --image "$unit_image" --id 861234567890123 \
    --version-after 'VERSION:2.2\r\n' >"$work/unit.txt" &
unit=$!
trap 'kill $unit 2>/dev/null; rm -f "$win/wine/dosdevices/com23"; rm -rf "$work"' EXIT
for _ in $(seq 600); do [[ -s $work/unit.txt ]] && break; sleep 0.05; done
check "the unit's virtual device started" test -s "$work/unit.txt"
ln -sfn "$(cat "$work/unit.txt")" "$win/wine/dosdevices/com23"
log=$work/records.jsonl
run "$win/bin/tolvane-flash.exe" station "$work/linux.enc2" --slot bench-1=COM23 --once \
    --working 115200,none --loader 115200,none --log "$log" --lot 'L7,"b"' --operator 张三 \
    >"$work/station.txt" 2>&1
status=$?
check "a station run with --once on COM23 ends with status 0 (status $status)" test "$status" -eq 0
for _ in $(seq 50); do cmp -s "$unit_image" "$work/area.bin" && break; sleep 0.1; done
check "the unit received the block area" cmp "$unit_image" "$work/area.bin"
# One whole record, with what the unit told before and after its upgrade.
record_is_right() {
    /usr/bin/python3 - "$log" <<'PY'
import json, sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
r = json.loads(lines[0])
sys.exit(not (len(lines) == 1 and r["ok"] is True and r["code"] == 0 and r["stage"] == "done"
              and r["slot"] == "bench-1" and r["port"] == "COM23"
              and r["id"] == "861234567890123" and r["version_before"] == "VERSION:2.1"
              and r["version_after"] == "VERSION:2.2" and r["lot"] == 'L7,"b"'
              and r["operator"] == "张三" and r["frames"] == 13))
PY
}
check "the log holds the unit's one record" record_is_right
run "$win/bin/tolvane-flash.exe" history --log "$log" --csv >"$work/history.csv" 2>"$work/history.txt"
status=$?
check "history --csv reads the log (status $status)" test "$status" -eq 0
csv_is_right() {
    /usr/bin/python3 - "$work/history.csv" "$log" <<'PY'
import csv, json, sys
rows = list(csv.DictReader(open(sys.argv[1], encoding="utf-8", newline="")))
r = json.loads(open(sys.argv[2], encoding="utf-8").readline())
expected = {k: ("true" if v is True else "false" if v is False else "" if v is None else str(v))
            for k, v in r.items()}
sys.exit(not (len(rows) == 1 and rows[0] == expected))
PY
}
check "history's CSV gives the record back field by field" csv_is_right

[[ $failures -eq 0 ]] || {
    tail -n 20 "$work/ports.txt" "$work/flash.txt" "$work/info.txt" "$work/flash-chinese.txt" \
        "$work/silent.txt" "$work/station.txt" "$log" "$work/history.csv" "$work/history.txt"
    exit 1
}
