#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each on its committed corpus (a copy: new
# inputs stay out of the tree) and prints what each did. FUZZ_SEED fixes libFuzzer's
# seed (0, the default: a new one each run).
#   fuzz/run.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$1 seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in restclient ini amount sandbox classification; do
    cp -r "$here/corpus/$target" "$work/$target"
    ASAN_OPTIONS=detect_leaks=0 "$build/${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
        -seed="${FUZZ_SEED:-0}" -artifact_prefix="$work/" \
        -rss_limit_mb=2048 -print_final_stats=1 "$work/$target" 2> "$work/$target.log" ||
        { tail -50 "$work/$target.log" >&2; cp "$work"/crash-* . 2>/dev/null; exit 1; }
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb|Done [0-9]+ runs" "$work/$target.log" |
        sed "s/^/$target: /"
done
