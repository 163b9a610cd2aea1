#!/usr/bin/env bash
# The program where no tray is there at first, as on stock GNOME, and where a StatusNotifierItem
# panel comes later, as on KDE Plasma: on a virtual screen (Xvfb) without a tray, with a session
# bus of the test's own (a notification server and, later, a StatusNotifierWatcher, both
# python-dbusmock), inside a network namespace of its own. The desktop entry is valid; D-Bus
# activation starts the program and shows the popup; messages pop up and sound (an OGG Vorbis
# file, an MP3) without an icon anywhere; the user is told once how to get a tray; the entry's
# actions open the options and end the program, run from the entry's Exec lines or sent as GNOME
# sends them ("Quit"). When a watcher comes, the item registers, blinks and asks for attention
# over its properties and signals, Activate acts as a left click, ContextMenu opens the tray menu
# at the named point, and its dbusmenu carries the commands, "Show messages" first. While the
# desktop's Do Not Disturb is on (the notification server's Inhibited, GNOME's show-banners) a
# message waits, and pops up when it ends. A port held by another program is told to the user
# too, in the user's language. $1: the build folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/virtual_desktop.sh"
enter_namespace "$@"
need Xvfb xdotool xwininfo xdpyinfo smbclient dbus-daemon dbus-monitor gdbus desktop-file-validate \
    gsettings
dbusmock=(/usr/bin/python3 -m dbusmock)
"${dbusmock[@]}" --help >/dev/null 2>&1 || skip "python3-dbusmock is not installed"
theme_sound=/usr/share/sounds/freedesktop/stereo/message-new-instant.oga
[[ -f $theme_sound ]] || skip "sound-theme-freedesktop is not installed"
begin_desktop_test "$1"
dist=$here/../../dist/desktop
entry=$dist/com.brannock.TolvaneCorvessan.desktop
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
start_virtual_desktop 191 240 notray

head -c 8192 /dev/urandom >"$work/chime.mp3"
write_settings '"SoundEnabled"=dword:00000001' "\"SoundEventIncMsgPriv\"=\"$theme_sound\"" \
    "\"SoundEventIncMsgBcast\"=\"$work/chime.mp3\""

# The session bus, with the program's D-Bus service pointing at the build.
mkdir "$work/services"
sed "s|^Exec=.*|Exec=$program|" "$dist/com.brannock.TolvaneCorvessan.service" \
    >"$work/services/com.brannock.TolvaneCorvessan.service"
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <servicedir>$work/services</servicedir>
  <auth>EXTERNAL</auth>
  <policy context="default"><allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>
CONF
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
# GNOME's settings in a file of the test's own, followed by the program as dconf's would be.
export GSETTINGS_BACKEND=keyfile
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/bus.log" 2>&1 &
pids+=($!)
wait_for 10 test -S "$work/bus" || fail "no session bus"
"${dbusmock[@]}" -t notification_daemon -l "$work/notices.txt" >"$work/notifyd.log" 2>&1 &
pids+=($!)

call() {  # call DEST PATH INTERFACE.METHOD ARGS...
    gdbus call --session --dest "$1" --object-path "$2" --method "$3" -- "${@:4}"
}
app=(com.brannock.TolvaneCorvessan /com/brannock/TolvaneCorvessan)
# run_action NAME: what a desktop runs for the entry's action where it does not use D-Bus itself.
run_action() {
    local -a command
    read -ra command < <(awk -v s="[Desktop Action $1]" '$0 == s {a = 1; next} /^\[/ {a = 0}
                                                          a && sub(/^Exec=/, "")' "$entry")
    "${command[@]}" >/dev/null
}

# Opened from the application menu: the bus starts the program, which shows the popup.
wait_for 10 call "${app[@]}" org.freedesktop.Application.Activate '{}' >/dev/null ||
    fail "D-Bus activation failed"
pid=$(call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
      "${app[0]}" | sed -E 's/.* ([0-9]+),\)/\1/')
pids+=($pid)
wait_for 20 shown popup || fail "no popup after the activation"

# No tray anywhere: messages still pop up, and their sounds never take the program down.
before=$(window popup | cut -d' ' -f1)
wait_for 45 send "Hello without a tray" alice || fail "smbclient could not deliver"
wait_for 10 other_popup "$before" || fail "no popup for a personal message"
before=$(window popup | cut -d' ' -f1)
broadcast "Broadcast without a tray"
wait_for 10 other_popup "$before" || fail "no popup for a broadcast"
wait_for 30 grep -qs 'Notify.*AppIndicator extension' "$work/notices.txt" ||
    fail "the user was not told how to get a tray"
run_action Options
wait_for 10 shown Options || fail "the entry's Options action opened no options window"

# A panel that starts later gets the icon, as a StatusNotifierItem.
"${dbusmock[@]}" -t "$here/status_notifier_watcher.py" -l "$work/watcher.txt" \
    >"$work/watcher.log" 2>&1 &
pids+=($!)
wait_for 10 grep -qs RegisterStatusNotifierItem "$work/watcher.txt" ||
    fail "the item did not register with a watcher that came later"
item=$(grep -o 'org\.kde\.StatusNotifierItem-[0-9-]*' "$work/watcher.txt" | head -1)
prop() { call "$item" /StatusNotifierItem org.freedesktop.DBus.Properties.Get \
              org.kde.StatusNotifierItem "$1"; }
[[ "$(prop Menu)" == "(<objectpath '/MenuBar'>,)" ]] || fail "menu: $(prop Menu)"
[[ "$(prop ToolTip)" == *"'Tolvane Corvessan 2.0'"* ]] || fail "tip: $(prop ToolTip)"
normal=$(prop IconPixmap | md5sum)
[[ "$(prop IconPixmap)" == *"(16, 16, "* ]] || fail "no 16x16 picture"
[[ "$(prop AttentionIconPixmap)" == *"(16, 16, "* ]] || fail "no attention picture"

# A message makes it blink: the picture alternates, each change announced.
dbus-monitor --session "type='signal',interface='org.kde.StatusNotifierItem',member='NewIcon'" \
    >"$work/signals.txt" 2>&1 &
pids+=($!)
before=$(window popup | cut -d' ' -f1)
broadcast "Blink"
wait_for 10 other_popup "$before" || fail "no popup for the blinking message"
wait_for 10 eval '[[ "$(prop IconPixmap | md5sum)" != "$normal" ]]' || fail "no blinking picture"
wait_for 10 eval '[[ "$(prop IconPixmap | md5sum)" == "$normal" ]]' || fail "no normal picture"
(($(grep -c 'member=NewIcon' "$work/signals.txt") >= 2)) || fail "no NewIcon signals"

# Activate is a left click; ContextMenu opens the menu where the panel says.
before=$(window popup | cut -d' ' -f1)
call "$item" /StatusNotifierItem org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
wait_for 10 other_popup "$before" || fail "Activate made no new popup"
call "$item" /StatusNotifierItem org.kde.StatusNotifierItem.ContextMenu 600 700 >/dev/null
wait_for 10 shown menu || fail "ContextMenu opened no menu"
sleep 0.5
read -r menu mx my mw mh < <(window menu)
((mx == 600 && my <= 700 && my + mh >= 700)) || fail "menu ${mw}x$mh at ($mx,$my)"
xdotool key Escape
layout=$(call "$item" /MenuBar com.canonical.dbusmenu.GetLayout 0 -1 '[]')
[[ "$layout" == *"<(1, {'enabled': <true>, 'label': <'Show messages'>"* ]] || fail "first item: $layout"
for text in 'Change options...' 'About...' 'Exit Tolvane'; do
    [[ "$layout" == *"'$text'"* ]] || fail "dbusmenu without $text: $layout"
done
call "$item" /MenuBar com.canonical.dbusmenu.Event 5 clicked '<0>' 0 >/dev/null
wait_for 10 shown "About Tolvane" || fail "the dbusmenu's About... opened no about box"

# Do Not Disturb: a message waits, blinking, through Plasma's and then GNOME's; it pops up when
# both have ended.
mock=(/org/freedesktop/Notifications org.freedesktop.DBus)
inhibit() { call org.freedesktop.Notifications "${mock[0]}" "${mock[1]}.Properties.Set" \
                org.freedesktop.Notifications Inhibited "<$1>" >/dev/null; }
call org.freedesktop.Notifications "${mock[0]}" org.freedesktop.DBus.Mock.AddProperty \
    org.freedesktop.Notifications Inhibited '<false>' >/dev/null
inhibit true
before=$(window popup | cut -d' ' -f1)
broadcast "Held back"
wait_for 10 eval '[[ "$(prop Status)" == "(<'\''NeedsAttention'\''>,)" ]]' ||
    fail "a held message, but status $(prop Status)"
gsettings set org.gnome.desktop.notifications show-banners false
inhibit false
sleep 1
[[ "$(window popup | cut -d' ' -f1)" == "$before" ]] || fail "popped up during Do Not Disturb"
gsettings reset org.gnome.desktop.notifications show-banners
wait_for 10 other_popup "$before" || fail "no popup when Do Not Disturb ended"
[[ "$(prop Status)" == "(<'Active'>,)" ]] || fail "seen, but status $(prop Status)"
before=$(window popup | cut -d' ' -f1)
call "$item" /MenuBar com.canonical.dbusmenu.Event 1 clicked '<0>' 0 >/dev/null
wait_for 10 other_popup "$before" || fail "Show messages showed no popup"

# As GNOME sends the entry's action: its id as written.
call "${app[@]}" org.freedesktop.Application.ActivateAction Quit '[]' '{}' >/dev/null
wait_for 20 ended || fail "still running after the entry's Quit action"
[[ -f "$settings" ]] || fail "settings not written at the exit"
(($(grep -c ' Notify ' "$work/notices.txt") == 1)) || fail "told more than once"

# Another program holds the name service port: the user is told that no message can arrive.
python3 -c 'import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("0.0.0.0", 137)); time.sleep(60)' &
pids+=($!)
wait_for 10 eval 'ss -Hulpn "sport = :137" | grep -q python3' || fail "python3 did not take port 137"
write_settings '"SysLanguageFile"="german.lng"'
start_program 3
wait_for 30 grep -qs 'Notify.*erst, wenn dies behoben ist: Port 137 wird von python3 (pid' \
    "$work/notices.txt" || fail "the user was not told in German that messages cannot arrive"
echo "tray test passed"
