#!/usr/bin/env bash
# Builds the report-writer benchmark (Release), then runs it
# for the record counts given (default: 20000 and 200000).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKELTOOLS_TESTS=OFF -DKELTOOLS_BENCH=ON >/dev/null
cmake --build build-release -j2 --target reports_bench >/dev/null
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(20000 200000)
for n in "${sizes[@]}"; do
    build-release/bench/reports_bench "$n"
done
