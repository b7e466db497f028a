#!/usr/bin/env bash
# Builds Zorvik with its tests and benchmarks and runs every test: the unit, widget and smoke
# tests; then a short run of each fuzz target (scripts/fuzz.sh); then the whole suite again
# under AddressSanitizer and UndefinedBehaviorSanitizer (scripts/sanitize.sh).
# ZORVIK_QUICK_TESTS=1 runs only the first part.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORVIK_BUILD_DIR:-$root/build}"
source "$root/scripts/deps.sh"
zorvik_configure "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2
(cd "$build" && ctest --output-on-failure --timeout 600 -j2)

if [ "${ZORVIK_QUICK_TESTS:-0}" = 1 ]; then
    exit 0
fi
echo "== fuzzing, ${FUZZ_SECONDS:-60} s per target"
bash "$root/scripts/fuzz.sh"
echo "== the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
bash "$root/scripts/sanitize.sh"
