#!/usr/bin/env bash
# The station window under wine on the virtual display: tolvane-station.exe started with --start
# and two slots, the virtual device's COM21 and the silent COM22; the unit on COM21 is upgraded
# and its record read back. Called by run-tests.sh with the server and DISPLAY up.
set -uo pipefail
win=$1 linux=$2
. "$(dirname "$0")/checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 12288 /dev/urandom >"$work/area.bin"
"$linux/bin/tolvane-pack" --block-size 1024 "$work/area.bin" "$work/package.enc2" >/dev/null
log=$work/records.jsonl
"$win/wine-run.sh" "$win/bin/tolvane-station.exe" --package "Z:${work//\//\\}\\package.enc2" \
    --slot A=COM21 --slot B=COM22 --working 115200,none --loader 115200,none \
    --log "Z:${log//\//\\}" --settings "Z:${work//\//\\}\\Station.ini" --start \
    >/dev/null 2>&1 &
station=$!
for _ in $(seq 600); do
    [[ -s $log ]] && break
    sleep 0.1
done
check "tolvane-station.exe --start upgrades the unit on COM21" grep -q '"slot":"A"' "$log"
check "its record passed and was verified" grep -q '"ok":true.*"stage":"done"' "$log"
check "the silent COM22 has no record" bash -c "! grep -q '\"slot\":\"B\"' '$log'"
kill "$station" 2>/dev/null
wait "$station" 2>/dev/null
exit $((failures > 0))
