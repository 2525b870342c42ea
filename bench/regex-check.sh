#!/usr/bin/env bash
# Checks vorn-find's regular expressions against GNU grep -P (PCRE2 as well, told to use
# Unicode properties with "(*UCP)") over a kernel tree: for every pattern, with and without
# matching case, the sets of (file, 0-based line) must be equal. Only text files count (no NUL
# and no CR byte: grep breaks lines at LF only), and blank lines are never hits.
#
#   bench/regex-check.sh [DIR]     DIR: the tree (default: the benchmarks' kernel tree)
set -euo pipefail
[[ "${1:-}" =~ ^(-h|--help)$ ]] && { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; }
[ $# -le 1 ] || { echo "usage: bench/regex-check.sh [DIR]" >&2; exit 2; }
[ $# -eq 0 ] || [ -d "$1" ] || { echo "bench/regex-check.sh: $1: not a folder" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/.."
tree="${1:-$("$here/kernel-tree")}"
vorn="${VORN_FIND:-$root/build/default/search/vorn-find}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 - "$vorn" "$tree" "$work" <<'PY'
import os, subprocess, sys
vorn, tree, work = sys.argv[1:]
patterns = [
    r"PM_[A-Z]+", r"[A-Z]+_SUSPEND", r"kmalloc\w*\(", r"(foo|bar)_ops", r"[a-z]{25,}",
    r"\b\d{6}\b", r"^#include <linux/[a-z]+\.h>$", r"^\s*return -E[A-Z]+;$", r"\bstatic inline\b",
    r"0x[0-9a-fA-F]{16}", r"(?<=\()void\)", r"\bgoto [a-z_]+_unlock;", r"spin_(un)?lock_irq",
    r"EXPORT_SYMBOL(_GPL)?\(\w+\);", r"\bu(8|16|32|64)\b \w+\[\d+\]", r"/\* [A-Z][a-z]+ [a-z]+ \*/",
    r"^\t{6}\S", r"[^\x00-\x7F]", r"\p{Greek}", r"\p{Lu}\p{Ll}+\p{Lu}", r"[äöü]", r"(?i)straße",
    r"Torvalds", r"[Cc]opyright \(C\) 19\d\d", r"\bTODO\b|\bFIXME\b", r"\s+$", r"^$",
    r"^[^ \t#/*]", r"struct \w+_operations \w+ = \{", r"\.owner\s*=\s*THIS_MODULE", r"(\w)\1{5}",
    r"\bdev_(err|warn|info)\(", r"mutex_(lock|unlock)\(&\w+->\w+\)", r"\bunlikely\(!\w+\)",
    r"^\}$", r"\bint\b", r"x86", r"\b[A-Z]{2,}_[A-Z]{2,}_[A-Z]{2,}\b", r"\d+\.\d+\.\d+",
    r"https?://\S+", r"\bpr_(debug|err)\(\"", r"(?:if|while) \(.*\) \{$", r"\bsizeof\(\*\w+\)",
    r"list_for_each_entry(_safe)?\(", r"[A-Za-z]+ing\b", r"\bBUG_ON\(", r"^\s*\*\s@\w+:",
    r"\bcase [A-Z_0-9]+:$", r"£|€|©", r"[\x{4e00}-\x{9fff}]", r"ſ|K", r"Jürgen|José|Müller",
]
def text_files():
    keep = set()
    for d, dirs, files in os.walk(tree):
        dirs[:] = [x for x in dirs if not x.startswith('.')]
        for f in files:
            if f.startswith('.'):
                continue
            p = os.path.join(d, f)
            if not os.path.isfile(p) or os.path.islink(p):
                continue
            with open(p, 'rb') as fh:
                data = fh.read()
            if b'\0' not in data and b'\r' not in data:
                keep.add(p.encode())
    return keep
texts = text_files()
def vorn_set(pattern, case):
    out = subprocess.run([vorn, '-r', '-E'] + (['-s'] if case else []) + [tree, '*.*', pattern],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    s = set()
    for line in out.split(b'\n'):
        if not line:
            continue
        head, _, rest = line.partition(b')  :  ')
        path, _, num = head.rpartition(b' (')
        if path in texts:
            s.add((path, int(num)))
    return s
def grep_set(pattern, case):
    out = subprocess.run(['grep', '-P', '-a', '-rnZ'] + ([] if case else ['-i']) + ['(*UCP)' + pattern, tree],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         env=dict(os.environ, LC_ALL='C.UTF-8')).stdout
    s = set()
    for line in out.split(b'\n'):
        if not line:
            continue
        path, rest = line.split(b'\0', 1)
        num, _, text = rest.partition(b':')
        if path not in texts or all(c <= 32 for c in text):
            continue
        s.add((path, int(num) - 1))
    return s
bad = 0
for pattern in patterns:
    for case in (True, False):
        v, g = vorn_set(pattern, case), grep_set(pattern, case)
        same = v == g
        bad += not same
        print("%-40s %-9s vorn-find %8d grep %8d %s" % (pattern, "case" if case else "caseless", len(v), len(g), "same" if same else "DIFFERENT"))
print("%d patterns x 2: %s" % (len(patterns), "all the same" if bad == 0 else "%d differ" % bad))
sys.exit(1 if bad else 0)
PY
