#!/usr/bin/env bash
# What a large journal costs the till: `journal --open` and a whole sale (wall and CPU
# time of the till process) on a journal of one row and on one of ROWS settled rows
# (all within journalDays, so the purge at each open keeps them), run in turn, medians of
# RUNS; and
# the fdatasync/fsync calls of one till sale, counted by strace.
#   bench/journal_scale.sh [BUILD_DIR] [ROWS] [RUNS]
set -euo pipefail
build=${1:-build} rows=${2:-100000} runs=${3:-15}
work=$(mktemp -d)
trap 'kill "$sandbox_pid" 2>/dev/null; rm -rf "$work"' EXIT

source "$(dirname "$0")/common.sh"
start_sandbox "$build"
till() { "$build/till/oxlenpay-till" --config "$work/$1.conf" --ca-file "$work/sandbox.pem" --quiet "${@:2}"; }

till_config small
till small sale --amount 1.00 --token instant > /dev/null
till_config large
cp "$work/small.sqlite" "$work/large.sqlite"
# Settled sales spread over the last 80 days, as a busy till keeps them.
now=$(date +%s%3N)
sqlite3 "$work/large.sqlite" <<SQL
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
INSERT INTO operations (id, operation, amount, currency, payment_id, state, created_ms,
                        changed_ms, owner_pid, owner_start)
SELECT printf('filled-%08d-7f0c6a52-93b1-4a8e', i), 'sale', 1500, 398,
       printf('%012d', 200000000000 + i), 'done', $now - i * 69120, $now - i * 69120 + 900, 1, 1
FROM n;
SQL
till large journal --open > /dev/null # the first writing open makes what is missing

sale_args=(sale --amount 2.00 --token instant)
read -r open_small_wall open_small_cpu open_large_wall open_large_cpu < <(measure_pair "$runs" \
    till small journal --open -- till large journal --open)
read -r sale_small_wall sale_small_cpu sale_large_wall sale_large_cpu < <(measure_pair "$runs" \
    till small "${sale_args[@]}" -- till large "${sale_args[@]}")

syncs=unknown
if command -v strace > /dev/null; then
    strace -f -qq -c -e trace=fdatasync,fsync -o "$work/strace" \
        "$build/till/oxlenpay-till" --config "$work/small.conf" --ca-file "$work/sandbox.pem" \
        --quiet "${sale_args[@]}" > /dev/null
    syncs=$(awk '$NF == "fdatasync" || $NF == "fsync" {s += $4} END {print s + 0}' "$work/strace")
fi

cat <<TABLE
| till process (ms, median of $runs) | 1 row | $rows rows | ratio |
|---|---|---|---|
| journal --open, wall | $open_small_wall | $open_large_wall | $(ratio "$open_large_wall" "$open_small_wall") |
| journal --open, CPU | $open_small_cpu | $open_large_cpu | $(ratio "$open_large_cpu" "$open_small_cpu") |
| sale (instant), wall | $sale_small_wall | $sale_large_wall | $(ratio "$sale_large_wall" "$sale_small_wall") |
| sale (instant), CPU | $sale_small_cpu | $sale_large_cpu | $(ratio "$sale_large_cpu" "$sale_small_cpu") |

fdatasync and fsync calls of one till sale: $syncs
TABLE
