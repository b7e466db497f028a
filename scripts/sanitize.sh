#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole
# test suite under them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORVIK_ASAN_BUILD_DIR:-$root/build-asan}"
source "$root/scripts/deps.sh"
zorvik_configure "$build" -DCMAKE_BUILD_TYPE=Debug -DZORVIK_SANITIZE=ON -DZORVIK_BUILD_BENCH=OFF
cmake --build "$build" -j2
cd "$build"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp"
ctest --output-on-failure --timeout 900 -j2
