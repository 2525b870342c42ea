#!/usr/bin/env bash
# Draws the About window's logo once: a magnifying glass over a "V" on a navy-to-teal ground,
# 150 x 100 pixels, saved as JPEG beside this script. The picture is committed; the build does
# not run this (ImageMagick's convert, installed if missing).
#
#   about/make-logo.sh
set -euo pipefail
[[ "${1:-}" =~ ^(-h|--help)$ ]] && { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; }
cd "$(dirname "$0")"
../scripts/install-deps imagemagick >&2
convert -size 150x100 gradient:'#000080-#008080' \
  -fill none -stroke '#00FFFF' -strokewidth 7 -draw "polyline 40,28 62,70 84,28" \
  -stroke white -strokewidth 6 -draw "circle 62,46 62,14" \
  -strokewidth 10 -draw "line 86,70 120,94" \
  -quality 90 -strip logo.jpg
