#!/usr/bin/env bash
# Builds varnock and runs it on the bundled sample trade files in samples/;
# the outputs land in samples/out/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target varnock
rm -rf samples/out && mkdir -p samples/out
cp samples/sdelki*.xls samples/out/ 2>/dev/null || true
cd samples/out
../../build/varnock </dev/null
ls -l
