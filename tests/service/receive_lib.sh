# Shared by the tolvane-receive tests. Every test runs inside a network namespace of its own
# (loopback, plus veth pairs it makes itself): nothing reaches the machine's real interfaces.
# With TOLVANE_RECEIVE_MODE=service the receivers reach the ports through tolvane-netbiosd,
# started by the first start_receiver; otherwise each binds them itself.

skip() { echo "SKIP: $*"; exit 77; }

# Re-runs the calling script inside a new network namespace with loopback up, and a /run of its
# own: the NetBIOS service's socket there is the test's, or none.
enter_private_netns() {
    if [[ -z "${TOLVANE_IN_NETNS:-}" ]]; then
        [[ $(id -u) -eq 0 ]] || skip "needs root for a private network namespace"
        unshare -n -m true 2>/dev/null || skip "unshare -n -m not permitted"
        exec env TOLVANE_IN_NETNS=1 unshare -n -m bash "$0" "$@"
    fi
    ip link set lo up
    mount -t tmpfs tmpfs /run
}

require() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
}

# wait_for SECONDS COMMAND...: true as soon as the command succeeds.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.1
    done
}

# start_receiver BUILD OUT ARGS...: starts tolvane-receive writing JSON lines to OUT (in service
# mode the service first, on every interface of the namespace).
start_receiver() {
    local build=$1 out=$2
    shift 2
    if [[ "${TOLVANE_RECEIVE_MODE:-}" == service && -z "${SERVICE_PID:-}" ]]; then
        "$build/tools/tolvane-netbiosd" >"$out.service" 2>&1 &
        SERVICE_PID=$!
        wait_for 10 test -S /run/tolvane/netbios.sock
    fi
    "$build/tools/tolvane-receive" "$@" >"$out" 2>"$out.err" &
    RECEIVER_PID=$!
}

# Shows what the receiver printed; for the EXIT trap of a failing test.
show_receiver_output() {
    local out=$1
    echo "--- receiver output:"
    cat "$out" 2>/dev/null || true
    echo "--- receiver errors:"
    cat "$out.err" "$out.service" 2>/dev/null || true
}

# Stops the receiver, then the service.
stop_receiver() {
    local pid
    for pid in "${RECEIVER_PID:-}" "${SERVICE_PID:-}"; do
        if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid"
            wait "$pid" || true
        fi
    done
    RECEIVER_PID=
    SERVICE_PID=
}

# send NAME TEXT [ADDRESS]: one message with smbclient -M, as a Samba user would send it.
send() {
    printf '%s' "$2" | timeout 20 smbclient -M "$1" -I "${3:-127.0.0.1}" -N -U sender \
        >/dev/null 2>&1
}

count_lines() { [[ -f "$1" ]] && wc -l <"$1" || echo 0; }

has_lines() { (($(count_lines "$1") >= $2)); }

# wait_lines SECONDS FILE N: true as soon as FILE has at least N lines.
wait_lines() { wait_for "$1" has_lines "$2" "$3"; }
