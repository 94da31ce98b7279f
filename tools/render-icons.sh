#!/usr/bin/env bash
# Renders the icons' PNGs (hicolor sizes) from their SVGs, the window's and the station window's;
# run after editing an SVG and commit the result (rsvg-convert: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for icon in org.tolvane.Tolvane org.tolvane.Tolvane.Station; do
    for size in 16 22 24 32 48 64 128 256; do
        mkdir -p "hicolor/${size}x${size}"
        rsvg-convert -w "$size" -h "$size" "$icon.svg" -o "hicolor/${size}x${size}/$icon.png"
    done
done
# The Windows icon: the 16, 32, 48 and 256 pixel PNGs in one .ico (entries may hold PNG data).
python3 - <<'PY'
import struct
sizes = [16, 32, 48, 256]
for icon in ["org.tolvane.Tolvane", "org.tolvane.Tolvane.Station"]:
    images = [open(f"hicolor/{s}x{s}/{icon}.png", "rb").read() for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    open(f"{icon}.ico", "wb").write(out + b"".join(images))
PY
