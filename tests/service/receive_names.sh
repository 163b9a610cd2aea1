#!/usr/bin/env bash
# Names and addresses as real networks have them, with Samba's tools as the peers:
# - smbclient -M jürgen and -M JÜRGEN reach a receiver run as user jürgen, in a UTF-8 and a C
#   locale (the name is registered as senders write it: J\x9aRGEN in CP850);
# - on a veth with two subnets a peer in each finds the name at its own subnet's address and
#   delivers there; nmblookup -A and nbtscan show the interface's hardware address;
# - a 16-character host name with a user of the same name: one name, 20 of 20 messages.
set -euo pipefail
source "$(dirname "$0")/receive_lib.sh"
build=$1
require smbclient nmblookup nbtscan python3
enter_private_netns "$@"

peer="tlvnames$$"
work=$(mktemp -d)
cleanup() {
    local rc=$?
    stop_receiver
    ((rc == 0)) || show_receiver_output "$work/out"
    ip link del tvn$$a 2>/dev/null || true
    ip netns del "$peer" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
in_peer() { ip netns exec "$peer" "$@"; }
peer_send() { in_peer bash -c "$(declare -f send); send \"\$@\"" - "$@"; }
texts() { python3 -c 'import json,sys; [print(json.loads(l)["text"]) for l in open(sys.argv[1])]' "$1"; }

# A veth whose end here has two subnets, the second added without a broadcast address; the peer
# has an address in each.
ip netns add "$peer"
ip link add tvn$$a type veth peer name tvn$$b netns "$peer"
ip addr add 10.215.1.1/24 brd + dev tvn$$a
ip addr add 10.215.2.1/24 dev tvn$$a
ip link set tvn$$a up
in_peer ip addr add 10.215.1.2/24 brd + dev tvn$$b
in_peer ip addr add 10.215.2.2/24 brd + dev tvn$$b
in_peer ip link set tvn$$b up
in_peer ip link set lo up

for locale in C.UTF-8 C; do
    LC_ALL=$locale start_receiver "$build" "$work/out" --computer NAMESHOST --user jürgen
    LC_ALL=$locale wait_for 20 send jürgen "probe" || { cat "$work/out.err"; exit 1; }
    LC_ALL=$locale send JÜRGEN "upper case in $locale"
    LC_ALL=$locale send jürgen "lower case in $locale"
    wait_lines 10 "$work/out" 3
    texts "$work/out" | grep -x "upper case in $locale" >/dev/null
    texts "$work/out" | grep -x "lower case in $locale" >/dev/null
    [[ $locale == C ]] || stop_receiver
done
echo "jürgen reached in a UTF-8 and a C locale"

lookup() { in_peer nmblookup -s /dev/null -B "10.215.$1.255" NAMESHOST#03 2>&1; }
answers_with() { [[ $(lookup "$1") == *"10.215.$1.1 NAMESHOST<03>"* ]]; }
for subnet in 1 2; do
    wait_for 20 answers_with $subnet || { lookup $subnet; exit 1; }
    peer_send NAMESHOST "from subnet $subnet" 10.215.$subnet.1
done
wait_lines 10 "$work/out" 5
texts "$work/out" | grep -x "from subnet 1" >/dev/null
texts "$work/out" | grep -x "from subnet 2" >/dev/null
echo "each subnet finds the name at its own address"

mac=$(ip -o link show tvn$$a | grep -o 'link/ether [0-9a-f:]*' | cut -d' ' -f2)
status=$(in_peer nmblookup -s /dev/null -A 10.215.1.1 2>&1)
[[ $status == *"MAC Address = $(tr : - <<<"${mac^^}")"* ]] || { echo "$status"; exit 1; }
scan=$(in_peer nbtscan 10.215.2.1 2>&1)
[[ $scan == *"$mac"* ]] || { echo "$scan"; exit 1; }
echo "node status shows $mac"
stop_receiver

# The host name cut to 15 characters is the user's name as it goes on the wire: one port, where
# two would take the name from each other every few seconds (on a broadcast interface).
unshare -u sh -c 'hostname labmachine-0042x && exec "$0" "$@"' "$build/tools/tolvane-receive" \
    --interface tvn$$a --user labmachine-0042x >"$work/out" 2>"$work/out.err" &
RECEIVER_PID=$!
wait_for 20 peer_send LABMACHINE-0042 "probe" 10.215.1.1
wait_lines 5 "$work/out" 1
failed=0
for i in $(seq 1 20); do
    peer_send LABMACHINE-0042 "message $i" 10.215.1.1 || failed=$((failed + 1))
done
wait_lines 10 "$work/out" 21 || true
delivered=$(($(count_lines "$work/out") - 1))
echo "$delivered of 20 messages delivered, $failed refused"
((delivered == 20 && failed == 0))
