#!/usr/bin/env bash
# Peak resident memory of the preview scan: a 1 GB drilling file and a file whose hole line is
# 100 MB long, against the same program doing nothing. The files are removed afterwards.
#   bench/reader_memory.sh [path of bench_reader_scan] [folder, default /tmp]
set -euo pipefail
program="${1:-build/bench/bench_reader_scan}"
folder="${2:-/tmp}"
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package 'time')"; exit 1; }
big="$folder/cnc-memory-$$.drl"
line="$folder/cnc-memory-$$-line.drl"
trap 'rm -f "$big" "$line"' EXIT

"$program" make-drl "$big" 1000
"$program" make-line "$line" 100

peak_kb() {  # the peak RSS reported by /usr/bin/time -v, in KB
    /usr/bin/time -v "$program" "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'
}
base=$(peak_kb none)
echo "empty program:                      peak RSS ${base} KB"
for case in "$big:1 GB drilling file" "$line:one 100 MB line"; do
    file="${case%%:*}"
    what="${case#*:}"
    kb=$(peak_kb drl "$file")
    printf 'scan of %-27s peak RSS %s KB (+%s KB over empty; file %s MB)\n' "$what:" "$kb" \
        "$((kb - base))" "$(($(stat -c %s "$file") / 1000000))"
done
