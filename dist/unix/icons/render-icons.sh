#!/usr/bin/env bash
# Renders the PNG icons from the SVG beside this script, in the sizes the desktop's hicolor
# theme asks for, with rsvg-convert (Debian's librsvg2-bin). The PNGs are committed; the build
# does not run this.
#
#   dist/unix/icons/render-icons.sh
set -euo pipefail
[[ "${1:-}" =~ ^(-h|--help)$ ]] && { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; }
cd "$(dirname "$0")"
../../../scripts/install-deps librsvg2-bin >&2
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" org.tessaly.Vorn.svg -o "org.tessaly.Vorn-$size.png"
done
