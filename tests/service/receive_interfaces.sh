#!/usr/bin/env bash
# Adding an interface builds its name ports within a few seconds (the names answer nmblookup
# there); removing it rebuilds the ports, and the remaining interface keeps receiving.
set -euo pipefail
source "$(dirname "$0")/receive_lib.sh"
build=$1
require smbclient nmblookup python3
enter_private_netns "$@"

peer="tolvane-peer-$$"
work=$(mktemp -d)
cleanup() {
    local rc=$?
    stop_receiver
    ((rc == 0)) || show_receiver_output "$work/out"
    ip netns del "$peer" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$peer"
ip netns exec "$peer" ip link set lo up

start_receiver "$build" "$work/out" --computer IFHOST --user ifuser
wait_for 20 send IFUSER "on loopback"
wait_lines 5 "$work/out" 1

# A new interface: a veth pair to the peer namespace, addresses that exist only there.
ip link add tvh0 type veth peer name tvp0 netns "$peer"
ip addr add 10.213.7.1/24 dev tvh0
ip link set tvh0 up
ip netns exec "$peer" ip addr add 10.213.7.2/24 dev tvp0
ip netns exec "$peer" ip link set tvp0 up
added=$SECONDS
wait_for 15 ip netns exec "$peer" nmblookup -U 10.213.7.1 'IFUSER#03' >/dev/null 2>&1
echo "user name answers on the new interface after $((SECONDS - added)) s"
wait_for 5 ip netns exec "$peer" nmblookup -B 10.213.7.255 'IFHOST#03' >/dev/null 2>&1
printf 'over the veth' | ip netns exec "$peer" timeout 20 smbclient -M IFHOST -I 10.213.7.1 -N \
    -U peer >/dev/null 2>&1
wait_lines 5 "$work/out" 2

# Removing it tears down and rebuilds every port; loopback still receives.
ip link del tvh0
sleep 6
wait_for 20 send IFUSER "after removal"
wait_lines 5 "$work/out" 3
grep -q '"text":"over the veth"' "$work/out"
grep -q '"text":"after removal"' "$work/out"
echo "interface changes ok"
