#!/usr/bin/env bash
# Renders the PNG icons from the SVG beside this script, in the sizes the desktop's hicolor
# theme asks for, with rsvg-convert (Debian's librsvg2-bin). The PNGs are committed; the build
# does not run this.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" org.tessaly.Vorn.svg -o "org.tessaly.Vorn-$size.png"
done
