#!/usr/bin/env bash
# Prints how many main-loop passes per second cncmirel-sim runs, on a drilling and a milling job
# of over a million steps each (100 steps per mm, a 700 x 700 mm table).
#   tools/sim/measure-speed.sh [path/to/cncmirel-sim]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
sim="${1:-$here/build/tools/sim/cncmirel-sim}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# One little-endian signed 32-bit value (all values here are below 2^16).
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8)))\\x00\\x00"; }
for v in 0 0 0 100 100 100 700 700 50 1 3 100 0 0 10; do le32 "$v"; done >"$work/Param.ini"

{
    echo "M48"
    for i in 1 2 3 4; do echo "X690Y690"; echo "X0Y0"; done
    echo "M30"
} >"$work/holes.drl"
{
    printf 'IN;\nPU;\nPA0,0;\nPD;\n'
    for i in 1 2 3 4; do printf 'PA650,600;\nPA0,10;\n'; done
    printf 'PU;\nPA0,0;\n'
} >"$work/strokes.plt"

for job in holes.drl strokes.plt; do
    start=$(date +%s%N)
    "$sim" run "$work/$job" --params "$work/Param.ini" >"$work/out"
    end=$(date +%s%N)
    awk -v job="$job" -v ns=$((end - start)) '$1 == "done" {
        printf "%-12s %9d passes in %.3f s: %.2f million passes per second\n",
               job, $6, ns / 1e9, $6 / (ns / 1e9) / 1e6 }' "$work/out"
done
