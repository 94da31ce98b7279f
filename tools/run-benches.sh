#!/usr/bin/env bash
# Runs every benchmark program of a Release build and prints their figures (bench_serial,
# bench_dialogue, bench_upgrade, bench_flash, bench_station, bench_signature).
set -uo pipefail
build=${1:-build-bench}
status=0
for exe in "$build"/bin/bench_*; do
    [[ -x "$exe" ]] || continue
    echo "== $(basename "$exe")"
    QT_QPA_PLATFORM=offscreen "$exe" || status=1
done
exit $status
