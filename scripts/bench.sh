#!/usr/bin/env bash
# Builds Zorvik with its benchmarks, runs every benchmark of bench/ and prints one table: each
# measure, its baseline (measured in the same run), the ratio and the goal. Each benchmark's
# own output goes to <build>/bench-logs/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORVIK_BUILD_DIR:-$root/build}"
source "$root/scripts/deps.sh"
zorvik_configure "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2
logs="$build/bench-logs"
mkdir -p "$logs"
export QT_QPA_PLATFORM=offscreen

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'),"\
     "$(free -g | awk '/^Mem:/ {print $2}') GiB, $(. /etc/os-release && echo "$PRETTY_NAME"), $(date -u +%F)"
echo
for bin in "$build"/bench/*/bench_*; do
    name="$(basename "$bin")"
    # The start-up benchmark's helper programs are run by bench_startup itself.
    case "$name" in bench_startup_*) continue ;; esac
    [ -x "$bin" ] || continue
    (cd "$(dirname "$bin")" && "$bin" >"$logs/$name.log" 2>&1) || true
done

printf '| %s | %s | %s | %s | %s | %s | %s |\n' measure ours baseline "baseline value" ratio goal verdict
printf '|---|---|---|---|---|---|---|\n'
cat "$logs"/*.log | awk -F'\t' '$1 == "BENCH" {
    printf "| %s | %s | %s | %s | %s | %s | %s |\n", $2, $3, $4, $5, $6, $7, $8 }'
