#!/usr/bin/env bash
# What a till command costs as a whole process: `info` (load the plug-in, describe it)
# and `sale` (the same, plus the journal and the exchanges of an instant sale) against an
# external sandbox, beside a minimal QtCore host that loads an empty plug-in; medians of
# RUNS fresh processes, wall and CPU. The minimal host comes from FLOOR_BUILD_DIR (default:
# BUILD_DIR), so that an older build can be measured beside the same floor.
#   bench/startup.sh [BUILD_DIR] [RUNS] [FLOOR_BUILD_DIR]
set -euo pipefail
build=${1:-build} runs=${2:-21} floor=${3:-${1:-build}}
work=$(mktemp -d)
trap 'kill "$sandbox_pid" 2>/dev/null; rm -rf "$work"' EXIT
source "$(dirname "$0")/common.sh"
start_sandbox "$build"
till_config till
till() { "$build/till/oxlenpay-till" --config "$work/till.conf" --ca-file "$work/sandbox.pem" --quiet "$@"; }
till sale --amount 1.00 --token instant > /dev/null # the journal exists, as on a till

read -r host_wall host_cpu < <(measure "$runs" "$floor/bench/oxlenpay-minimal-host" \
    "$floor/bench/liboxlenpay-empty-plugin.so")
read -r info_wall info_cpu < <(measure "$runs" till info)
read -r sale_wall sale_cpu < <(measure "$runs" till sale --amount 2.00 --token instant)
gui=$(ldd "$build/till/oxlenpay-till" | grep -c libQt5Gui || true)

cat <<TABLE
| process (ms, median of $runs) | wall | CPU |
|---|---|---|
| minimal QtCore host loading an empty plug-in | $host_wall | $host_cpu |
| oxlenpay-till info | $info_wall | $info_cpu |
| oxlenpay-till sale (instant) | $sale_wall | $sale_cpu |
| sale ÷ info | $(ratio "$sale_wall" "$info_wall") | $(ratio "$sale_cpu" "$info_cpu") |
| info ÷ minimal host | $(ratio "$info_wall" "$host_wall") | $(ratio "$info_cpu" "$host_cpu") |

libQt5Gui linked by the till: $gui
TABLE
