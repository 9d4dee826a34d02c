#!/usr/bin/env bash
# What closing a day costs against the sandbox: OPERATIONS till commands (sales that settle,
# are declined or are refunded in part, and cancels), then `journal report` and `journal
# reconcile`, each timed (wall milliseconds). Prints the report's net, the ledger's, and the
# reconciliation's counts.
#   bench/reconcile_day.sh [BUILD_DIR] [OPERATIONS]
set -euo pipefail
build=${1:-build} operations=${2:-100}
work=$(mktemp -d)
trap 'kill "$sandbox_pid" 2>/dev/null; rm -rf "$work"' EXIT

source "$(dirname "$0")/common.sh"
start_sandbox "$build"
till_config day
till() { "$build/till/oxlenpay-till" --config "$work/day.conf" --ca-file "$work/sandbox.pem" --quiet "$@"; }

paid=()
for i in $(seq "$operations"); do
    amount=$(printf '%d.%02d' $((1 + i % 90)) $((i % 100)))
    case $((i % 10)) in
    7) till sale --amount "$amount" --token failed > /dev/null || true ;;
    8) [ ${#paid[@]} -gt 0 ] && till refund --rrn "${paid[0]}" --amount 0.10 --original 1.00 > /dev/null || true ;;
    9) [ ${#paid[@]} -gt 1 ] && { till cancel --rrn "${paid[1]}" > /dev/null || true; paid=("${paid[@]:2}"); } ;;
    *) rrn=$(till --json sale --amount "$amount" --token instant | sed -n 's/.*"rrn": "\([0-9]*\)".*/\1/p' | head -n1)
       paid+=("$rrn") ;;
    esac
done

rows=$(till --json journal | grep -c '"operation"')
read -r report_ms _ < <(timed till journal report)
read -r reconcile_ms _ < <(timed till journal reconcile)
net=$(till --json journal report | tr -d '\n ' | sed -n 's/.*"net":"\([0-9.-]*\)".*/\1/p')
ledger=$(curl -sk "$root/_sandbox/ledger" | python3 -c '
import json, sys
print("%.2f" % (sum(p["amount"] - p["refunded"] for p in json.load(sys.stdin)["payments"] if p["charged"]) / 100))')
counts=$(till --json journal reconcile 2>/dev/null | tr -d '\n ' | sed -n 's/.*"agreeing":\([0-9]*\).*"disagreeing":\([0-9]*\).*"unanswered":\([0-9]*\).*/agreeing \1, disagreeing \2, unanswered \3/p')
echo "rows $rows: report ${report_ms} ms, reconcile ${reconcile_ms} ms; net $net, ledger $ledger; $counts"
