#!/usr/bin/env bash
# Times what the legacy encodings and the compressed files cost, each pair of commands run in
# turn (A, B, A, B, ...) in the same run, and prints the medians of the wall times and of the
# CPU times (user + system) with their ratios, the load beside each row:
#   - the rare-literal rows on the Linux tree against the build before the encodings came
#     (commit bc4b67c, built once into bench/cache/base), target 1.02;
#   - 10,000 files in Windows-1252 against the same files in UTF-8, target 1.5;
#   - -z on Documentation/ gzipped file by file against rg -z, target 1.0;
#   - -z on Documentation/ as one .tar.gz against the same tar unpacked, for the record.
#   RUNS=N bench/encodings.sh     N runs of each command (default 7), after a warm-up
#   KERNEL_TREE=DIR bench/encodings.sh   searches that unpacked kernel tree
#   BASE_VORN=FILE bench/encodings.sh     times that vorn-find as the build before
set -euo pipefail
[[ "${1:-}" =~ ^(-h|--help)$ ]] && { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; }
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/.."
runs="${RUNS:-7}"
base_commit=bc4b67c
"$root/scripts/install-deps" ripgrep time git gzip tar >&2
tree="${KERNEL_TREE:-$("$here/kernel-tree")}"
(cd "$root" && cmake --preset bench >/dev/null && cmake --build --preset bench -j2 --target vorn-find >&2)
vorn="$root/build/bench/search/vorn-find"
base_src="$here/cache/base"
if [ -z "${BASE_VORN:-}" ] && [ ! -x "$base_src/build/bench/search/vorn-find" ]; then
  rm -rf "$base_src"
  mkdir -p "$base_src"
  git -C "$root" archive "$base_commit" | tar -x -C "$base_src"
  (cd "$base_src" && cmake --preset bench >/dev/null && cmake --build --preset bench -j2 --target vorn-find >&2)
fi
base="${BASE_VORN:-$base_src/build/bench/search/vorn-find}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Runs two commands in turn, runs times each after one warm-up of each, and prints the medians
# of their wall and CPU seconds: "wallA wallB cpuA cpuB".
pair() {
  local a="$1" b="$2" i
  : >"$work/a" && : >"$work/b"
  bash -c "$a" >/dev/null 2>&1 || true
  bash -c "$b" >/dev/null 2>&1 || true
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -a -o "$work/a" -f '%e %U %S' bash -c "$a" >/dev/null 2>&1 || true
    /usr/bin/time -a -o "$work/b" -f '%e %U %S' bash -c "$b" >/dev/null 2>&1 || true
  done
  python3 - "$work/a" "$work/b" <<'PY'
import statistics, sys
def rows(path):
    out = []
    for line in open(path):
        parts = line.split()
        if len(parts) == 3:
            try:
                out.append([float(x) for x in parts])
            except ValueError:
                pass
    return out
a, b = rows(sys.argv[1]), rows(sys.argv[2])
med = lambda xs: statistics.median(xs)
print(med([r[0] for r in a]), med([r[0] for r in b]), med([r[1] + r[2] for r in a]),
      med([r[1] + r[2] for r in b]))
PY
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }
row() {
  local name="$1" target="$2" a="$3" b="$4" ta tb ca cb
  read -r ta tb ca cb < <(pair "$a" "$b")
  printf '%-40s %8.3f %8.3f %7s %8.3f %8.3f %7s %6s  %s\n' "$name" "$ta" "$tb" "$(ratio "$ta" "$tb")" \
    "$ca" "$cb" "$(ratio "$ca" "$cb")" "$target" "$(load)"
}
header() {
  echo
  printf '%-40s %8s %8s %7s %8s %8s %7s %6s  %s\n' "$1" "$2_s" "$3_s" ratio "$2_cpu" "$3_cpu" \
    cpu_rat target "load (1, 5, 15 min)"
}

echo "machine: $(nproc) online cores; medians of $runs alternating warm runs of each command"

header "rare literal, new build against $base_commit" new base
for j in "|default threads" "-j 1 |one thread"; do
  IFS='|' read -r vj label <<<"$j"
  for c in "-s|rare literal" "|rare literal, ignore case" "-s -w|rare literal, whole word"; do
    IFS='|' read -r args name <<<"$c"
    row "$name, $label" 1.02 "$vorn $vj-r $args '$tree' '*.*' PM_RESUME" \
      "$base $vj-r $args '$tree' '*.*' PM_RESUME"
  done
done

# 10,000 text files of the tree in Windows-1252 and the same in UTF-8 (bench/search.sh
# uses the same).
legacy="$("$here/cp1252-tree" "$tree")"
header "10,000 files, Windows-1252 against UTF-8" cp1252 utf8
row "rare literal" 1.5 "$vorn -r -s '$legacy/cp1252' '*' PM_RESUME" "$vorn -r -s '$legacy/utf8' '*' PM_RESUME"
row "Müller, found in the decoded text" 1.5 "$vorn -r -s '$legacy/cp1252' '*' Müller" \
  "$vorn -r -s '$legacy/utf8' '*' Müller"
same="$(cmp -s <("$vorn" -r -s "$legacy/cp1252" '*' 'Müller' | sed "s|^$legacy/cp1252/||") \
  <("$vorn" -r -s "$legacy/utf8" '*' 'Müller' | sed "s|^$legacy/utf8/||") && echo same || echo DIFFERENT)"
echo "Windows-1252 hits for Müller against UTF-8 hits: $same"

# Documentation/ gzipped file by file (made once under /tmp, as bench/search.sh makes it), and
# as one tar, plain and gzipped.
gz="${TMPDIR:-/tmp}/vorn-bench-gz"
if [ ! -f "$gz/.made" ]; then
  rm -rf "$gz"
  mkdir -p "$gz"
  cp -r "$tree/Documentation" "$gz/"
  find "$gz/Documentation" -type f -print0 | xargs -0 -P2 -n 200 gzip -f
  touch "$gz/.made"
fi
tars="$here/cache/doc-tar"
if [ ! -f "$tars/.made" ]; then
  rm -rf "$tars"
  mkdir -p "$tars/plain" "$tars/gz"
  tar -C "$tree" -cf "$tars/plain/Documentation.tar" Documentation
  gzip -c "$tars/plain/Documentation.tar" >"$tars/gz/Documentation.tar.gz"
  touch "$tars/.made"
fi
header "compressed files and archives" vorn other
row "-z, Documentation/ gzipped, against rg -z" 1.0 "$vorn -z -r -s '$gz' '*' PM_RESUME" \
  "rg -z -n -F PM_RESUME '$gz'"
row "-z, Documentation.tar.gz against .tar" - "$vorn -z -s '$tars/gz' '*' PM_RESUME" \
  "$vorn -z -s '$tars/plain' '*' PM_RESUME"
row "-z, Documentation.tar.gz against gzip -dc" - "$vorn -z -s '$tars/gz' '*' PM_RESUME" \
  "gzip -dc '$tars/gz/Documentation.tar.gz' >/dev/null"
samegz="$(cmp -s <("$vorn" -z -r -s "$gz" '*' PM_RESUME | sed 's/ (\([0-9]*\))  :  .*/ \1/' | sort) \
  <(rg -z -n -F PM_RESUME "$gz" | awk -F: '{ print $1 " " $2 - 1 }' | sort) && echo same || echo DIFFERENT)"
echo "-z hits against rg -z hits: $samegz"
