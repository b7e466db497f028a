#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan on) and runs each one
# for FUZZ_SECONDS (default 60) from its seed corpus in tests/fuzz/corpus/<target>/.
# New inputs go to a scratch corpus, so the committed seeds stay small. A crash leaves its
# input in the build folder and fails the script.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORVIK_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
source "$root/scripts/deps.sh"
CC=clang CXX=clang++ zorvik_configure "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZORVIK_FUZZ=ON -DZORVIK_BUILD_TESTS=OFF -DZORVIK_BUILD_BENCH=OFF
cmake --build "$build" -j2 --target $(cd "$root/tests/fuzz" && ls fuzz_*.cpp | sed 's/\.cpp$//')

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
printf '%-16s %12s %8s\n' target executions result
for src in "$root"/tests/fuzz/fuzz_*.cpp; do
    name="$(basename "$src" .cpp)"
    target="${name#fuzz_}"
    scratch="$build/corpus-$target"
    mkdir -p "$scratch"
    log="$build/$name.log"
    if "$build/tests/fuzz/$name" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
        -rss_limit_mb=4096 -artifact_prefix="$build/$name-" -print_final_stats=1 \
        "$scratch" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
    fi
    runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')"
    printf '%-16s %12s %8s\n' "$target" "$runs" "$result"
    [ "$result" = ok ] || tail -n 40 "$log"
done
exit $status
