#!/usr/bin/env bash
# Renders the application icon's PNGs (hicolor sizes) from its SVG; run after editing the SVG
# and commit the result.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${size}x${size}"
    rsvg-convert -w "$size" -h "$size" org.tolvane.Tolvane.svg -o "hicolor/${size}x${size}/org.tolvane.Tolvane.png"
done
