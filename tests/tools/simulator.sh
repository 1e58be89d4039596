# Sourced by the tool tests: starts gevcamsim on a loopback address of its own and stops it at
# exit. start_simulator <gevcamsim> <count> [options...] sets SIM_ADDRESSES (one per camera).
sim_pid=""
stop_simulator() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
}

start_simulator() {
    local program=$1 count=$2
    shift 2
    local out attempt
    out=$(mktemp)
    # Several test runs may share the machine: a taken address makes gevcamsim exit, so try
    # another one.
    for attempt in 1 2 3 4 5 6 7 8; do
        local first="127.$((RANDOM % 200 + 30)).$((RANDOM % 250 + 1)).2"
        "$program" --address "$first" --count "$count" "$@" >"$out" 2>&1 &
        sim_pid=$!
        for _ in $(seq 50); do
            [ "$(wc -l <"$out")" -ge "$count" ] && break
            kill -0 "$sim_pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$sim_pid" 2>/dev/null && [ "$(wc -l <"$out")" -ge "$count" ]; then
            mapfile -t SIM_ADDRESSES < <(awk '{print $1}' "$out")
            rm -f "$out"
            return 0
        fi
        stop_simulator
    done
    echo "gevcamsim could not be started:" >&2
    cat "$out" >&2
    rm -f "$out"
    return 1
}
