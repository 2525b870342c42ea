#!/usr/bin/env bash
# Times the main window's search (offscreen, the real window and pump throttle) against
# vorn-find writing to a file, on the kernel tree, in the same run. Each figure is the best of
# RUNS runs (default 5) after one warm-up run of each, so the page cache is warm for both.
# Beside the wall times stand the processor times (all threads, user and system), which a
# machine busy with other work disturbs less.
#
#   bench/window.sh            # prints a table of times, ratios, memory and pump gaps
# Builds in build/bench; bench/kernel-tree installs and unpacks the kernel source (1.5 GB) once.
set -euo pipefail
[[ "${1:-}" =~ ^(-h|--help)$ ]] && { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; }
[ $# -eq 0 ] || { echo "usage: bench/window.sh (RUNS=N in the environment)" >&2; exit 2; }
cd "$(dirname "$0")/.."
runs="${RUNS:-5}"
scripts/install-deps >&2
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target vorn-find window_bench >/dev/null
tree="$(bench/kernel-tree)"
find_bin=build/bench/search/vorn-find
window_bin=build/bench/bench/window_bench
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
field() { awk -v k="$1" '$1 == k { print $2 }' "$2"; }
best() { sort -g | head -1; }
calc() { awk "BEGIN { print $1 }"; }
max() { sort -g | tail -1; }

# measure NAME QUERY: fills $work/NAME.find, $work/NAME.window (one line per run) and the
# last run's window report.
measure() {
  local name="$1" query="$2"
  # The window lists the lines of binary files too; -a has vorn-find list them as well.
  "$find_bin" -a -r "$tree" '*.*' "$query" >"$work/$name.out"
  "$window_bin" -r "$tree" '*.*' "$query" >"$work/$name.report" 2>/dev/null
  : >"$work/$name.find"; : >"$work/$name.window"; : >"$work/$name.gap"; : >"$work/$name.pump"
  : >"$work/$name.peak"; : >"$work/$name.findcpu"; : >"$work/$name.windowcpu"
  for _ in $(seq "$runs"); do
    local t0 t1 TIMEFORMAT='%U %S'
    t0="$(now)"
    { time "$find_bin" -a -r "$tree" '*.*' "$query" >"$work/$name.out" 2>&3; } 3>&2 2>"$work/times"
    t1="$(now)"
    calc "$t1 - $t0" >>"$work/$name.find"
    awk '{ print $1 + $2 }' "$work/times" >>"$work/$name.findcpu"
    "$window_bin" -r "$tree" '*.*' "$query" >"$work/$name.report" 2>/dev/null
    field seconds "$work/$name.report" >>"$work/$name.window"
    field cpu_seconds "$work/$name.report" >>"$work/$name.windowcpu"
    field longest_gap_ms "$work/$name.report" >>"$work/$name.gap"
    field longest_pump_ms "$work/$name.report" >>"$work/$name.pump"
    field peak_kb "$work/$name.report" >>"$work/$name.peak"
  done
  if [ "$(field hits "$work/$name.report")" != "$(wc -l <"$work/$name.out")" ]; then
    echo "$name: the window and vorn-find found different numbers of lines" >&2
    exit 1
  fi
}

# The share of processor time the machine's host took away (steal) over the whole bench.
steal() { awk '/^cpu / { print $9, $2 + $3 + $4 + $5 + $6 + $7 + $8 + $9 }' /proc/stat; }
steal_at_start="$(steal)"
measure pm PM_RESUME
measure int int
measure inc include

# The list of the int run paged through and repainted, its memory beyond the line texts, and
# Save Results As of it against vorn-find printing the same lines to a file.
"$window_bin" -p -s "$work/saved" -r "$tree" '*.*' int >"$work/rows.report" 2>/dev/null
rm -f "$work/saved"

# "Match Case" turned over in the middle of a 1 GB file the workers search ahead: the run
# searches the rest again on the GUI thread, and must keep pumping meanwhile.
mkdir "$work/big"
find "$tree/kernel" -name '*.c' -print0 | xargs -0 cat >"$work/big/part"
while [ "$(stat -c %s "$work/big/big.c" 2>/dev/null || echo 0)" -lt 1073741824 ]; do
  cat "$work/big/part" >>"$work/big/big.c"
done
rm -f "$work/big/part"
: >"$work/big.gap"
for _ in $(seq "$runs"); do
  "$window_bin" -t 100 "$work/big/" '*' int >"$work/big.report" 2>/dev/null
  field longest_gap_ms "$work/big.report" >>"$work/big.gap"
done
rm -f "$work/big/big.c"

printf '%-34s %10s %10s %7s %7s %10s %10s %7s\n' "case (recursive, \"*.*\")" "vorn-find" \
  "window" "ratio" "limit" "find cpu" "window cpu" "ratio"
for c in "pm PM_RESUME 1.3" "int int 1.3" "inc include 1.05"; do
  set -- $c
  f="$(best <"$work/$1.find")"; w="$(best <"$work/$1.window")"
  fc="$(best <"$work/$1.findcpu")"; wc="$(best <"$work/$1.windowcpu")"
  printf '%-34s %9.3fs %9.3fs %6.2fx %6.2fx %9.3fs %9.3fs %6.2fx\n' \
    "$2 ($(field hits "$work/$1.report") hits)" "$f" "$w" "$(calc "$w / $f")" "$3" \
    "$fc" "$wc" "$(calc "$wc / $fc")"
done
bytes="$(field result_bytes "$work/int.report")"
peak="$(max <"$work/int.peak")"
printf '\nint: result lines %.1f MB; window peak memory %.1f MB (limit 2 x lines + 100 MB = %.1f MB)\n' \
  "$(calc "$bytes / 1048576")" "$(calc "$peak / 1024")" \
  "$(calc "2 * $bytes / 1048576 + 100")"
printf 'longest stretch without an event pump: int %.1f ms, PM_RESUME %.1f ms, option changed inside a 1 GB file %.1f ms (limit 50 ms)\n' \
  "$(max <"$work/int.gap")" "$(max <"$work/pm.gap")" "$(max <"$work/big.gap")"
printf 'int, %s rows: slowest page scrolled and repainted %.1f ms (mean %.1f, limit 16 ms; processor time of the slowest %.1f ms, mean %.1f; it waited %.1f ms for a processor, slept %s times, %s page faults from disk); %.1f bytes a row beyond the line texts (limit 64)\n' \
  "$(field hits "$work/rows.report")" "$(field slowest_page_ms "$work/rows.report")" \
  "$(field mean_page_ms "$work/rows.report")" "$(field slowest_page_cpu_ms "$work/rows.report")" \
  "$(field mean_page_cpu_ms "$work/rows.report")" "$(field slowest_page_wait_ms "$work/rows.report")" \
  "$(field slowest_page_sleeps "$work/rows.report")" "$(field slowest_page_disk_faults "$work/rows.report")" \
  "$(field row_bytes "$work/rows.report")"
f="$(best <"$work/int.find")"; s="$(field save_seconds "$work/rows.report")"
fc="$(best <"$work/int.findcpu")"; sc="$(field save_cpu_seconds "$work/rows.report")"
printf 'Save Results As of the int rows %.3fs against vorn-find printing them %.3fs: %.2fx (limit 1.5x); processor time %.3fs against %.3fs: %.2fx\n' \
  "$s" "$f" "$(calc "$s / $f")" "$sc" "$fc" "$(calc "$sc / $fc")"
printf 'longest single pump (events, repaint, list layout): int %.1f ms, PM_RESUME %.1f ms\n' \
  "$(max <"$work/int.pump")" "$(max <"$work/pm.pump")"
echo "runs: $runs each, best time; both at the default thread count (one per online CPU)"
read -r s0 t0 <<<"$steal_at_start"; read -r s1 t1 <<<"$(steal)"
echo "machine: $(nproc) online cores, load $(cut -d' ' -f1-3 /proc/loadavg), host took $(calc "int(100 * ($s1 - $s0) / ($t1 - $t0) + 0.5)")% of the processor time (steal)"
