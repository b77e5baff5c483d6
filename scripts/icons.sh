#!/usr/bin/env bash
# Renders the program icon dist/icons/varnel.svg into the PNG sizes the
# desktop's icon theme looks for (dist/icons/NxN/varnel.png). Run after
# changing the picture and commit the PNGs: they are rendered once, here,
# so that the package does not depend on the fonts of the building machine.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v rsvg-convert >/dev/null || { echo "needs rsvg-convert (apt-get install librsvg2-bin)" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "dist/icons/${size}x${size}"
  rsvg-convert -w "$size" -h "$size" dist/icons/varnel.svg -o "dist/icons/${size}x${size}/varnel.png"
done
