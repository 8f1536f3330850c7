#!/usr/bin/env bash
# Builds varnock and runs it on the bundled sample trade files in examples/;
# the outputs land in examples/out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target varnock
rm -rf examples/out && mkdir -p examples/out
cp examples/sdelki*.xls examples/out/ 2>/dev/null || true
cd examples/out
../../build/varnock </dev/null
ls -l
echo "The reports are in examples/out/: report.html (all years), report-YYYY.html (one per year)"
echo "and profit.html (realised profit by FIFO lots, tax estimate, statistics, months, chart, open"
echo "positions); trades.csv and lots.csv open in a spreadsheet."
