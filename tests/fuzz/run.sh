#!/bin/sh
# run.sh FUZZ_BUILD SECONDS
# Runs each fuzz target for SECONDS on a working copy of its seeds and
# prints one line per target: executions, edges covered, features, corpus.
# An input that breaks a check is kept in FUZZ_BUILD/found/; copied into
# tests/fuzz/regressions/TARGET/, it becomes part of the ordinary tests.
build=$1
seconds=$2
here=$(dirname "$0")
found=0
mkdir -p "$build/found"
printf '%-10s %12s %8s %8s %8s  %s\n' target executions edges features corpus result
for target in engine decoder list_file; do
    work="$build/corpus/$target"
    mkdir -p "$work"
    cp "$here/corpus/$target"/* "$work/"
    log="$build/$target.log"
    "$build/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$build/found/$target-" "$work" >"$log" 2>&1
    status=$?
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
    edges=$(echo "$last" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
    features=$(echo "$last" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')
    corpus=$(echo "$last" | sed -n 's/.*corp: \([0-9]*\).*/\1/p')
    if [ $status -eq 0 ]; then result=clean; else result="FOUND (see $log)"; found=1; fi
    printf '%-10s %12s %8s %8s %8s  %s\n' "$target" "${runs:-?}" "${edges:-?}" "${features:-?}" "${corpus:-?}" "$result"
done
if [ $found -ne 0 ]; then
    ls "$build/found"
    exit 1
fi
