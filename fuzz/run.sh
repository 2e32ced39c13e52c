#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while.
# Usage: fuzz/run.sh [seconds-per-target]   (default 20)
# Exits non-zero when a target finds a crash, leak, timeout or broken check;
# the input is kept under build-fuzz/run/<target>/artifacts/.
set -euo pipefail

seconds=${1:-20}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
build=$repo/build-fuzz
targets=(leading_value record_score answer_mapping record_request)

start=$(date +%s)
mkdir -p "$build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >"$build/configure.log" 2>&1 \
    || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j 2
echo "fuzz build: $(($(date +%s) - start)) s"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$here/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LANG=C.UTF-8 LC_ALL=C.UTF-8

failed=0
for target in "${targets[@]}"; do
    work=$build/run/$target
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    # A copy, so that what the run learns stays out of the repository.
    cp -- "$here/corpus/$target/"* "$work/corpus/"

    status=0
    (cd "$work" && "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" corpus) >"$work/log" 2>&1 || status=$?

    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log" | tail -1)
    findings=$(find "$work/artifacts" -type f | wc -l)
    if [[ $status -ne 0 || $findings -ne 0 ]]; then
        failed=1
        echo "fuzz_$target: FAILED (exit $status, ${runs:-?} runs, $findings finding(s)); log: $work/log"
        grep -E 'ERROR|SUMMARY|runtime error|^(LeadingValue|record file|record request|key 0x)' "$work/log" | head -20 || true
        for artifact in "$work/artifacts"/*; do
            [[ -f $artifact ]] && echo "  $(basename "$artifact"): $(od -An -tx1 -v "$artifact" | tr -s ' \n' ' ' | cut -c1-400)"
        done
    else
        echo "fuzz_$target: ok, ${runs:-?} runs in ${seconds} s (${rate:-?} exec/s)"
    fi
done
exit $failed
