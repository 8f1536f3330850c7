#!/usr/bin/env bash
# Builds the tests of the threaded code under ThreadSanitizer and runs them.
# BUILD_DIR may name another build directory; TSAN_TESTS lists the test
# programs (default: the sorts' and the analyzer's whole runs, whose trade
# files are read ahead on a second thread).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=${BUILD_DIR:-build-tsan}
tests=${TSAN_TESTS:-record_sort_test text_sort_test sort_safety_test array_sort_test analyzer_run_test fault_analyzer_test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELTOOLS_TSAN=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $tests
# A report fails the test, and the whole run stops at the first.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -R "^($(echo $tests | tr ' ' '|'))\$"
