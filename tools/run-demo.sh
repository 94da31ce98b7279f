#!/usr/bin/env bash
# `make run`: the window with a virtual device attached as a free COM port and a sample package.
# Without a display the same demo runs offscreen, drives one upgrade by itself and saves a
# screenshot. Nothing of the demo stays behind: the port-map entry goes with the simulator and
# the user's Config.ini is not touched by the headless run.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
demo="$build/demo"
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
com=""
for n in $(seq 7 256) $(seq 1 6); do
    present "$n" || { com=$n; break; }
done
[[ -n "$com" ]] || { echo "no free COM number for the virtual device" >&2; exit 1; }

# Sample package: kind 16, 40 blocks of 1016 bytes, with an information text.
package="$demo/demo.enc2"
head -c $((40 * 1016)) /dev/urandom >"$demo/blocks.bin"
"$bin/tolvane-pack" --kind 16 --block-size 1016 --end1 01020304 --end2 A1B2C3D4 \
    --info "演示固件 V3.2 (虚拟设备)" "$demo/blocks.bin" "$package" >/dev/null

"$bin/tolvane-devsim" --com "$com" --working 115200,none --loader 115200,none \
    --image "$demo/received.bin" ${DEVSIM_FLAGS:-} >"$demo/devsim.out" 2>"$demo/devsim.log" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [[ -L "$bin/ports/COM$com" ]] && break; sleep 0.1; done

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    echo "Virtual device on COM$com (115200bps, None, 8, 1; both modes 115200bps/None)."
    echo "Package to choose: $(realpath "$package")"
    "$bin/tolvane"
else
    echo "No display: running the demo offscreen on COM$com with $package"
    QT_QPA_PLATFORM=offscreen "$bin/tolvane-demo" --com "$com" --package "$(realpath "$package")" \
        --screenshot "$build/demo-finished.png"
    cmp -s "$demo/received.bin" "$demo/blocks.bin" && echo "The device received every block intact."
    echo "Screenshot: $build/demo-finished.png"
fi

# The same upgrade from the command line, on the same virtual device.
flash=("$bin/tolvane-flash" flash "$(realpath "$package")" --port "COM$com" --working 115200,none
    --loader 115200,none)
echo "The same upgrade with the command-line flasher: ${flash[*]}"
rm -f "$demo/received.bin"
"${flash[@]}"
cmp -s "$demo/received.bin" "$demo/blocks.bin" && echo "The device received every block intact."
