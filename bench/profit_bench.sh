#!/usr/bin/env bash
# What "profit.html" costs within whole runs on generated trade directories:
# the analyzer's steps timed one by one (bench/profit_bench.cpp, best of three
# by page share), and whole runs of the built varnock for reference.
#
#   bash bench/profit_bench.sh [ROWS...]     (default: 200000)
#
# Figures only; nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELTOOLS_TESTS=OFF -DKELTOOLS_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target varnock analyzer_gen profit_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rows_list=("$@")
[[ ${#rows_list[@]} -eq 0 ]] && rows_list=(200000)
for rows in "${rows_list[@]}"; do
    dir=$work/d$rows
    "$build/bench/analyzer_gen" "$dir" "$rows" 4 1
    echo "$rows rows:"
    for _ in 1 2 3; do
        (cd "$dir" && "$root/$build/bench/profit_bench" </dev/null 2>/dev/null)
    done
    for _ in 1 2 3; do
        start=$(date +%s%N)
        (cd "$dir" && "$root/$build/varnock" </dev/null >/dev/null 2>&1)
        end=$(date +%s%N)
        awk "BEGIN{printf \"  whole varnock run: %.3f s, profit.html %d bytes\n\", ($end - $start) / 1e9, $(stat -c %s "$dir/profit.html")}"
    done
    rm -rf "$dir"
done
