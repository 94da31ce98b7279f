#!/usr/bin/env bash
# `make run-station`: four virtual fixture slots (each lets units in one after another) on free
# COM numbers and the station window set up with them and a sample package, as `make run` does
# for the main window. Without a display the window runs offscreen, drives a few units by itself
# and saves screenshots of itself and of its "工位设置" dialog. Nothing of the demo stays behind:
# the port-map entries go with the simulators, the settings are given for this run only.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
demo="$build/station-demo"
mkdir -p "$demo"
# Qt wants a private runtime folder; root sessions often have none.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

# A COM number that nothing answers to yet: no port-map entry, no default device behind it.
present() {
    local n=$1 k
    [[ -e "$bin/ports/COM$n" || -L "$bin/ports/COM$n" ]] && return 0
    if (( n <= 32 )); then
        k=$((n - 1))
        [[ -e /dev/ttyS$k && "$(cat /sys/class/tty/ttyS$k/type 2>/dev/null || echo 0)" != 0 ]] && return 0
    elif (( n <= 64 )); then
        [[ -e /dev/ttyUSB$((n - 33)) ]] && return 0
    elif (( n <= 96 )); then
        [[ -e /dev/ttyACM$((n - 65)) ]] && return 0
    fi
    return 1
}
coms=()
for n in $(seq 7 256) $(seq 1 6); do
    present "$n" || coms+=("$n")
    [[ ${#coms[@]} -eq 4 ]] && break
done
[[ ${#coms[@]} -eq 4 ]] || { echo "no four free COM numbers for the virtual slots" >&2; exit 1; }

# Sample package: kind 16, 16 blocks of 4080 bytes, with an information text.
package="$demo/demo.enc2"
head -c $((16 * 4080)) /dev/urandom >"$demo/blocks.bin"
"$bin/tolvane-pack" --kind 16 --block-size 4080 --end1 01020304 --end2 A1B2C3D4 \
    --info "演示固件 V3.2 (虚拟工位)" "$demo/blocks.bin" "$package" >/dev/null

# Each slot: a unit, taken away after it is done (the port vanishes for a while), then the next.
# The third slot's units fail at block 3 (three failures put it out of service: "恢复" brings it
# back), the fourth's take longer (paced at the line speed).
sims=()
trap 'for p in "${sims[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null || true' EXIT
names=(A B C D)
slots=()
for i in 0 1 2 3; do
    flags=(--units 0 --absent 1500 --id-pattern "860000000$((i + 1))####")
    (( i == 2 )) && flags+=(--wrong-kind 3:100000)
    (( i == 3 )) && flags+=(--pace)
    "$bin/tolvane-devsim" --com "${coms[i]}" --working 115200,none --loader 115200,none \
        "${flags[@]}" >"$demo/devsim-$i.out" 2>"$demo/devsim-$i.log" &
    sims+=($!)
    slots+=(--slot "${names[i]}=COM${coms[i]}")
done
for com in "${coms[@]}"; do
    for _ in $(seq 50); do [[ -L "$bin/ports/COM$com" ]] && break; sleep 0.1; done
done
log="$demo/records.jsonl"
rm -f "$log"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    echo "Virtual slots: ${slots[*]} (115200bps, None; both modes 115200bps/None)."
    echo "Records: $log"
    "$bin/tolvane-station" --package "$(realpath "$package")" "${slots[@]}" --log "$log" \
        --working 115200,none --loader 115200,none --lot DEMO-1 --operator demo
else
    echo "No display: running the station window offscreen on ${slots[*]}"
    QT_QPA_PLATFORM=offscreen "$bin/tolvane-station-demo" --package "$(realpath "$package")" \
        "${slots[@]}" --log "$log" --units 8 --screenshot "$build/station-demo.png" \
        --dialog-screenshot "$build/station-slots.png"
    echo "Screenshots: $build/station-demo.png, $build/station-slots.png"
fi
echo "Records written: $(wc -l <"$log")"
"$bin/tolvane-flash" history --log "$log" | tail -n 8
