#!/usr/bin/env bash
# smbclient -M to the user's and the computer's name: exactly one personal record each, text as
# sent (CP850 umlauts as UTF-8, CRLF kept, the OEM line-break character as CRLF).
set -euo pipefail
source "$(dirname "$0")/receive_lib.sh"
build=$1
require smbclient python3
enter_private_netns "$@"

work=$(mktemp -d)
trap 'rc=$?; stop_receiver; ((rc == 0)) || show_receiver_output "$work/out"; rm -rf "$work"' EXIT
start_receiver "$build" "$work/out" --interface lo --computer PERSHOST --user persuser

wait_for 20 send PERSUSER "probe" || { cat "$work/out.err"; exit 1; }
wait_lines 5 "$work/out" 1

send PERSUSER $'Hello from smbclient\nsecond line äöü\n'
send pershost $'to the computer\x14next'
wait_lines 10 "$work/out" 3
sleep 0.5

python3 - "$work/out" <<'PY'
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")]
assert len(lines) == 3, lines
probe, user, host = lines
for m in lines:
    assert m["kind"] == "personal", m
    assert m["origin"] == "sender", m
    assert m["received"][4] == "-" and "T" in m["received"], m
assert user["recipient"] == "PERSUSER", user
assert user["text"] == "Hello from smbclient\r\nsecond line äöü\r\n", repr(user["text"])
assert host["recipient"] == "pershost", host
assert host["text"] == "to the computer\r\nnext", repr(host["text"])
print("personal messages ok")
PY
