#!/usr/bin/env bash
# The viewer's loading speed: a 20 MB plain-text file with the hit near its end, offscreen,
# against QPlainTextEdit::setPlainText of the same text, crafted RTF, and then how quick the
# shown viewer stays on a 5 MB single line and at the 256 MB ceiling (1 s to open, 50 ms a
# key, caret or scroll step). Usage: bench/viewer.sh [MB] [runs] [interactive: 1 or 0]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default -DVORN_BUILD_BENCH=ON >/dev/null
cmake --build --preset default -j2 --target vorn_viewer_bench >/dev/null
QT_QPA_PLATFORM=offscreen build/default/bench/vorn_viewer_bench "${1:-20}" "${2:-5}" "${3:-1}"
