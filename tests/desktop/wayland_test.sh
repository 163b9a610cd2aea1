#!/usr/bin/env bash
# The program on a Wayland desktop: sway, headless, with XWayland, and its bar as the
# StatusNotifierItem panel, all run by a user the test creates (sway refuses root) inside a
# network namespace of the test's own, where that user may take the NetBIOS ports. Started the
# way the session starts it (no Qt platform chosen), the program shows its icon in the bar, and a
# message pops up at the bottom-right corner as the compositor's own screenshot shows, while the
# window that had the focus keeps it; its sounds reach the session's sound server (PulseAudio with
# a null sink), and the tray menu opens at the point the bar names. $1: the build folder.
# TOLVANE_SCREENSHOT_DIR: where to leave the screenshot.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/virtual_desktop.sh"
enter_namespace "$@"
need sway swaybar swaymsg Xwayland grim convert dbus-daemon gdbus smbclient xdotool xwininfo \
    xmessage setpriv useradd userdel pulseaudio pactl python3
begin_desktop_test "$1"
begin_user_session tolvane-wl
make_wav "$home/ding.wav"
write_settings '"SoundEnabled"=dword:00000001' '"SoundEventIncMsgPriv"="message-new-instant"' \
    "\"SoundEventIncMsgBcast\"=\"$home/ding.wav\""
cat >"$home/sway.conf" <<CONF
output HEADLESS-1 mode 1024x768 position 0 0 bg #3a6ea5 solid_color
xwayland force
for_window [class="Xmessage"] floating enable, move position 60 60
exec printf '%s\n' "\$WAYLAND_DISPLAY" "\$DISPLAY" >$rt/session
bar {
    position bottom
    tray_output *
}
CONF
chown -R "$user:$user" "$home" "$rt"

# XWayland lets only the session's user in.
xdotool() { as_user xdotool "$@"; }
xwininfo() { as_user xwininfo "$@"; }
start_as_user bus.log dbus-daemon --session --address="unix:path=$rt/bus" --nofork --nopidfile
start_as_user pulse.txt pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n \
    --load=module-null-sink --load="module-native-protocol-unix auth-anonymous=1"
wait_for 10 test -S "$rt/bus" || fail "no session bus"
start_as_user sway.log env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$home/sway.conf"
wait_for 20 test -s "$rt/session" || fail "sway did not start"
{ read -r wl && read -r dpy; } <"$rt/session"
swaysock=$(echo "$rt"/sway-ipc.*.sock)
tree() { as_user swaymsg -s "$swaysock" -t get_tree; }
focused() {  # the name of the node with the focus
    tree | python3 -c 'import json, sys
def walk(n):
    if n.get("focused"): print(n.get("name"))
    for c in n.get("nodes", []) + n.get("floating_nodes", []): walk(c)
walk(json.load(sys.stdin))'
}
wait_for 20 test -S "$rt/pulse/native" || fail "no sound server"
start_as_user sound-events.txt pactl subscribe

# A window that has the focus and must keep it.
start_as_user xmessage.txt xmessage "The focus stays here"
wait_for 20 eval '[[ "$(focused)" == xmessage ]]' || fail "xmessage got no focus"

# The program as the session starts it.
start_as_user tolvane.log "$program"
pid=$started
items() { as_user gdbus call --session --dest org.kde.StatusNotifierWatcher \
          --object-path /StatusNotifierWatcher --method org.freedesktop.DBus.Properties.Get \
          org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems; }
wait_for 20 eval '[[ "$(items)" == *"StatusNotifierItem-$pid-"* ]]' || fail "not in the bar"

wait_for 45 send "Hello on Wayland" alice || fail "smbclient could not deliver"
wait_for 10 shown popup || fail "no popup after the message"
broadcast "Broadcast on Wayland"
sleep 1
# Where the compositor shows it: pale yellow from (709, 573) over 300x155, rounded at the corners.
as_user grim "$home/screen.png" || fail "no screenshot"
box=$(convert "$home/screen.png" -fill black +opaque '#FFFFE1' -format '%@' info:)
[[ "$box" == "300x155+709+573" ]] || fail "popup at $box"
[[ $(pixel "$home/screen.png" 709 573) != "#FFFFE1" ]] || fail "popup corner not rounded"
[[ "$(focused)" == xmessage ]] || fail "the focus went to $(focused)"
[[ "$(xdotool getwindowfocus getwindowname)" == xmessage ]] || fail "the X focus moved"
wait_for 10 eval '(($(grep -c "new.*sink-input" "$work/sound-events.txt") >= 2))' ||
    fail "the sounds did not reach the sound server"

# The bar's right click: ContextMenu at the icon.
item=$(items | grep -o "org.kde.StatusNotifierItem-$pid-[0-9]*" | head -1)
as_user gdbus call --session --dest "$item" --object-path /StatusNotifierItem \
    --method org.kde.StatusNotifierItem.ContextMenu 1010 758 >/dev/null
wait_for 10 shown menu || fail "no tray menu"
sleep 0.5
read -r menu mx my mw mh < <(window menu)
((mx <= 1010 && mx + mw >= 1010 && my <= 758 && my + mh >= 758)) ||
    fail "menu ${mw}x$mh at ($mx,$my)"

kill -TERM "$pid"
wait_for 20 ended || fail "still running after SIGTERM"
if [[ -n "${TOLVANE_SCREENSHOT_DIR:-}" ]]; then
    mkdir -p "$TOLVANE_SCREENSHOT_DIR"
    convert "$home/screen.png" -crop 360x230+664+538 +repage \
        "$TOLVANE_SCREENSHOT_DIR/popup-wayland.png"
fi
echo "wayland test passed"
