#!/usr/bin/env bash
# Times vorn-find against ripgrep and GNU grep on a Linux kernel tree, all tools in the same
# run, and against the floor (a bare walk-and-read of the tree, built here), and prints the
# ratios, peak memory and the machine's core count; checks that vorn-find's hits are grep's.
#   bench/search.sh            warm cache (RUNS=N runs each, default 5, after a warm-up)
#   bench/search.sh --cold     also the rare literal with the page cache dropped before each
#                              run, at the default thread count and at -j 8 (root only)
#   KERNEL_TREE=DIR bench/search.sh   searches that unpacked kernel tree
# Installs ripgrep, hyperfine and the kernel source if missing (bench/kernel-tree unpacks
# 1.5 GB once) and builds vorn-find in build/bench.
set -euo pipefail
[[ "${1:-}" =~ ^(-h|--help)$ ]] && { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; }
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/.."
cold=0
case "${1:-}" in
  "") ;;
  --cold) cold=1 ;;
  *) echo "usage: bench/search.sh [--cold]" >&2; exit 2 ;;
esac
if [ "$cold" = 1 ] && [ "$(id -u)" -ne 0 ]; then
  echo "bench/search.sh --cold drops the page cache and must run as root" >&2
  exit 2
fi
runs="${RUNS:-5}"
"$root/scripts/install-deps" ripgrep hyperfine time git >&2
# KERNEL_TREE names an unpacked tree to use instead of the one bench/kernel-tree makes.
tree="${KERNEL_TREE:-$("$here/kernel-tree")}"
(cd "$root" && cmake --preset bench >/dev/null && cmake --build --preset bench -j2 --target vorn-find walk_read_floor >&2)
vorn="$root/build/bench/search/vorn-find"
floor="$root/build/bench/bench/walk_read_floor"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# median seconds of each command, in order, then their mean CPU seconds (user + system): on a
# busy machine the CPU times compare more steadily than the wall times.
timed() {
  local out="$1"; shift
  hyperfine --style none --warmup 1 --runs "$runs" --output="$out" --export-json "$work/h.json" \
    "$@" >/dev/null 2>&1
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print(*[x["median"] for x in r], *[x["user"] + x["system"] for x in r])' \
    "$work/h.json"
}
# The command's own messages (vorn-find's binary files, say) stay out of the figure; time
# puts a line on a failing status before it.
peak_mb() {
  /usr/bin/time -f %M -o "$work/peak_mb" "$@" >/dev/null 2>&1 || true
  awk 'END { printf "%.1f", $1 / 1024 }' "$work/peak_mb"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# A query with letters beyond ASCII, ignoring case: rare in the tree, as the rare literal.
nonascii='müller'
# name | vorn-find args | rg args | grep args | output | query
cases=(
  "rare literal|-r -s|-n -F|-rnF|pipe|PM_RESUME"
  "rare literal, ignore case|-r|-n -i -F|-rniF|pipe|PM_RESUME"
  "rare literal, whole word|-r -s -w|-n -w -F|-rnwF|pipe|PM_RESUME"
  "int, 1.7M hits, to a file|-r -s|-n -F|-rnF|file|int"
  "non-ASCII, ignore case|-r|-n -i -F|-rniF|pipe|$nonascii"
)

echo "machine: $(nproc) online cores, load $(cut -d' ' -f1-3 /proc/loadavg); median of $runs warm runs"
echo
printf '%-28s %9s %9s %7s %6s %8s %8s %9s\n' "default threads" vorn_s rg_s ratio target vorn_MB rg_MB cpu_ratio
for c in "${cases[@]}"; do
  IFS='|' read -r name vargs rargs gargs output query <<<"$c"
  out=pipe
  [ "$output" = file ] && out="$work/out.txt"
  read -r tv tr cv cr < <(timed "$out" "$vorn $vargs '$tree' '*.*' $query" "rg -uuu $rargs $query '$tree'")
  printf '%-28s %9.3f %9.3f %7s %6s %8s %8s %9s\n' "$name" "$tv" "$tr" "$(ratio "$tv" "$tr")" 1.0 \
    "$(peak_mb $vorn $vargs "$tree" '*.*' $query)" "$(peak_mb rg -uuu $rargs $query "$tree")" \
    "$(ratio "$cv" "$cr")"
done
echo
printf '%-28s %9s %9s %9s %7s %6s %8s %6s %9s\n' "one thread" vorn_s rg_s grep_s vs_rg target vs_grep target cpu_ratios
for c in "${cases[@]}"; do
  IFS='|' read -r name vargs rargs gargs output query <<<"$c"
  out=pipe
  [ "$output" = file ] && out="$work/out.txt"
  read -r tv tr tg cv cr cg < <(timed "$out" "$vorn -j 1 $vargs '$tree' '*.*' $query" \
    "rg -j1 -uuu $rargs $query '$tree'" "grep $gargs $query '$tree'")
  # Beyond ASCII the target is rg -i's time; grep folds such letters only in a UTF-8 locale.
  target=1.0
  printf '%-28s %9.3f %9.3f %9.3f %7s %6s %8s %6s %9s\n' "$name" "$tv" "$tr" "$tg" \
    "$(ratio "$tv" "$tr")" "$target" "$(ratio "$tv" "$tg")" 0.6 "$(ratio "$cv" "$cr")/$(ratio "$cv" "$cg")"
done

# The floor: no search of the tree can beat listing it and reading every file. The rare
# literal against it, at one thread and at the default count, each pair in the same run.
echo
printf '%-28s %9s %9s %7s %6s\n' "rare literal vs floor" vorn_s floor_s ratio target
for j in "-j 1|-j 1|one thread" "||default threads"; do
  IFS='|' read -r vj fj label <<<"$j"
  read -r tv tf _ _ < <(timed pipe "$vorn $vj -r -s '$tree' '*.*' PM_RESUME" "$floor $fj '$tree'")
  printf '%-28s %9.3f %9.3f %7s %6s\n' "$label" "$tv" "$tf" "$(ratio "$tv" "$tf")" 1.10
done

# A git work tree of the kernel: a copy of the tree (hard links where it can), with the
# Debian package's last .gitignore lines dropped (they leave out everything at the top, as
# its packaging repository wants), "git init" and "git add" made once into bench/cache/.
# vorn-find --ignore-files against ripgrep's default, which respects the same files, with
# the user's own git config kept out of both; and the same files listed (links to files
# aside: vorn-find lists them, ripgrep without -L does not).
gtree="$here/cache/linux-git"
if [ ! -f "$gtree/.made" ]; then
  rm -rf "$gtree"
  cp -al "$tree" "$gtree" 2>/dev/null || { rm -rf "$gtree"; cp -a "$tree" "$gtree"; }
  sed -i '/^# Debian packaging/,$d' "$gtree/.gitignore"
  (cd "$gtree" && HOME="$work" GIT_CONFIG_NOSYSTEM=1 git init -q . && HOME="$work" GIT_CONFIG_NOSYSTEM=1 git add -A)
  touch "$gtree/.made"
fi
echo
printf '%-28s %9s %9s %7s %6s %9s\n' "--ignore-files in a work tree" vorn_s rg_s ratio target cpu_ratio
for j in "-j 1|-j1|one thread" "||default threads"; do
  IFS='|' read -r vj rj label <<<"$j"
  read -r tv tr cv cr < <(HOME="$work" XDG_CONFIG_HOME="$work" GIT_CONFIG_NOSYSTEM=1 timed pipe \
    "$vorn $vj -r -s --ignore-files '$gtree' '*.*' PM_RESUME" "rg $rj -n -F PM_RESUME '$gtree'")
  printf '%-28s %9.3f %9.3f %7s %6s %9s\n' "$label" "$tv" "$tr" "$(ratio "$tv" "$tr")" 1.0 "$(ratio "$cv" "$cr")"
done
HOME="$work" XDG_CONFIG_HOME="$work" "$vorn" -r -l -a -E --ignore-files "$gtree" '*.*' '^' >"$work/vorn-l.txt" || true
HOME="$work" XDG_CONFIG_HOME="$work" rg -l -a '^' "$gtree" >"$work/rg-l.txt" || true
python3 - "$work/vorn-l.txt" "$work/rg-l.txt" <<'PY'
import os, sys
vorn = {p for p in open(sys.argv[1], 'rb').read().split(b'\n') if p and not os.path.islink(p)}
rg = {p for p in open(sys.argv[2], 'rb').read().split(b'\n') if p}
print("--ignore-files files listed: vorn-find %d, rg %d, %s" % (len(vorn), len(rg), "same set" if vorn == rg else "DIFFERENT"))
PY

echo
# The binary check looks only at files with hits, so the rare literal costs what it costs
# with -a, which turns the check off.
read -r tb ta cb ca < <(timed pipe "$vorn -r -s '$tree' '*.*' PM_RESUME" \
  "$vorn -r -s -a '$tree' '*.*' PM_RESUME")
printf 'binary check, rare literal: %.3f s, with -a %.3f s, ratio %s (target 1.02), cpu ratio %s\n' \
  "$tb" "$ta" "$(ratio "$tb" "$ta")" "$(ratio "$cb" "$ca")"

# Documentation/ in UTF-8 and converted to UTF-16LE with a mark (its UTF-8 text files, made
# once into bench/cache): vorn-find on UTF-16 against itself on UTF-8 and against ripgrep.
docs="$here/cache/docs"
if [ ! -f "$docs/.made" ]; then
  rm -rf "$docs"
  python3 - "$tree/Documentation" "$docs/utf8" "$docs/utf16" <<'PY'
import os, sys
src, utf8, utf16 = sys.argv[1:]
for top, dirs, files in os.walk(src):
    for name in files:
        path = os.path.join(top, name)
        if os.path.islink(path) or not os.path.isfile(path):
            continue
        data = open(path, 'rb').read()
        try:
            text = data.decode('utf-8')
        except UnicodeDecodeError:
            continue
        rel = os.path.relpath(path, src)
        for base, blob in ((utf8, data), (utf16, b'\xff\xfe' + text.encode('utf-16-le'))):
            out = os.path.join(base, rel)
            os.makedirs(os.path.dirname(out), exist_ok=True)
            open(out, 'wb').write(blob)
PY
  touch "$docs/.made"
fi
read -r t16 t8 tr c16 c8 cr < <(timed pipe "$vorn -r -s '$docs/utf16' '*.*' PM_RESUME" \
  "$vorn -r -s '$docs/utf8' '*.*' PM_RESUME" "rg -uuu -n -F PM_RESUME '$docs/utf16'")
printf 'UTF-16 Documentation/, rare literal: %.3f s; UTF-8 %.3f s, ratio %s (target 2.0); rg %.3f s, ratio %s (target 1.0); cpu ratios %s/%s\n' \
  "$t16" "$t8" "$(ratio "$t16" "$t8")" "$tr" "$(ratio "$t16" "$tr")" "$(ratio "$c16" "$c8")" \
  "$(ratio "$c16" "$cr")"
same16="$(cmp -s <("$vorn" -r -s "$docs/utf16" '*.*' PM_RESUME | sed "s|^$docs/utf16/||") \
  <("$vorn" -r -s "$docs/utf8" '*.*' PM_RESUME | sed "s|^$docs/utf8/||") && echo same || echo DIFFERENT)"
echo "UTF-16 hits against UTF-8 hits: $same16"

# The encoding check on a UTF-8 tree: the rare literal in Automatic against the bytes as they
# are (--encoding=utf-8 looks at no head).
read -r ta tu ca cu < <(timed pipe "$vorn -r -s '$tree' '*.*' PM_RESUME" \
  "$vorn -r -s --encoding=utf-8 '$tree' '*.*' PM_RESUME")
printf 'encoding check, rare literal: %.3f s, with --encoding=utf-8 %.3f s, ratio %s (target 1.02), cpu ratio %s\n' \
  "$ta" "$tu" "$(ratio "$ta" "$tu")" "$(ratio "$ca" "$cu")"

# 10,000 text files of the tree in Windows-1252 and the same in UTF-8: decoding against
# reading the bytes as they are.
legacy="$("$here/cp1252-tree" "$tree")"
read -r tw t8 cw c8 < <(timed pipe "$vorn -r -s '$legacy/cp1252' '*' PM_RESUME" \
  "$vorn -r -s '$legacy/utf8' '*' PM_RESUME")
printf 'Windows-1252 tree (%s files with bytes beyond ASCII), rare literal: %.3f s; UTF-8 %.3f s, ratio %s (target 1.5), cpu ratio %s\n' \
  "$(LC_ALL=C grep -rlP '[\x80-\xff]' "$legacy/cp1252" | wc -l)" "$tw" "$t8" "$(ratio "$tw" "$t8")" "$(ratio "$cw" "$c8")"
samecp="$(cmp -s <("$vorn" -r -s "$legacy/cp1252" '*' 'Müller' | sed "s|^$legacy/cp1252/||") \
  <("$vorn" -r -s "$legacy/utf8" '*' 'Müller' | sed "s|^$legacy/utf8/||") && echo same || echo DIFFERENT)"
echo "Windows-1252 hits for Müller against UTF-8 hits: $samecp"

# Documentation/ gzipped file by file (made once under /tmp): -z against rg -z.
gz="${TMPDIR:-/tmp}/vorn-bench-gz"
if [ ! -f "$gz/.made" ]; then
  rm -rf "$gz"
  mkdir -p "$gz"
  cp -r "$tree/Documentation" "$gz/"
  find "$gz/Documentation" -type f -print0 | xargs -0 -P2 -n 200 gzip -f
  touch "$gz/.made"
fi
read -r tz tr cz cr < <(timed pipe "$vorn -z -r -s '$gz' '*' PM_RESUME" "rg -z -n -F PM_RESUME '$gz'")
printf 'gzipped Documentation/, rare literal: -z %.3f s, rg -z %.3f s, ratio %s (target 1.0), cpu ratio %s\n' \
  "$tz" "$tr" "$(ratio "$tz" "$tr")" "$(ratio "$cz" "$cr")"
samegz="$(cmp -s <("$vorn" -z -r -s "$gz" '*' PM_RESUME | sed 's/ (\([0-9]*\))  :  .*/ \1/' | sort) \
  <(rg -z -n -F PM_RESUME "$gz" | awk -F: '{ print $1 " " $2 - 1 }' | sort) && echo same || echo DIFFERENT)"
echo "-z hits against rg -z hits: $samegz"

# Regular expressions, matching case: patterns with a required literal against ripgrep at its
# default thread count and at one thread (target 1.0), patterns without one (target 1.5), and
# a plain literal with -E against the same literal without it (target 1.05).
# pattern @ target
regex_cases=(
  'PM_[A-Z]+@1.0'
  '[A-Z]+_SUSPEND@1.0'
  'kmalloc\w*\(@1.0'
  '(foo|bar)_ops@1.0'
  '[a-z]{25,}@1.5'
  '\b\d{6}\b@1.5'
)
echo
printf '%-34s %9s %9s %7s %6s %9s %9s %7s %8s %8s\n' "regex, matching case" vorn_s rg_s ratio target \
  vorn_j1_s rg_j1_s ratio_j1 vorn_MB rg_MB
for c in "${regex_cases[@]}"; do
  pattern="${c%@*}"
  target="${c##*@}"
  name="$pattern"
  read -r tv tr cv cr < <(timed pipe "$vorn -r -s -E '$tree' '*.*' '$pattern'" \
    "rg -uuu -n '$pattern' '$tree'")
  read -r tv1 tr1 cv1 cr1 < <(timed pipe "$vorn -j 1 -r -s -E '$tree' '*.*' '$pattern'" \
    "rg -j1 -uuu -n '$pattern' '$tree'")
  printf '%-34s %9.3f %9.3f %7s %6s %9.3f %9.3f %7s %8s %8s\n' "$name" "$tv" "$tr" \
    "$(ratio "$tv" "$tr")" "$target" "$tv1" "$tr1" "$(ratio "$tv1" "$tr1")" \
    "$(peak_mb $vorn -r -s -E "$tree" '*.*' "$pattern")" "$(peak_mb rg -uuu -n "$pattern" "$tree")"
done
read -r tl tp cl cp < <(timed pipe "$vorn -r -s -E '$tree' '*.*' PM_RESUME" \
  "$vorn -r -s '$tree' '*.*' PM_RESUME")
printf '%-34s %9.3f %9.3f %7s %6s   (vorn-find -E against vorn-find)\n' "plain literal PM_RESUME with -E" \
  "$tl" "$tp" "$(ratio "$tl" "$tp")" 1.05

# Whole words with a pattern whose alternatives begin alike: every match that stands whole
# counts, whatever the order (target 1.0 against rg -w at the same thread count).
ww='spin_lock|spin_lock_irqsave'
read -r tv tr cv cr < <(timed pipe "$vorn -r -s -w -E '$tree' '*.*' '$ww'" "rg -uuu -n -w '$ww' '$tree'")
read -r tv1 tr1 cv1 cr1 < <(timed pipe "$vorn -j 1 -r -s -w -E '$tree' '*.*' '$ww'" \
  "rg -j1 -uuu -n -w '$ww' '$tree'")
printf '%-34s %9.3f %9.3f %7s %6s %9.3f %9.3f %7s   cpu ratios %s/%s\n' "-w -E $ww" "$tv" "$tr" \
  "$(ratio "$tv" "$tr")" 1.0 "$tv1" "$tr1" "$(ratio "$tv1" "$tr1")" "$(ratio "$cv" "$cr")" \
  "$(ratio "$cv1" "$cr1")"
# grep's outputs against ripgrep's at the same thread count (the machine's cores): context,
# the matches alone and the JSON stream, matching case (target 1.0).
# name | vorn-find args | rg args | output | query
output_cases=(
  "-C 2, rare literal|-C 2|-n -F -C 2|pipe|PM_RESUME"
  "-C 2, int, to a file|-C 2|-n -F -C 2|file|int"
  "-o, [A-Z]+_SUSPEND|-E -o|-n -o|pipe|[A-Z]+_SUSPEND"
  "--json, rare literal|--json|--json -F|pipe|PM_RESUME"
  "--json, int, to a file|--json|--json -F|file|int"
)
cores="$(nproc)"
echo
printf '%-34s %9s %9s %7s %6s %9s\n' "outputs, -j $cores both" vorn_s rg_s ratio target cpu_ratio
for c in "${output_cases[@]}"; do
  IFS='|' read -r name vargs rargs output query <<<"$c"
  out=pipe
  [ "$output" = file ] && out="$work/out.txt"
  read -r tv tr cv cr < <(timed "$out" "$vorn -j $cores -r -s $vargs '$tree' '*.*' '$query'" \
    "rg -j $cores -uuu $rargs '$query' '$tree'")
  printf '%-34s %9.3f %9.3f %7s %6s %9s\n' "$name" "$tv" "$tr" "$(ratio "$tv" "$tr")" 1.0 \
    "$(ratio "$cv" "$cr")"
done

# A sparse 8 GB disk image with no line break beside a small file: memory stays bounded and
# the small file's hit is printed.
mkdir "$work/sparse"
printf 'x\n' >"$work/sparse/a.txt"
truncate -s 8G "$work/sparse/disk.img"
start=$(date +%s.%N)
/usr/bin/time -f %M -o "$work/peak" "$vorn" "$work/sparse" '*' x >"$work/sparse.out"
secs=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
mb="$(awk '{ printf "%.1f", $1 / 1024 }' "$work/peak")"
hits="$(wc -l <"$work/sparse.out")"
rm -f "$work/sparse/disk.img"
echo
echo "8 GB sparse file, no line break: peak ${mb} MB (target 32), ${secs} s, hits $hits (expected 1)"

if [ "$cold" = 1 ]; then
  drop='sync; echo 3 >/proc/sys/vm/drop_caches'
  hyperfine --style none --runs 3 --prepare "$drop" --export-json "$work/h.json" \
    "$vorn -r -s '$tree' '*.*' PM_RESUME" "rg -uuu -n -F PM_RESUME '$tree'" \
    "rg -j1 -uuu -n -F PM_RESUME '$tree'" "$vorn -j 8 -r -s '$tree' '*.*' PM_RESUME" >/dev/null 2>&1
  read -r tv tr tr1 tv8 < <(python3 -c 'import json,sys; print(*[x["median"] for x in json.load(open(sys.argv[1]))["results"]])' "$work/h.json")
  echo
  printf 'cold cache, rare literal: vorn-find %.2f s, rg %.2f s (ratio %s, target 1.0), rg -j1 %.2f s\n' \
    "$tv" "$tr" "$(ratio "$tv" "$tr")" "$tr1"
  printf 'cold cache, default threads against -j 8: %.2f s / %.2f s = %s (target 1.1)\n' \
    "$tv" "$tv8" "$(ratio "$tv" "$tv8")"
fi

# Whether vorn-find's result lines ($1) name the same (file, 0-based line) pairs as another
# tool's "path\0line:text" lines ($2), which count from 1; names beginning with "." are left
# out, as the recursive listing skips them. $3 says what is compared.
same_hits() {
  python3 - "$1" "$2" "$3" <<'PY'
import re, sys
vorn = set()
for line in open(sys.argv[1], 'rb'):
    m = re.match(rb'(.*?) \((\d+)\)  :  ', line)
    vorn.add((m.group(1), int(m.group(2))))
other = set()
for line in open(sys.argv[2], 'rb'):
    path, rest = line.split(b'\0', 1)
    if any(part.startswith(b'.') for part in path.split(b'/') if part not in (b'.', b'..')):
        continue
    other.add((path, int(rest.split(b':', 1)[0]) - 1))
print("%s: vorn-find %d, other %d, %s" % (sys.argv[3], len(vorn), len(other), "same set" if vorn == other else "DIFFERENT"))
sys.exit(0 if vorn == other else 1)
PY
}

# The literal query's hits must equal grep's.
"$vorn" -r -s -a "$tree" '*.*' PM_RESUME >"$work/vorn.txt"
grep -rnFZa PM_RESUME "$tree" >"$work/grep.txt" || true
same_hits "$work/vorn.txt" "$work/grep.txt" "hits against grep"

# Ignoring case beyond ASCII, the hits must be rg -i's (both fold letters by Unicode's simple
# case folding).
"$vorn" -r "$tree" '*.*' "$nonascii" >"$work/vorn-i.txt"
rg -uuu -n -i -F --null "$nonascii" "$tree" >"$work/rg-i.txt" || true
same_hits "$work/vorn-i.txt" "$work/rg-i.txt" "hits of $nonascii ignoring case against rg -i"

# Whole words by a pattern: both orders of the alternatives give grep -E -w's lines.
grep -rnZawE "$ww" "$tree" >"$work/grep-w.txt" || true
for order in "$ww" 'spin_lock_irqsave|spin_lock'; do
  "$vorn" -r -s -a -w -E "$tree" '*.*' "$order" >"$work/vorn-w.txt"
  same_hits "$work/vorn-w.txt" "$work/grep-w.txt" "hits of -w -E '$order' against grep -E -w"
done

# Regular expressions: the hits of 50-odd patterns, with and without matching case, must be
# grep -P's (REGEX_CHECK=0 skips this check, which takes a few minutes).
if [ "${REGEX_CHECK:-1}" != 0 ]; then
  echo
  VORN_FIND="$vorn" "$here/regex-check.sh" "$tree" | tail -n 1
fi
