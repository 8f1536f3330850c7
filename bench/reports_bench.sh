#!/usr/bin/env bash
# Builds the library (Release) and the report-writer benchmark, then runs it
# for the record counts given (default: 20000 and 200000).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKELTOOLS_TESTS=OFF >/dev/null
cmake --build build-release -j2 --target keltools >/dev/null
g++ -std=c++20 -O2 -Wall -Wextra -DVARNOCK_VERSION=\"bench\" -Ikeltools/include bench/reports_bench.cpp \
    build-release/libkeltools.a -o build-release/reports_bench
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(20000 200000)
for n in "${sizes[@]}"; do
    build-release/reports_bench "$n"
done
