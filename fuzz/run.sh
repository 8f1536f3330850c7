#!/usr/bin/env bash
# Fuzzes every target, one after the other, for SECONDS seconds each (default 60).
# Each target grows a working corpus under the build directory, seeded from
# fuzz/corpus/<name>/; crashes land in build-fuzz/artifacts/.  Prints, per target,
# the seconds run, the executions and the executions per second.
# Usage: fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}
shift || true
# The targets, built through CMake with clang (FUZZ_CXX to choose another).
cmake -S "$root" -B "$out" -DKELTOOLS_FUZZ=ON -DKELTOOLS_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER="${FUZZ_CC:-clang}" -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++}" >/dev/null
cmake --build "$out" -j2 >/dev/null
mkdir -p "$out/artifacts" "$out/logs" "$out/scratch"
if [ $# -gt 0 ]; then names=("$@"); else
  names=()
  for target in "$root"/fuzz/*_fuzz.cpp; do names+=("$(basename "${target%_fuzz.cpp}")"); done
fi
status=0
for name in "${names[@]}"; do
  corpus="$out/corpus/$name"
  mkdir -p "$corpus"
  log="$out/logs/$name.log"
  extra=()
  # Every dropped data file leaves its cache entry behind (by design), so each
  # run allocates more than it frees and would trigger a full leak scan.
  [ "$name" = datafile ] && extra+=(-detect_leaks=0)
  # The run's console lines would flood the log; sanitizer reports still show.
  [ "$name" = pipeline ] && extra+=(-close_fd_mask=2)
  if (cd "$out/scratch" && "$out/fuzz/${name}_fuzz" -max_total_time="$seconds" -print_final_stats=1 "${extra[@]}" \
        -artifact_prefix="$out/artifacts/${name}-" "$corpus" "$root/fuzz/corpus/$name" >"$log" 2>&1); then
    result=ok
  else
    result=FAILED
    status=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  speed=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  echo "$name: $result, ${seconds}s, ${runs:-0} runs, ${speed:-0} exec/s (log $log)"
done
exit $status
