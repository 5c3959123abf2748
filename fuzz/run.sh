#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time, one after another.
#   fuzz/run.sh [seconds per target, default 60] [target ...]
# Targets: drill_scan drill_fetch plot_scan plot_fetch numbers param_file prep_excellon prep_hpgl
# prep_gerber
# (default: all).
# Work corpora and crash files go to build-fuzz/; the committed seeds in fuzz/corpus/ are
# only read. Exits 1 when a target crashed, leaked or timed out (its input is kept in
# build-fuzz/crashes/), 2 when clang is missing or the targets do not build.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="$root/build-fuzz"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
    targets=(drill_scan drill_fetch plot_scan plot_fetch numbers param_file prep_excellon prep_hpgl
             prep_gerber)

if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is not installed (Debian: clang, libclang-rt-dev)" >&2
    exit 2
fi
cmake -G Ninja -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 2
ninja -C "$build" -j"${JOBS:-2}" $(printf '%s_fuzz ' "${targets[@]}") || exit 2

failed=()
for target in "${targets[@]}"; do
    work="$build/corpus/$target"
    mkdir -p "$work" "$build/crashes"
    seeds="$here/corpus/${target%%_*}"
    [ "$target" = numbers ] && seeds="$here/corpus/numbers"
    [ "$target" = param_file ] && seeds="$here/corpus/param"
    [[ "$target" = prep_* ]] && seeds="$here/corpus/$target"
    echo "== $target: $seconds s"
    max_len=8192
    [ "$target" = numbers ] && max_len=4096
    [ "$target" = param_file ] && max_len=128
    status=0
    "$build/${target}_fuzz" "$work" "$seeds" -max_total_time="$seconds" -max_len="$max_len" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/${target}-" >"$build/$target.log" 2>&1 || status=$?
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::new_units_added|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' \
        "$build/$target.log" || true
    [ "$status" -eq 0 ] || failed+=("$target")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: ${failed[*]} failed; inputs in $build/crashes, logs in $build/*.log" >&2
    exit 1
fi
echo "fuzz: no failure in ${#targets[@]} targets"
