# Helpers of the bench scripts; sourced, not run.

# Starts an external sandbox in $work; sets sandbox_pid, base (the API's URL) and root.
start_sandbox() { # BUILD_DIR
    "$1/sandbox/oxlenpay-sandbox" --port 0 --quiet --cert-out "$work/sandbox.pem" > "$work/url" &
    sandbox_pid=$!
    for _ in $(seq 100); do [ -s "$work/url" ] && break; sleep 0.05; done
    base=$(head -n1 "$work/url")
    root=${base%/api/*}
}

# A till configuration for the sandbox at $root whose journal is $work/NAME.sqlite.
till_config() { # NAME
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

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# Wall and CPU milliseconds of one command, as "wall cpu".
timed() {
    local start end usage
    start=$(date +%s%N)
    usage=$( { TIMEFORMAT='%3U %3S'; time "$@" > /dev/null 2>&1; } 2>&1 | tail -n1)
    end=$(date +%s%N)
    awk -v w=$(( (end - start) / 1000 )) -v u="$usage" \
        'BEGIN {split(u, t, " "); printf "%.1f %.1f\n", w / 1000, (t[1] + t[2]) * 1000}'
}

# Median wall and median CPU of RUNS runs of a command, as "wall cpu".
measure() { # RUNS COMMAND...
    local runs=$1 all
    shift
    all=$(for _ in $(seq "$runs"); do timed "$@"; done)
    echo "$(echo "$all" | awk '{print $1}' | median) $(echo "$all" | awk '{print $2}' | median)"
}

# Median wall and CPU of two commands run in turn RUNS times, so that a drift of the
# machine falls on both alike; the second command is given after "--". Prints
# "wall1 cpu1 wall2 cpu2".
measure_pair() { # RUNS COMMAND1... -- COMMAND2...
    local runs=$1 first=() second=() all1="" all2=""
    shift
    while [ "$1" != "--" ]; do first+=("$1"); shift; done
    shift
    second=("$@")
    for _ in $(seq "$runs"); do
        all1+="$(timed "${first[@]}")"$'\n'
        all2+="$(timed "${second[@]}")"$'\n'
    done
    local m
    m() { echo -n "$1" | awk -v c="$2" 'NF {print $c}' | median; }
    echo "$(m "$all1" 1) $(m "$all1" 2) $(m "$all2" 1) $(m "$all2" 2)"
}
