#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each on its committed corpus (a copy: new
# inputs stay out of the tree) and prints what each did, FUZZ_JOBS targets at a time
# (default 2). FUZZ_SEED fixes libFuzzer's seed (0, the default: a new one each run).
#   fuzz/run.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$1 seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
targets=(restclient ini amount sandbox classification)

run_one() {
    local target=$1
    cp -r "$here/corpus/$target" "$work/$target"
    if ASAN_OPTIONS=detect_leaks=0 "$build/${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
        -seed="${FUZZ_SEED:-0}" -artifact_prefix="$work/$target-" \
        -rss_limit_mb=2048 -print_final_stats=1 "$work/$target" 2> "$work/$target.log"; then
        grep -E "stat::number_of_executed_units|stat::peak_rss_mb|Done [0-9]+ runs" \
            "$work/$target.log" | sed "s/^/$target: /" > "$work/$target.summary"
    else
        tail -50 "$work/$target.log" >&2
        cp "$work/$target"-crash-* . 2>/dev/null || true
        return 1
    fi
}

failed=0
running=()
for target in "${targets[@]}"; do
    run_one "$target" &
    running+=($!)
    if [ ${#running[@]} -ge "${FUZZ_JOBS:-2}" ]; then
        wait "${running[0]}" || failed=1
        running=("${running[@]:1}")
    fi
done
for pid in "${running[@]}"; do
    wait "$pid" || failed=1
done
for target in "${targets[@]}"; do
    cat "$work/$target.summary" 2>/dev/null || true
done
exit "$failed"
