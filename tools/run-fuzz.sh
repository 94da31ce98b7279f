#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, growing a scratch corpus seeded from the committed
# one; new findings land in build-fuzz/findings/. Usage: run-fuzz.sh BUILD_DIR SECONDS_PER_TARGET
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/findings"
status=0
for target in package_fuzz reply_fuzz ini_fuzz portname_fuzz signature_fuzz; do
    exe="$build/bin/$target"
    [[ -x "$exe" ]] || { echo "skip $target (not built)"; continue; }
    work="$build/corpus/$target"
    mkdir -p "$work"
    cp -n "$root/fuzz/corpus/$target"/* "$work"/ 2>/dev/null || true
    echo "== $target for ${seconds}s"
    if ! "$exe" "$work" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$build/findings/$target-" 2>"$build/$target.log"; then
        echo "!! $target found a failure: see $build/$target.log and $build/findings/"
        status=1
    fi
    grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$build/$target.log" || true
done
exit $status
