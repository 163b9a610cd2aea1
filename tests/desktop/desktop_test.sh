#!/usr/bin/env bash
# The desktop program end to end on a virtual 1024x768 screen (Xvfb) with trayer as tray host,
# inside a network namespace of its own (loopback only): tolvane starts hidden with its tray
# icon; a message sent with smbclient -M, a long one and a Messenger broadcast datagram each pop
# up 300 pixels wide at the bottom-right corner, each with its sound (a WAV file, a sound-theme
# name) played for real where there is no audio device at all; "Reply" answers the personal
# message: the answer reaches tolvane-receive holding the sender's name on a second host of a
# test LAN (a veth pair into a namespace of its own), and the popup shows it as sent, in place,
# without a new popup; the close button hides the popup
# and a click on the tray icon shows it again; "Exit Tolvane" from the tray menu, and SIGTERM,
# end the program in order with its settings written. Everything is checked from outside:
# xdotool, xwininfo and screenshots. $1: the build folder. TOLVANE_SCREENSHOT_DIR: where to leave
# the screenshots.
set -euo pipefail
source "$(dirname "$0")/virtual_desktop.sh"
enter_namespace "$@"
need Xvfb trayer xdotool xwininfo xdpyinfo import convert smbclient python3 xclip nsenter
begin_desktop_test "$1"
start_virtual_desktop 90 140

# The other host: alice's computer, where tolvane-receive holds her name.
unshare -n sleep 600 &
peer=$!
pids+=($peer)
wait_for 5 eval '[[ $(readlink /proc/$peer/ns/net) != $(readlink /proc/self/ns/net) ]]' ||
    fail "no namespace for the other host"
ip link add tlvdesk0 type veth peer name tlvdesk1 netns "$peer"
ip addr add 10.215.0.1/24 dev tlvdesk0
ip link set tlvdesk0 up
nsenter -t "$peer" -n sh -c 'ip link set lo up && ip addr add 10.215.0.2/24 dev tlvdesk1 &&
    ip link set tlvdesk1 up'
nsenter -t "$peer" -n "$build/tools/tolvane-receive" --computer ALICEPC --user alice \
    >"$work/alice.jsonl" 2>"$work/alice.log" &
pids+=($!)

# Sounds on: a WAV file for personal messages, a sound of the desktop's theme for broadcasts.
make_wav "$work/ding.wav"
write_settings '"SoundEnabled"=dword:00000001' "\"SoundEventIncMsgPriv\"=\"$work/ding.wav\"" \
    '"SoundEventIncMsgBcast"="message-new-instant"'

# Started hidden: only its icon, embedded in trayer's panel.
start_program 1
wait_for 20 shown icon || fail "no tray icon"
read -r icon ix iy iw ih < <(window icon)
xwininfo -root -tree | awk -v id="$(printf '0x%x' "$icon")" '
    /"panel"/ {inside = 1; indent = match($0, /[^ ]/); next}
    inside && match($0, /[^ ]/) <= indent {inside = 0}
    inside && $1 == id {found = 1}
    END {exit !found}' || fail "the icon is not in the tray"
hidden popup || fail "a popup showed before any message"

wait_for 45 send "Lunch at noon?" alice || fail "smbclient could not deliver"
wait_for 10 shown popup || fail "no popup after the message"
read -r win x y width height < <(window popup)
((x == 709 && y == 573 && height == 155)) || fail "popup ${width}x$height at ($x,$y)"
# Pale yellow inside, once painted (it maps a moment before), rounded at the corners (the white
# screen shows there).
painted() {
    import -window root "$work/short.png" && [[ $(pixel "$work/short.png" 1005 653) == "#FFFFE1" ]]
}
wait_for 5 painted || fail "popup colour"
[[ $(pixel "$work/short.png" 709 573) == "#FFFFFF" ]] || fail "popup corner not rounded"

# "Reply", the last of four links below the text: a window to answer alice in.
click $((x + 285)) $((y + 142)) 1
wait_for 10 shown Reply || fail "no reply window"
read -r reply _ < <(window Reply)
xdotool windowfocus --sync "$reply"
xdotool type --delay 20 "Yes, at noon."
xdotool key Tab Return
import -window "$reply" "$work/reply.png"
wait_for 30 grep -q '"text":"Yes, at noon."' "$work/alice.jsonl" || fail "the reply did not arrive"
grep -q '"origin":"root","recipient":"alice"' "$work/alice.jsonl" || fail "the reply went to $(cat "$work/alice.jsonl")"
# The same popup shows the answer as sent; with it, "Reply" goes and Copy is back in its place.
copy_sent() {
    click $((x + 255)) $((y + 142)) 1
    xclip -o -selection clipboard 2>/dev/null | grep -q "^Sent by root to alice:"
}
wait_for 10 copy_sent || fail "the popup shows no sent message: $(xclip -o -selection clipboard)"
[[ "$(window popup | cut -d' ' -f1)" == "$win" ]] || fail "a sent message made a new popup"
xclip -o -selection clipboard | grep -q "^Yes, at noon.$" || fail "the sent text is not archived"
xdotool windowfocus --sync "$reply" key Escape
wait_for 10 hidden Reply || fail "Escape did not close the reply window"

# A long message with umlauts: the text area grows to its limit. (smbclient converts the text
# to the DOS code page in 127-byte pieces and sends a piece unconverted when a character
# straddles its end, so this text keeps its umlauts clear of those boundaries.)
long=$'Guten Morgen zusammen,\n\nheute Abend um 18:00 Uhr wird der Server neu gestartet.\n'
long+=$'Bitte speichert vorher eure Arbeit und meldet euch ab.\n\nGrößere Änderungen:\n'
long+=$'- neue Übersetzungen für die Oberfläche\n- Fußnoten und Maße im Bericht\n'
long+=$'- schnellere Anmeldung\n- Drucker im 2. Stock läuft wieder\n\n'
long+=$'Bei Fragen: Zimmer 214, Tel. 4711.\nDanke für eure Geduld!\n\nViele Grüße\nJürgen Weiß\n'
long+='IT-Abteilung'
send "$long" juergen || fail "smbclient could not deliver the long message"
wait_for 10 eval '[[ "$(window popup | cut -d" " -f5)" == 355 ]]' ||
    fail "no 355-pixel popup for the long message"
[[ "$(window popup | cut -d' ' -f2-3)" == "709 373" ]] || fail "long popup misplaced"
import -window root "$work/long.png"

before=$(window popup | cut -d' ' -f1)
broadcast "Broadcast to all"
wait_for 10 other_popup "$before" || fail "no new popup for a broadcast"

# The close button hides the popup; a click on the tray icon shows it again.
read -r win x y width height < <(window popup)
click $((x + 1 + 274 + 10)) $((y + 1 + 3 + 10)) 1
wait_for 10 hidden popup || fail "the close button did not hide the popup"
click $((ix + iw / 2)) $((iy + ih / 2)) 1
wait_for 10 shown popup || fail "a click on the tray icon showed no popup"

# "Exit Tolvane", the last item of the tray menu. The menu is placed a moment after it maps.
click $((ix + iw / 2)) $((iy + ih / 2)) 3
wait_for 10 shown menu || fail "no tray menu"
sleep 0.5
read -r menu mx my mw mh < <(window menu)
click $((mx + mw / 2)) $((my + mh - 12)) 1
wait_for 20 ended || fail "still running after Exit Tolvane"
wait "$pid" || fail "exit status $? after Exit Tolvane"
grep -q '"RecvMsgPopWndAutoclose"=dword:' "$settings" || fail "settings not written"

# A stop from outside (SIGTERM, as at logout) is just as orderly.
rm -f "$settings"
start_program 2
wait_for 20 shown icon || fail "no tray icon on the second start"
kill -TERM "$pid"
wait_for 20 ended || fail "still running after SIGTERM"
wait "$pid" || fail "exit status $? after SIGTERM"
[[ -f "$settings" ]] || fail "settings not written after SIGTERM"

if [[ -n "${TOLVANE_SCREENSHOT_DIR:-}" ]]; then
    mkdir -p "$TOLVANE_SCREENSHOT_DIR"
    convert "$work/short.png" -crop 330x185+694+558 +repage "$TOLVANE_SCREENSHOT_DIR/popup-short.png"
    convert "$work/long.png" -crop 330x385+694+358 +repage "$TOLVANE_SCREENSHOT_DIR/popup-long.png"
    cp "$work/reply.png" "$TOLVANE_SCREENSHOT_DIR/reply.png"
fi
echo "desktop test passed"
