#!/usr/bin/env bash
# 50 concurrent smbclient senders to the two names give 50 records, none lost or mixed; SIGTERM
# with sessions in progress ends the receiver promptly.
set -euo pipefail
source "$(dirname "$0")/receive_lib.sh"
build=$1
require smbclient python3
enter_private_netns "$@"

work=$(mktemp -d)
trap 'rc=$?; stop_receiver; ((rc == 0)) || show_receiver_output "$work/out"; rm -rf "$work"' EXIT
start_receiver "$build" "$work/out" --interface lo --computer LOADHOST --user loaduser

wait_for 20 send LOADUSER "probe"
wait_lines 5 "$work/out" 1

pids=()
for i in $(seq 1 50); do
    if ((i % 2)); then name=LOADUSER; else name=LOADHOST; fi
    send "$name" "message number $i from sender $i" &
    pids+=($!)
done
failed=0
for p in "${pids[@]}"; do wait "$p" || failed=$((failed + 1)); done
echo "senders that saw an error: $failed"
wait_lines 30 "$work/out" 51
sleep 0.5

python3 - "$work/out" <<'PY'
import json, re, sys
lines = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")][1:]
assert len(lines) == 50, len(lines)
seen = set()
for m in lines:
    n = re.fullmatch(r"message number (\d+) from sender \1", m["text"])
    assert n, m
    seen.add(int(n.group(1)))
assert seen == set(range(1, 51)), sorted(seen)
print("50 concurrent messages ok")
PY
[[ $failed -eq 0 ]]

# Sessions held open mid-message, then SIGTERM: the receiver must end within a second.
python3 - <<'PY' &
import socket, time
def name(n):
    raw = n.encode().ljust(15, b" ") + b"\x03"
    return b"\x20" + bytes(x for b in raw for x in (65 + (b >> 4), 65 + (b & 15))) + b"\x00"
socks = []
for _ in range(2):
    s = socket.create_connection(("127.0.0.1", 139))
    s.sendall(b"\x81\x00\x00\x44" + name("LOADUSER") + name("HOLDER"))
    s.recv(4)
    socks.append(s)
time.sleep(10)
PY
holder=$!
sleep 1
start=$(date +%s%N)
kill -TERM "$RECEIVER_PID"
wait "$RECEIVER_PID"
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
RECEIVER_PID=
kill "$holder" 2>/dev/null || true
echo "stopped in ${elapsed_ms} ms"
((elapsed_ms < 1000))
