#!/usr/bin/env bash
# What a large journal costs the till: `journal --open` and a whole sale (wall and CPU
# time of the till process) on a journal of one row and on one of ROWS settled rows
# (all within journalDays, so the purge at each open keeps them), medians of RUNS; and
# the fdatasync/fsync calls of one till sale, counted by strace.
#   bench/journal_scale.sh [BUILD_DIR] [ROWS] [RUNS]
set -euo pipefail
build=${1:-build} rows=${2:-100000} runs=${3:-15}
work=$(mktemp -d)
trap 'kill "$sandbox_pid" 2>/dev/null; rm -rf "$work"' EXIT

"$build/sandbox/oxlenpay-sandbox" --port 0 --quiet --cert-out "$work/sandbox.pem" > "$work/url" &
sandbox_pid=$!
for _ in $(seq 100); do [ -s "$work/url" ] && break; sleep 0.05; done
root=$(head -n1 "$work/url") root=${root%/api/*}

config() { # NAME: a configuration whose journal is NAME.sqlite
    cat > "$work/$1.conf" <<CONF
[OxlenPay]
host = $root
merchantId = till-01
merchantServiceId = 5001
merchantServiceUserId = merchant-user
merchantSecretKey = sandbox-secret
frequency = 20
payDuration = 5000
timeout = 3000
journal = $work/$1.sqlite
CONF
}
till() { "$build/till/oxlenpay-till" --config "$work/$1.conf" --ca-file "$work/sandbox.pem" --quiet "${@:2}"; }

config small
till small sale --amount 1.00 --token instant > /dev/null
config large
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

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# Wall and CPU milliseconds of one till command, as "wall cpu".
timed() {
    local start end usage
    start=$(date +%s%N)
    usage=$( { TIMEFORMAT='%3U %3S'; time till "$@" > /dev/null; } 2>&1 | tail -n1)
    end=$(date +%s%N)
    awk -v w=$(( (end - start) / 1000 )) -v u="$usage" 'BEGIN {split(u, t, " "); printf "%.1f %.1f\n", w / 1000, (t[1] + t[2]) * 1000}'
}
measure() { # NAME COMMAND...: median wall and median CPU
    local all
    all=$(for _ in $(seq "$runs"); do timed "$@"; done)
    echo "$(echo "$all" | awk '{print $1}' | median) $(echo "$all" | awk '{print $2}' | median)"
}
sale_args=(sale --amount 2.00 --token instant)
read -r open_small_wall open_small_cpu < <(measure small journal --open)
read -r open_large_wall open_large_cpu < <(measure large journal --open)
read -r sale_small_wall sale_small_cpu < <(measure small "${sale_args[@]}")
read -r sale_large_wall sale_large_cpu < <(measure large "${sale_args[@]}")

syncs=unknown
if command -v strace > /dev/null; then
    strace -f -qq -c -e trace=fdatasync,fsync -o "$work/strace" \
        "$build/till/oxlenpay-till" --config "$work/small.conf" --ca-file "$work/sandbox.pem" \
        --quiet "${sale_args[@]}" > /dev/null
    syncs=$(awk '$NF == "fdatasync" || $NF == "fsync" {s += $4} END {print s + 0}' "$work/strace")
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
cat <<TABLE
| till process (ms, median of $runs) | 1 row | $rows rows | ratio |
|---|---|---|---|
| journal --open, wall | $open_small_wall | $open_large_wall | $(ratio "$open_large_wall" "$open_small_wall") |
| journal --open, CPU | $open_small_cpu | $open_large_cpu | $(ratio "$open_large_cpu" "$open_small_cpu") |
| sale (instant), wall | $sale_small_wall | $sale_large_wall | $(ratio "$sale_large_wall" "$sale_small_wall") |
| sale (instant), CPU | $sale_small_cpu | $sale_large_cpu | $(ratio "$sale_large_cpu" "$sale_small_cpu") |

fdatasync and fsync calls of one till sale: $syncs
TABLE
