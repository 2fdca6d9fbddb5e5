#!/bin/sh
# Runs every fuzz target built in build-fuzz for the given seconds each, from
# the committed seeds in fuzz/corpus/<target>/ plus what earlier runs found
# (build-fuzz/corpus/<target>/), as many at once as there are processors. An
# input that crashes is saved beside the seeds, so the tests replay it from
# then on. Prints one line per target.
set -u
seconds=${1:-60}
build=${2:-build-fuzz}
cd "$(dirname "$0")/.."
at_once=$(nproc 2>/dev/null || echo 1)

fuzz_one() {
    name=$(basename "$1")
    mkdir -p "$build/corpus/$name" "fuzz/corpus/$name"
    log="$build/$name.log"
    "$1" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
        -print_final_stats=1 -artifact_prefix="fuzz/corpus/$name/" \
        "$build/corpus/$name" "fuzz/corpus/$name" >"$log" 2>&1
    echo $? >"$build/$name.status"
}

running=0
for target in "$build"/fuzz_*; do
    [ -x "$target" ] || continue
    fuzz_one "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$at_once" ]; then
        wait
        running=0
    fi
done
wait

status=0
for target in "$build"/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    log="$build/$name.log"
    result=$(cat "$build/$name.status" 2>/dev/null || echo 1)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    units=$(ls "$build/corpus/$name" | wc -l)
    if [ "$result" -eq 0 ]; then
        echo "$name: ${runs:-?} executions in ${seconds}s, coverage ${cov:-?} edges, ${ft:-?} features, corpus $units"
    else
        echo "$name: FAILED (status $result), see $log; the input is in fuzz/corpus/$name/"
        grep -m 5 -E 'ERROR|SUMMARY|check failed|runtime error' "$log"
        status=1
    fi
done
exit $status
