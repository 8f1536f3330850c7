#!/usr/bin/env bash
# Builds the fuzz targets and runs each once over every input of its seed corpus
# (fuzz/corpus/<name>/), regression inputs included.  No fuzzing: a few seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_BUILD_DIR:-$root/build-fuzz}
# The targets, built through CMake with clang (FUZZ_CXX to choose another).
cmake -S "$root" -B "$out" -DKELTOOLS_FUZZ=ON -DKELTOOLS_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER="${FUZZ_CC:-clang}" -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++}" >/dev/null
cmake --build "$out" -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "$root"/fuzz/*_fuzz.cpp; do
  name=$(basename "${target%_fuzz.cpp}")
  inputs=("$root/fuzz/corpus/$name"/*)
  if [ ! -e "${inputs[0]}" ]; then
    echo "replay $name: no corpus" >&2
    status=1
    continue
  fi
  # Run inside a scratch directory: some targets write files of their own.
  if (cd "$work" && "$out/fuzz/${name}_fuzz" -runs=1 "${inputs[@]}" >"$work/$name.log" 2>&1); then
    echo "replay $name: ${#inputs[@]} inputs ok"
  else
    echo "replay $name: FAILED" >&2
    tail -n 40 "$work/$name.log" >&2
    status=1
  fi
done
exit $status
