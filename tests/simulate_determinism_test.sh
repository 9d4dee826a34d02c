#!/usr/bin/env bash
# One seed replays byte for byte, its trace and its tills' log lines in one stream; a range
# of seeds prints the same whatever the number of jobs.
#   simulate_determinism_test.sh SIMULATE KNOWN_FAILURES
set -euo pipefail
simulate=$1 known=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for run in 1 2; do
    "$simulate" --seed 11 --trace --trace-json "$work/json$run" --known-failures "$known" \
        >"$work/trace$run" 2>&1 || true
done
cmp "$work/trace1" "$work/trace2"
cmp "$work/json1" "$work/json2"
grep -q '"actor":"till"' "$work/json1"
grep -q ' INFO oxlenpay: ' "$work/trace1"
for jobs in 1 3; do
    "$simulate" --seeds 60 --jobs "$jobs" --no-shrink --known-failures "$known" \
        >"$work/range$jobs" 2>/dev/null || true
done
cmp "$work/range1" "$work/range3"
grep -q "simulated 60 schedules" "$work/range1"
echo "1 passed, 0 failed"
