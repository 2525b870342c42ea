#!/usr/bin/env bash
# Times vorn-find against single-threaded ripgrep and GNU grep on a Linux kernel tree, warm
# cache, in one run, prints the ratios and peak memory, and checks that vorn-find's hits
# are grep's hits.
#   bench/search.sh            (builds vorn-find first)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/.."
"$root/scripts/install-deps" ripgrep hyperfine time >&2
tree="$("$here/kernel-tree")"
"$root/scripts/build" default >&2
vorn="$root/build/default/search/vorn-find"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# name | vorn-find args | rg args | grep args | output (pipe or file)
cases=(
  "PM_RESUME|-r -c|-n -F|-rnF|pipe"
  "PM_RESUME, ignore case|-r|-n -i -F|-rniF|pipe"
  "PM_RESUME, whole word|-r -c -w|-n -w -F|-rnwF|pipe"
  "int, 1.7M hits, to a file|-r -c|-n -F|-rnF|file"
)

printf '%-28s %9s %9s %9s %8s %8s %9s %9s\n' case vorn_s rg_s grep_s vs_rg vs_grep vorn_MB rg_MB
for c in "${cases[@]}"; do
  IFS='|' read -r name vargs rargs gargs output <<<"$c"
  query="${name%%,*}"
  out="pipe"
  [ "$output" = file ] && out="$work/out.txt"
  hyperfine --style none --warmup 1 --runs 5 --output="$out" --export-json "$work/h.json" \
    "$vorn $vargs '$tree' '*.*' $query" \
    "rg -j1 -uuu $rargs $query '$tree'" \
    "grep $gargs $query '$tree'" >/dev/null 2>&1
  read -r tv tr tg < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print(*[x["median"] for x in r])' "$work/h.json")
  mv=$( { /usr/bin/time -f %M $vorn $vargs "$tree" '*.*' $query >/dev/null; } 2>&1 )
  mr=$( { /usr/bin/time -f %M rg -j1 -uuu $rargs $query "$tree" >"$work/rg.txt"; } 2>&1 )
  python3 -c 'import sys; v,r,g,mv,mr=map(float,sys.argv[2:7]); print("%-28s %9.3f %9.3f %9.3f %8.2f %8.2f %9.1f %9.1f" % (sys.argv[1],v,r,g,v/r,v/g,mv/1024,mr/1024))' \
    "$name" "$tv" "$tr" "$tg" "$mv" "$mr"
done

# The literal query's hits, as (file, 0-based line), must equal grep's (grep counts from 1,
# and the recursive listing skips names beginning with ".").
"$vorn" -r -c "$tree" '*.*' PM_RESUME >"$work/vorn.txt"
grep -rnFZa PM_RESUME "$tree" >"$work/grep.txt" || true
python3 - "$work/vorn.txt" "$work/grep.txt" <<'PY'
import re, sys
vorn = set()
for line in open(sys.argv[1], 'rb'):
    m = re.match(rb'(.*?) \((\d+)\)  :  ', line)
    vorn.add((m.group(1), int(m.group(2))))
grep = set()
for line in open(sys.argv[2], 'rb'):
    path, rest = line.split(b'\0', 1)
    if any(part.startswith(b'.') for part in path.split(b'/') if part not in (b'.', b'..')):
        continue
    grep.add((path, int(rest.split(b':', 1)[0]) - 1))
print("hits: vorn-find %d, grep %d, %s" % (len(vorn), len(grep), "same set" if vorn == grep else "DIFFERENT"))
sys.exit(0 if vorn == grep else 1)
PY
