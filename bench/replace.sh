#!/usr/bin/env bash
# Times vorn-find's replace on a Linux kernel tree, every row in the same run, and prints the
# ratios with the machine's core count and load:
#   - --replace=TEXT (nothing written) against the plain search of the same pattern;
#   - --in-place of spin_lock_irqsave by spin_lock_irqsave_x on one copy of the tree against
#     rg -l0 | xargs -0 sed -i on an identical copy (vorn-find flushes each file to disk, sed
#     does not), then diff -r of the two copies, which must be identical.
#   bench/replace.sh                 RUNS=N timed runs of the first row (default 3)
#   KERNEL_TREE=DIR bench/replace.sh uses that unpacked kernel tree
#   VORN_FIND=PATH bench/replace.sh  times that vorn-find instead of building build/bench
#   COPIES=DIR bench/replace.sh      makes the two copies under DIR (default: the temporary
#                                    folder); they are removed at the end
# Installs ripgrep, hyperfine and the kernel source if missing.
set -euo pipefail
[[ "${1:-}" =~ ^(-h|--help)$ ]] && { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; }
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/.."
runs="${RUNS:-3}"
"$root/scripts/install-deps" ripgrep hyperfine >&2
tree="${KERNEL_TREE:-$("$here/kernel-tree")}"
vorn="${VORN_FIND:-}"
if [ -z "$vorn" ]; then
  (cd "$root" && cmake --preset bench >/dev/null && cmake --build --preset bench -j2 --target vorn-find >&2)
  vorn="$root/build/bench/search/vorn-find"
fi
work="$(mktemp -d "${COPIES:-${TMPDIR:-/tmp}}/vorn-replace-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'; }

echo "machine: $(nproc) online cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-44s %9s %9s %7s %6s\n' "" vorn_s other_s ratio target

# Only the matches printed where the search has -o; else its whole hit lines, as --replace.
only=""
"$vorn" --help | grep -q -- '^  -o' && only="-o"
hyperfine --style none --warmup 1 --runs "$runs" --export-json "$work/h.json" \
  "$vorn -r -s --replace=spin_lock_irqsave_x '$tree' '*' spin_lock_irqsave" \
  "$vorn -r -s $only '$tree' '*' spin_lock_irqsave" >/dev/null 2>&1
read -r tr ts < <(python3 -c 'import json,sys; print(*[x["median"] for x in json.load(open(sys.argv[1]))["results"]])' "$work/h.json")
printf '%-44s %9.3f %9.3f %7s %6s\n' "--replace, nothing written, vs search ${only:-(lines)}" \
  "$tr" "$ts" "$(ratio "$tr" "$ts")" 1.05

# Two identical copies; their bytes read once so both runs start from a warm cache. rg
# leaves out what .gitignore files name unless told not to (-u); both skip hidden names.
cp -a "$tree" "$work/ours"
cp -a "$tree" "$work/sed"
find "$work/ours" "$work/sed" -type f -print0 | xargs -0 cat >/dev/null 2>&1 || true
sync
tv=$(seconds sh -c "'$vorn' -r -s --replace=spin_lock_irqsave_x --in-place '$work/ours' '*' spin_lock_irqsave 2>'$work/summary'")
tsed=$(seconds sh -c "rg -u -l0 spin_lock_irqsave '$work/sed' | xargs -0 sed -i s/spin_lock_irqsave/spin_lock_irqsave_x/g")
printf '%-44s %9.3f %9.3f %7s %6s\n' "--in-place vs rg -l0 | xargs -0 sed -i" "$tv" "$tsed" \
  "$(ratio "$tv" "$tsed")" 1.5
files=$(rg -u -l spin_lock_irqsave_x "$work/ours" | wc -l)
lines=$(rg -u -c spin_lock_irqsave_x "$work/ours" | awk -F: '{ n += $NF } END { print n }')
echo "replaced: $lines lines in $files files; vorn-find said: $(tail -1 "$work/summary"), $(grep -c 'left alone' "$work/summary" || true) files left alone"
grep 'left alone' "$work/summary" | head -5 || true
if diff -r "$work/ours" "$work/sed" >"$work/diff" 2>&1; then
  echo "diff -r of the two copies: identical"
else
  echo "diff -r of the two copies: DIFFERENT ($(grep -c '^diff\|^Only\|^Binary' "$work/diff") entries)"
  head -20 "$work/diff"
fi
leftover=$(find "$work/ours" -name '.*.vorn-??????' | wc -l)
echo "temporary files left: $leftover"
