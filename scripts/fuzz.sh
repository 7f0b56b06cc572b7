#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (installing what is missing) and runs each over its seeds in
# fuzz/corpus/<name>/ and then for SECONDS seconds on new inputs (default 60; 0 runs the seeds only). New inputs
# go to a temporary corpus, so the repository's seeds stay as they are. Prints each target's executions per second
# and coverage, and exits non-zero when any target fails, keeping the input that made it fail in
# build/fuzz/findings/<name>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/ensure-packages.sh clang-15 libfuzzer-15-dev llvm-15 cmake ninja-build qt6-base-dev libgl-dev \
    qtkeychain-qt6-dev qt6-httpserver-dev qt6-websockets-dev qt6-networkauth-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# Stack traces of findings name functions and lines.
export ASAN_SYMBOLIZER_PATH=/usr/bin/llvm-symbolizer-15
export UBSAN_OPTIONS=print_stacktrace=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz/logs build/fuzz/findings
if [ "$seconds" -gt 0 ]; then
    budget=(-max_total_time="$seconds")
else
    budget=(-runs=0)
fi

passed=0
failed=()
for seeds in fuzz/corpus/*/; do
    name=$(basename "$seeds")
    target=build/fuzz/bin/fuzz_$name
    log=build/fuzz/logs/$name.log
    findings=build/fuzz/findings/$name
    mkdir -p "$work/$name" "$findings"
    status=0
    "$target" "$work/$name" "$seeds" "${budget[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
    # The last status line gives the coverage; the final statistics the speed.
    coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
    speed=$(grep -o 'average_exec_per_sec: *[0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$' || true)
    runs=$(grep -o 'number_of_executed_units: *[0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$' || true)
    if [ "$status" -eq 0 ]; then
        printf '%-16s %10s runs %8s exec/s   cov: %s\n' "$name" "${runs:-?}" "${speed:-?}" "${coverage:-?}"
        passed=$((passed + 1))
    else
        printf '%-16s FAILED (status %s); input kept in %s, log in %s\n' "$name" "$status" "$findings" "$log"
        grep -E 'ERROR|oracle failed|runtime error|SUMMARY|^artifact_prefix|Test unit written' "$log" | head -n 20 || true
        failed+=("$name")
    fi
done

[ ${#failed[@]} -eq 0 ] || echo "Findings in: ${failed[*]}"
echo "fuzz targets without findings: $passed of $((passed + ${#failed[@]}))"
[ ${#failed[@]} -eq 0 ]
