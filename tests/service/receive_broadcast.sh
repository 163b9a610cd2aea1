#!/usr/bin/env bash
# A 'net send *' datagram (DIRECT_GROUP to the workgroup, mailslot \MAILSLOT\MESSNGR) yields one
# broadcast record whatever its recipient, and nothing is sent back.
set -euo pipefail
source "$(dirname "$0")/receive_lib.sh"
build=$1
here=$(cd "$(dirname "$0")" && pwd)
require python3
enter_private_netns "$@"

work=$(mktemp -d)
trap 'rc=$?; stop_receiver; ((rc == 0)) || show_receiver_output "$work/out"; rm -rf "$work"' EXIT
start_receiver "$build" "$work/out" --interface lo --computer BCASTHOST --user bcastuser

# The mailslot port opens with the first adapter scan; resend until the first one lands.
wait_for 20 bash -c "python3 '$here/send_datagram.py' ADMIN PROBE probe; sleep 0.3; [ -s '$work/out' ]"
before=$(count_lines "$work/out")
python3 "$here/send_datagram.py" ADMIN NOBODY-HERE "Server goes down at 18:00 – save your work äöü"
python3 "$here/send_datagram.py" --type 0x12 ADMIN "" "broadcast to every node"
wait_lines 10 "$work/out" $((before + 2))
sleep 0.3

python3 - "$work/out" "$before" <<'PY'
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")][int(sys.argv[2]):]
assert len(lines) == 2, lines
a, b = lines
assert a == {**a, "kind": "broadcast", "origin": "ADMIN", "recipient": "NOBODY-HERE",
             "text": "Server goes down at 18:00 ? save your work äöü"}, a
assert b["kind"] == "broadcast" and b["text"] == "broadcast to every node", b
print("broadcast messages ok")
PY
