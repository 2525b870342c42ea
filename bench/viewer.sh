#!/usr/bin/env bash
# The viewer's loading speed: a plain-text file of MB megabytes (default 20) with the hit near
# its end, offscreen, against QPlainTextEdit::setPlainText of the same text, RUNS times each
# (default 5); then crafted RTF files against the plain text they show. Builds in build/bench.
#
#   bench/viewer.sh [MB] [RUNS]
set -euo pipefail
[[ "${1:-}" =~ ^(-h|--help)$ ]] && { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; }
for n in "$@"; do
  [[ "$n" =~ ^[1-9][0-9]{0,3}$ ]] || { echo "usage: bench/viewer.sh [MB] [RUNS] (whole numbers from 1 to 9999)" >&2; exit 2; }
done
[ $# -le 2 ] || { echo "usage: bench/viewer.sh [MB] [RUNS]" >&2; exit 2; }
cd "$(dirname "$0")/.."
scripts/install-deps >&2
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target vorn_viewer_bench >/dev/null
QT_QPA_PLATFORM=offscreen build/bench/bench/vorn_viewer_bench "${1:-20}" "${2:-5}"
