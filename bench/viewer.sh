#!/usr/bin/env bash
# The viewer's loading speed: a plain-text file of MB megabytes (default 20) with the hit near
# its end, offscreen, against QPlainTextEdit::setPlainText of the same text, RUNS times each
# (default 5); crafted RTF files against the plain text they show; then, with INTERACTIVE 1
# (the default), how quick the shown viewer stays on a 5 MB single line and at the 256 MB
# ceiling (1 s to open, 50 ms a key, caret or scroll step). Builds in build/bench.
#
#   bench/viewer.sh [MB] [RUNS] [INTERACTIVE]
set -euo pipefail
[[ "${1:-}" =~ ^(-h|--help)$ ]] && { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; }
usage="usage: bench/viewer.sh [MB] [RUNS] [INTERACTIVE] (MB and RUNS from 1 to 9999, INTERACTIVE 0 or 1)"
for n in "${@:1:2}"; do
  [[ "$n" =~ ^[1-9][0-9]{0,3}$ ]] || { echo "$usage" >&2; exit 2; }
done
[[ -z "${3:-}" || "${3:-}" =~ ^[01]$ ]] || { echo "$usage" >&2; exit 2; }
[ $# -le 3 ] || { echo "$usage" >&2; exit 2; }
cd "$(dirname "$0")/.."
scripts/install-deps >&2
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target vorn_viewer_bench >/dev/null
QT_QPA_PLATFORM=offscreen build/bench/bench/vorn_viewer_bench "${1:-20}" "${2:-5}" "${3:-1}"
