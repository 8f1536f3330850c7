#!/usr/bin/env bash
# Sorting benchmarks: sortfile against GNU sort (LC_ALL=C, same memory budget,
# one thread) on random lines and on equal lines, and fsort on 16-byte
# records against an in-memory std::sort.  Prints one row per case; never
# fails on speed, only when outputs differ.
#
#   bash bench/sort_bench.sh            full sizes (200 MB of text, 100 MB of records)
#   SMALL=1 bash bench/sort_bench.sh    a quick run on 20 MB and 10 MB
#   REPEAT=n                            best of n runs per program (default 1)
#
# Inputs and temporary files go to a fresh directory under $TMPDIR (or /tmp),
# removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELTOOLS_TESTS=OFF >/dev/null
cmake --build "$build" --target keltools -j2 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/sort_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
for prog in sort_text_bench sort_records_bench; do
  g++ -O2 -std=c++20 -Ikeltools/include "bench/$prog.cpp" "$build/keltools/libkeltools.a" -o "$work/$prog"
done

text_mb=200 rec_mb=100
if [ -n "${SMALL:-}" ]; then text_mb=20 rec_mb=10; fi
repeat=${REPEAT:-1}
mkdir "$work/tmp"

"$work/sort_text_bench" gen-random "$work/random.txt" "$text_mb" 1
for budget in 67108864 8388608 1048576; do
  "$work/sort_text_bench" run random "$work/random.txt" "$budget" "$work/tmp" "$repeat"
done
rm -f "$work/random.txt"

"$work/sort_text_bench" gen-equal "$work/equal.txt" "$text_mb"
for budget in 67108864 1048576; do
  "$work/sort_text_bench" run equal "$work/equal.txt" "$budget" "$work/tmp" "$repeat"
done
rm -f "$work/equal.txt"

"$work/sort_records_bench" "$work/records.bin" "$rec_mb" 16777216 "$work/tmp"
