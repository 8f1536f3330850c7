#!/usr/bin/env bash
# Wildcard matching: fnmatch1 against the recursive matcher it replaced, on
# 8 star groups against a long name.  Arguments go to the program:
#   bash bench/fnmatch_bench.sh [N] [LIMIT_SECONDS]   (defaults 10000 and 10)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELTOOLS_TESTS=OFF >/dev/null
cmake --build "$build" --target keltools -j2 >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/fnmatch_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
g++ -O2 -std=c++20 -Ikeltools/include -Itests/support bench/fnmatch_bench.cpp "$build/libkeltools.a" \
  -o "$work/fnmatch_bench"
"$work/fnmatch_bench" "$@"
