#!/usr/bin/env bash
# Builds Zorvik with its tests and benchmarks and runs every test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORVIK_BUILD_DIR:-$root/build}"
source "$root/scripts/deps.sh"
zorvik_install_deps

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2
cd "$build"
ctest --output-on-failure --timeout 600 -j2
