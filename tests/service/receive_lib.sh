# Shared by the tolvane-receive tests. Every test runs inside a network namespace of its own
# (loopback, plus veth pairs it makes itself): nothing reaches the machine's real interfaces.

skip() { echo "SKIP: $*"; exit 77; }

# Re-runs the calling script inside a new network namespace with loopback up.
enter_private_netns() {
    if [[ -z "${TOLVANE_IN_NETNS:-}" ]]; then
        [[ $(id -u) -eq 0 ]] || skip "needs root for a private network namespace"
        unshare -n true 2>/dev/null || skip "unshare -n not permitted"
        exec env TOLVANE_IN_NETNS=1 unshare -n bash "$0" "$@"
    fi
    ip link set lo up
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

# start_receiver BUILD OUT ARGS...: starts tolvane-receive writing JSON lines to OUT.
start_receiver() {
    local build=$1 out=$2
    shift 2
    "$build/tools/tolvane-receive" "$@" >"$out" 2>"$out.err" &
    RECEIVER_PID=$!
}

# Shows what the receiver printed; for the EXIT trap of a failing test.
show_receiver_output() {
    local out=$1
    echo "--- receiver output:"
    cat "$out" 2>/dev/null || true
    echo "--- receiver errors:"
    cat "$out.err" 2>/dev/null || true
}

stop_receiver() {
    if [[ -n "${RECEIVER_PID:-}" ]] && kill -0 "$RECEIVER_PID" 2>/dev/null; then
        kill -TERM "$RECEIVER_PID"
        wait "$RECEIVER_PID" || true
    fi
    RECEIVER_PID=
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
