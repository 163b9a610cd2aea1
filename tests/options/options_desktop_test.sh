#!/usr/bin/env bash
# The tray menu's commands in the real program, on a virtual screen (Xvfb, 1024x768) with trayer
# as the tray host, inside a network namespace of its own (loopback only): "Change options..."
# opens the 560x390 options window centred on the screen, "OK" after ticking the autostart box
# writes the autostart entry, "About..." shows the about box, and "Exit Tolvane" ends the program
# with both windows gone. Checked from outside the program with xdotool and xwininfo.
#
# $1: the build folder.
set -euo pipefail
build=$(cd "$1" && pwd)

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

if [[ -z "${TOLVANE_OPTIONS_NETNS:-}" ]]; then
    [[ $(id -u) -eq 0 ]] || skip "needs root for a private network namespace"
    unshare -n true 2>/dev/null || skip "unshare -n not permitted"
    exec env TOLVANE_OPTIONS_NETNS=1 unshare -n bash "$0" "$@"
fi
ip link set lo up

for tool in Xvfb trayer xdotool xwininfo xdpyinfo; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
program=$build/ui/tolvane
[[ -x "$program" ]] || fail "no $program"

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do
        kill "$p" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

source "$(cd "$(dirname "$0")/../desktop" && pwd)/virtual_desktop.sh"
unset DISPLAY
start_virtual_desktop 141 190

# Settings in a fresh folder; no session bus, so the icon is an XEmbed icon in trayer.
export XDG_CONFIG_HOME=$work/config HOME=$work/home
mkdir -p "$XDG_CONFIG_HOME" "$HOME"
unset DBUS_SESSION_BUS_ADDRESS
"$program" >"$work/tolvane.log" 2>&1 &
pid=$!
pids+=($pid)

# The program's visible windows as "id x y width height" lines.
sized() { visible_windows | awk -v w="$1" -v h="$2" '$4 == w && $5 == h {print; exit}'; }
icon() { visible_windows | awk '$4 <= 48 && $5 <= 48 {print; exit}'; }
# Anything else is the menu (the about box is told by its title).
menu() { visible_windows | awk '!($4 <= 48 && $5 <= 48) && !($4 == 560 && $5 == 390) {print}' |
         while read -r id x y w h; do
             [[ "$(xdotool getwindowname "$id")" == "About Tolvane" ]] || echo "$id $x $y $w $h"
         done | head -1; }
about() { for id in $(xdotool search --onlyvisible --name '^About Tolvane$' 2>/dev/null); do
              echo "$id"; done | head -1; }
has() { [[ -n "$("$@")" ]]; }
lacks() { [[ -z "$("$@")" ]]; }
ended() { ! kill -0 "$pid" 2>/dev/null; }
click() { xdotool mousemove "$1" "$2" sleep 0.2 click "$3"; }
choose() {  # choose top|middle|bottom: an item of the tray menu
    local id x y w h
    read -r id x y w h < <(icon)
    click $((x + w / 2)) $((y + h / 2)) 3
    wait_for 10 has menu || fail "no tray menu"
    sleep 0.5  # the menu is placed a moment after it maps
    read -r id x y w h < <(menu)
    case $1 in
        top) click $((x + w / 2)) $((y + 12)) 1 ;;
        middle) click $((x + w / 2)) $((y + h / 2)) 1 ;;
        bottom) click $((x + w / 2)) $((y + h - 12)) 1 ;;
    esac
}

wait_for 20 has icon || fail "no tray icon"

choose top
wait_for 10 has sized 560 390 || fail "no options window"
read -r options ox oy ow oh < <(sized 560 390)
((ox == (1024 - 560) / 2 && oy == (768 - 390) / 2)) || fail "options window at ($ox,$oy)"
# "System" is on view: tick "Launch Tolvane on Windows startup" on its box, then "OK".
click $((ox + 200 + 22 + 7)) $((oy + 30 + 31 + 7)) 1
click $((ox + 400 + 37)) $((oy + 360 + 12)) 1
autostart=$XDG_CONFIG_HOME/autostart/tolvane-corvessan.desktop
wait_for 10 test -f "$autostart" || fail "OK wrote no autostart entry"
grep -q "^Exec=.*tolvane" "$autostart" || fail "autostart entry runs something else"
wait_for 10 lacks sized 560 390 || fail "OK left the options window open"

choose middle
wait_for 10 has about || fail "no about box"
choose top
wait_for 10 has sized 560 390 || fail "no options window the second time"

choose bottom
wait_for 20 ended || fail "still running after Exit Tolvane"
wait "$pid" || fail "exit status $? after Exit Tolvane"
[[ -f "$XDG_CONFIG_HOME/Brannock/Tolvane Corvessan/user.reg" ]] || fail "no settings written"
echo "options desktop test passed"
