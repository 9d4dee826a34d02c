#!/usr/bin/env bash
# The transport table of bench/README.md: oxlenpay-bench's exchanges beside the curl
# command line and a minimal libcurl program, all against one external sandbox in
# the same run, plus what only a fresh process shows (medians of RUNS processes).
#   bench/compare.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build} runs=${2:-15}
work=$(mktemp -d)
trap 'kill "$sandbox_pid" 2>/dev/null; rm -rf "$work"' EXIT

source "$(dirname "$0")/common.sh"
start_sandbox "$build"

signed() {
    local stamp digest
    stamp=$(date +%s%3N)
    digest=$(printf '%s' "${stamp}sandbox-secret" | sha1sum | cut -d' ' -f1)
    echo "Authorization: merchant-user:$digest:$stamp"
}

# In-process exchanges (mean per iteration, wall clock).
OXLENPAY_BENCH_SANDBOX=$root OXLENPAY_BENCH_CA=$work/sandbox.pem \
    "$build/bench/oxlenpay-bench" --benchmark_filter='Warm|Fresh|KeptAlive' \
    --benchmark_min_time=0.3 --benchmark_repetitions=15 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null | grep -v '^name' > "$work/bench.csv"
# Medians of fifteen repetitions, interleaved at random: wall clock per exchange, and the
# client's own CPU.
bench() { awk -F, -v n="\"$1_median\"" '$1 == n {printf "%.3f", $3 / 1000}' "$work/bench.csv"; }
cpu() { awk -F, -v n="\"$1_median\"" '$1 == n {printf "%.3f", $4 / 1000}' "$work/bench.csv"; }

# curl's command line: a fresh connection per payment with the same trust store (the
# sandbox's certificate and the system's hashed directory), and warm status polls
# over one kept-alive connection (time_total of each transfer after the first).
payment='{"amount":100,"service_id":5001,"otp_data":"pending","cashbox_code":"till-01","transaction_id":"curl-'
curl_fresh=$(for i in $(seq "$runs"); do
    curl -s -o /dev/null -w '%{time_total}\n' --cacert "$work/sandbox.pem" --capath /etc/ssl/certs \
        -H 'Accept: application/json' -H 'Content-Type: application/json' -H "$(signed)" -H 'Expect:' \
        --data "$payment$i-$$\"}" "$base/payment"
done | awk '{print $1 * 1000}' | median)
id=$(curl -s --cacert "$work/sandbox.pem" -H 'Accept: application/json' -H 'Content-Type: application/json' \
    -H "$(signed)" --data "${payment}warm-$$\"}" "$base/payment" | sed 's/.*"payment_id":"\([0-9]*\)".*/\1/')
status_args=()
for _ in $(seq 50); do
    status_args+=(--cacert "$work/sandbox.pem" --capath /etc/ssl/certs -X GET -H 'Accept: application/json' -H 'Content-Type: application/json' -H "$(signed)"
                  --data "{\"service_id\":5001,\"payment_id\":\"$id\"}" -o /dev/null -w '%{time_total}\n'
                  "$base/payment/status" --next)
done
unset 'status_args[-1]' # the last --next
curl_warm=$(curl -s "${status_args[@]}" | sed -n '2,50p' | awk '{print $1 * 1000}' | median)

first=$(for _ in $(seq "$runs"); do
    "$build/bench/oxlenpay-bench" --first-exchange "$root" "$work/sandbox.pem" | awk '{print $2}'
done | median)
load=$(for _ in $(seq "$runs"); do
    "$build/bench/oxlenpay-bench" --plugin-load "$build/plugin/libProcessingOxlenPay.so" 2>/dev/null |
        awk '{s += $2} END {print s}'
done | median)

cat <<TABLE
| exchange (loopback TLS, ms) | ours | beside | ratio |
|---|---|---|---|
| warm status poll, RestClient | $(bench RestClientWarmStatus) | minimal libcurl $(bench LibcurlWarmStatus) | $(ratio "$(bench RestClientWarmStatus)" "$(bench LibcurlWarmStatus)") |
| warm status poll, RestClient, client CPU | $(cpu RestClientWarmStatus) | minimal libcurl $(cpu LibcurlWarmStatus) | $(ratio "$(cpu RestClientWarmStatus)" "$(cpu LibcurlWarmStatus)") |
| warm status poll, libcurl with a fresh handle per exchange (RestClient's floor) | $(bench LibcurlFreshHandleWarmStatus) | minimal libcurl $(bench LibcurlWarmStatus) | $(ratio "$(bench LibcurlFreshHandleWarmStatus)" "$(bench LibcurlWarmStatus)") |
| warm status poll, Interface::sendRequest | $(bench StatusPollKeptAlive) | minimal libcurl $(bench LibcurlWarmStatus) | $(ratio "$(bench StatusPollKeptAlive)" "$(bench LibcurlWarmStatus)") |
| warm status poll, Interface::sendRequest, client CPU | $(cpu StatusPollKeptAlive) | minimal libcurl $(cpu LibcurlWarmStatus) | $(ratio "$(cpu StatusPollKeptAlive)" "$(cpu LibcurlWarmStatus)") |
| warm status poll, curl CLI | $curl_warm | minimal libcurl $(bench LibcurlWarmStatus) | $(ratio "$curl_warm" "$(bench LibcurlWarmStatus)") |
| payment, fresh connection, RestClient | $(bench RestClientPaymentFresh) | curl CLI $curl_fresh | $(ratio "$(bench RestClientPaymentFresh)" "$curl_fresh") |
| payment, fresh connection, Interface::sendRequest | $(bench PaymentOnFreshConnection) | minimal libcurl $(bench LibcurlPaymentFresh) | $(ratio "$(bench PaymentOnFreshConnection)" "$(bench LibcurlPaymentFresh)") |
| first payment exchange of a process | $first | curl CLI fresh $curl_fresh | $(ratio "$first" "$curl_fresh") |
| plug-in load + instance + init, in a host that has its libraries | $load | | |
TABLE
