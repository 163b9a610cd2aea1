#!/usr/bin/env bash
# The desktop program end to end on a virtual screen (Xvfb, 1024x768) with trayer as the tray
# host, inside a network namespace of its own (loopback only): tolvane starts hidden with its tray
# icon, a message sent with smbclient -M (and a Messenger broadcast datagram) pops up 300 pixels
# wide at the bottom-right corner, the close button hides the popup, a click on the tray icon
# shows it again, and "Exit Tolvane" from the tray menu ends the program, which writes its
# settings. Everything is checked from outside the program: xdotool, xwininfo, screenshots.
#
# $1: the build folder. TOLVANE_SCREENSHOT_DIR: where to leave the popup screenshots.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "SKIP: $*"; exit 77; }
fail() {
    echo "FAIL: $*" >&2
    for log in "${work:-/nonexistent}"/*.log; do
        [[ -s "$log" ]] && { echo "--- $(basename "$log")"; tail -n 60 "$log"; } >&2
    done
    if [[ -n "${pid:-}" ]]; then
        echo "visible windows of tolvane:" >&2
        visible_windows >&2 || true
        if [[ -n "${TOLVANE_DEBUG_DIR:-}" ]]; then
            import -window root "$TOLVANE_DEBUG_DIR/failure.png" || true
        fi
    fi
    exit 1
}

if [[ -z "${TOLVANE_DESKTOP_NETNS:-}" ]]; then
    [[ $(id -u) -eq 0 ]] || skip "needs root for a private network namespace"
    unshare -n true 2>/dev/null || skip "unshare -n not permitted"
    exec env TOLVANE_DESKTOP_NETNS=1 unshare -n bash "$0" "$@"
fi
ip link set lo up

for tool in Xvfb trayer xdotool xwininfo xdpyinfo import convert smbclient; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
program=$build/ui/tolvane
[[ -x "$program" ]] || fail "no $program"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# wait_for SECONDS COMMAND...: true as soon as the command succeeds.
wait_for() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.2
    done
}

# A display number nobody uses.
display=
for n in $(seq 90 140); do
    if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then
        display=:$n
        break
    fi
done
[[ -n "$display" ]] || skip "no free display number"
export DISPLAY=$display
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -wr >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 20 xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"
trayer --edge bottom --align right --widthtype request --height 24 >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_for 20 bash -c "xwininfo -root -tree | grep -q '\"panel\"'" || fail "trayer did not start"

# The program's own environment: settings in a fresh folder, no session bus (so the tray icon is
# an XEmbed icon in trayer).
export XDG_CONFIG_HOME=$work/config
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
export QT_QPA_PLATFORM=xcb
# Under AddressSanitizer: libxkbcommon-x11 strndup()s key names of exactly their length without a
# terminator, which is valid but trips the strict string check.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
"$program" >"$work/tolvane.log" 2>&1 &
pid=$!
pids+=($pid)

# x y width height of a window.
geometry() {
    xwininfo -id "$1" 2>/dev/null | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
                             /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}'
}
# The program's visible windows, one "id x y width height" per line.
visible_windows() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
        echo "$w $(geometry "$w")"
    done
}
tray_icon() { visible_windows | awk '$4 <= 48 && $5 <= 48 {print $1; exit}'; }
popup() { visible_windows | awk '$4 == 300 {print $1; exit}'; }
popup_shown() { [[ -n "$(popup)" ]]; }
popup_hidden() { [[ -z "$(popup)" ]]; }
popup_height_is() { visible_windows | awk -v h="$1" '$4 == 300 && $5 == h {found = 1} END {exit !found}'; }
popup_other_than() { local p; p=$(popup); [[ -n "$p" && "$p" != "$1" ]]; }
icon_shown() { [[ -n "$(tray_icon)" ]]; }
# The colour of one screen pixel as #RRGGBB.
pixel() {
    convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | awk 'NR == 2 {print $3}'
}

# Started hidden: only its icon, embedded in trayer's panel.
wait_for 20 icon_shown || fail "no tray icon"
icon=$(tray_icon)
xwininfo -root -tree | awk -v id="$(printf '0x%x' "$icon")" '
    /"panel"/ {inside = 1; indent = match($0, /[^ ]/); next}
    inside && match($0, /[^ ]/) <= indent {inside = 0}
    inside && $1 == id {found = 1}
    END {exit !found}' || fail "the tray icon is not in the tray"
[[ -z "$(popup)" ]] || fail "a popup showed before any message"
echo "tray icon present, no window shown"

# A personal message, as Samba users send them. The ports open within a few retries.
name=$(hostname -s | cut -c1-15)
send() { printf '%s' "$1" | timeout 20 smbclient -M "$name" -I 127.0.0.1 -N -U "$2" >/dev/null 2>&1; }
wait_for 45 send "Lunch at noon?" alice || fail "smbclient could not deliver"
wait_for 10 popup_shown || fail "no popup after the message"
read -r win x y width height < <(visible_windows | awk '$4 == 300')
((width == 300)) || fail "popup width $width"
((x == 1024 - 300 - 15)) || fail "popup x $x"
((y + height == 768 - 40)) || fail "popup bottom $((y + height))"
((height == 155)) || fail "short message popup height $height"
import -window root "$work/short.png"
# Filled pale yellow inside, rounded at the corners (the white screen shows there).
[[ $(pixel "$work/short.png" $((x + 296)) $((y + 80))) == "#FFFFE1" ]] || fail "popup colour"
[[ $(pixel "$work/short.png" "$x" "$y") == "#FFFFFF" ]] || fail "popup corner not rounded"
echo "popup 300x$height at ($x,$y)"

# A long message with umlauts over several lines: the text area grows to its limit. (smbclient
# converts the text to the DOS code page in 127-byte pieces and sends a piece unconverted when
# a character straddles its end, so the text keeps its umlauts clear of those boundaries.)
long=$'Guten Morgen zusammen,\n\nheute Abend um 18:00 Uhr wird der Server neu gestartet.\n'
long+=$'Bitte speichert vorher eure Arbeit und meldet euch ab.\n\nGrößere Änderungen:\n'
long+=$'- neue Übersetzungen für die Oberfläche\n- Fußnoten und Maße im Bericht\n'
long+=$'- schnellere Anmeldung\n- Drucker im 2. Stock läuft wieder\n\n'
long+=$'Bei Fragen: Zimmer 214, Tel. 4711.\nDanke für eure Geduld!\n\nViele Grüße\nJürgen Weiß\n'
long+='IT-Abteilung'
send "$long" juergen || fail "smbclient could not deliver the long message"
wait_for 10 popup_height_is 355 || fail "no 355-pixel popup for the long message"
read -r win x y width height < <(visible_windows | awk '$4 == 300')
((x == 709 && y == 768 - 40 - 355)) || fail "long popup at ($x,$y)"
import -window root "$work/long.png"
echo "long message popup 300x$height at ($x,$y)"

# A Messenger broadcast datagram ('net send *') arrives over the mailslot transport.
if [[ -f "$here/../service/send_datagram.py" ]] && command -v python3 >/dev/null; then
    before=$(popup)
    python3 "$here/../service/send_datagram.py" ADMIN EVERYONE "Broadcast to all"
    wait_for 10 popup_other_than "$before" || fail "no new popup for a broadcast"
    echo "broadcast shown"
fi

# The close button hides the popup ...
read -r win x y width height < <(visible_windows | awk '$4 == 300')
xdotool mousemove $((x + 1 + 274 + 10)) $((y + 1 + 3 + 10)) click 1
wait_for 10 popup_hidden || fail "the close button did not hide the popup"
# ... and a click on the tray icon shows it again.
read -r icon ix iy iw ih < <(visible_windows | awk '$4 <= 48 && $5 <= 48')
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 1
wait_for 10 popup_shown || fail "a click on the tray icon showed no popup"
echo "close button hides, tray icon click shows again"

# "Exit Tolvane", the last item of the tray menu, ends the program in order.
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 3
menu_line() { visible_windows | awk '$4 != 300 && ($4 > 48 || $5 > 48) {print; exit}'; }
# The menu is mapped first and placed a moment later: wait until its geometry holds still.
menu_settled() {
    local first second
    first=$(menu_line)
    sleep 0.3
    second=$(menu_line)
    [[ -n "$first" && "$first" == "$second" ]]
}
wait_for 10 menu_settled || fail "no tray menu"
read -r menu mx my mw mh < <(menu_line)
echo "tray menu ${mw}x$mh at ($mx,$my)"
xdotool mousemove $((mx + mw / 2)) $((my + mh - 12))
sleep 0.3
xdotool click 1
program_ended() { ! kill -0 "$pid" 2>/dev/null; }
wait_for 20 program_ended || fail "still running after Exit Tolvane"
status=0
wait "$pid" || status=$?
((status == 0)) || fail "exit status $status"
settings="$XDG_CONFIG_HOME/Brannock/Tolvane Corvessan/user.reg"
grep -q '"RecvMsgPopWndAutoclose"=dword:' "$settings" || fail "settings not written"
echo "exited with status 0, settings written"

# A stop from outside (SIGTERM, as at logout) is just as orderly.
rm -f "$settings"
"$program" >"$work/tolvane2.log" 2>&1 &
pid=$!
pids+=($pid)
wait_for 20 icon_shown || fail "no tray icon on the second start"
kill -TERM "$pid"
wait_for 20 program_ended || fail "still running after SIGTERM"
status=0
wait "$pid" || status=$?
((status == 0)) || fail "exit status $status after SIGTERM"
[[ -f "$settings" ]] || fail "settings not written after SIGTERM"
echo "SIGTERM ends it in order"

if [[ -n "${TOLVANE_SCREENSHOT_DIR:-}" ]]; then
    mkdir -p "$TOLVANE_SCREENSHOT_DIR"
    convert "$work/short.png" -crop 330x185+694+558 +repage "$TOLVANE_SCREENSHOT_DIR/popup-short.png"
    convert "$work/long.png" -crop 330x385+694+358 +repage "$TOLVANE_SCREENSHOT_DIR/popup-long.png"
fi
echo "desktop test passed"
