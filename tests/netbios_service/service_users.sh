#!/usr/bin/env bash
# Two users on one computer, each running tolvane-receive without any privilege, served by one
# tolvane-netbiosd that itself runs unprivileged on sockets handed over as systemd hands them:
# each user's name reaches only that user's program, the computer name the program that added
# it first and then the other once the first is killed; nmblookup lists exactly the names held;
# a user cannot receive for another user's name; programs outlive a restart of the service.
set -euo pipefail
source "$(dirname "$0")/../service/receive_lib.sh"
build=$1
here=$(cd "$(dirname "$0")" && pwd)
require smbclient nmblookup python3 useradd setpriv
[[ -x "$build/tools/tolvane-netbiosd" ]] || skip "tolvane-netbiosd is not built"
enter_private_netns "$@"

work=$(mktemp -d)
chmod 755 "$work"
a=tlvu$$a b=tlvu$$b
A=${a^^} B=${b^^}
pids=()
cleanup() {
    local rc=$?
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    wait || true
    for f in "$work"/*.out; do ((rc == 0)) || { echo "--- $f"; cat "$f" "${f%.out}.err"; }; done
    ((rc == 0)) || cat "$work/service.log"
    userdel "$a" 2>/dev/null || true
    userdel "$b" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for u in "$a" "$b"; do
    wait_for 30 useradd --no-create-home --no-user-group --shell /usr/sbin/nologin "$u" 2>/dev/null
done

python3 "$here/activate_service.py" nobody "$work/service.pid" "$build/tools/tolvane-netbiosd" \
    --interface lo --computer TWOHOST >"$work/service.log" 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/service.pid"

# receive USER OUT [ARGS...]: tolvane-receive as that user, with no capability.
receive() {
    local user=$1 out=$2
    shift 2
    setpriv --reuid="$user" --regid=nogroup --clear-groups --inh-caps=-all --no-new-privs \
        "$build/tools/tolvane-receive" --interface lo --computer TWOHOST "$@" \
        >"$work/$out.out" 2>"$work/$out.err" &
    pids+=($!)
}
got() { grep -c "\"text\":\"$2\"" "$work/$1.out" || true; }
has() { (($(got "$1" "$2") >= 1)); }
# delivered OUT TEXT: the message arrived there, exactly once.
delivered() { wait_for 10 has "$1" "$2" && (($(got "$1" "$2") == 1)); }
names() { nmblookup -A 127.0.0.1 | awk '/<ACTIVE>/ {print $1 $2}' | sort | tr '\n' ' '; }

receive "$a" a
wait_for 20 send "$A" "probe a"
delivered a "probe a"
wait_for 10 send TWOHOST "host first"
receive "$b" b
wait_for 20 send "$B" "probe b"
delivered b "probe b"

send "$A" "for a"
send "$B" "for b"
send TWOHOST "for the host"
python3 "$here/../service/send_datagram.py" ADMIN ALL "for everyone"
delivered a "for a"
delivered b "for b"
delivered a "for the host"
delivered a "for everyone"
sleep 0.5
for text in "for a" "for the host" "for everyone"; do [[ $(got b "$text") -eq 0 ]]; done
[[ $(got a "for b") -eq 0 ]]
[[ "$(names)" == "$A<03> $B<03> TWOHOST<03> " ]] || { echo "names: $(names)"; exit 1; }
echo "each user's name reaches that user only; the computer name the first program"

# The service is killed and started again: both programs, as they are, receive again.
kill -KILL "$(cat "$work/service.pid")"
restarted=$SECONDS
wait_for 20 send "$A" "after restart a"
wait_for 20 send "$B" "after restart b"
delivered a "after restart a"
delivered b "after restart b"
echo "both programs receive $((SECONDS - restarted)) s after the service was killed"

# The first program dies: the computer name goes to the other within 10 s.
kill -KILL "${pids[1]}"
killed=$SECONDS
wait_for 10 send TWOHOST "host second"
delivered b "host second"
echo "computer name handed over after $((SECONDS - killed)) s"

# A user asking for another user's name gets the computer name only, never the other's messages.
receive "$b" thief --user "$a"
sleep 4
send "$A" "not for b" || true
sleep 1
[[ $(got thief "not for b") -eq 0 && $(got b "not for b") -eq 0 ]]
[[ "$(names)" == "$B<03> TWOHOST<03> " ]] || { echo "names: $(names)"; exit 1; }
grep -q "may not add $A<03>" "$work/service.log"
echo "two users ok"
