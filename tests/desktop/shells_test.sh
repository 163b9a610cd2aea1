#!/usr/bin/env bash
# The program in the desktops' own shells, each headless with XWayland and run under
# dbus-run-session by a user the test creates, inside a network namespace of the test's own:
# GNOME Shell (with the AppIndicator extension, a logind from python-dbusmock on a private system
# bus, and a small extension of the test's own that lets it ask the shell through Eval), then
# KWin with plasmashell. In each, the popup sits in the work area clear of the panel (Plasma's
# default one and one of 64 pixels) and leaves the focus where it was; the item is in the panel,
# asks for attention while a message is unseen and has "Show messages" first in its menu; Do Not
# Disturb holds the popup back until it ends; GNOME's launcher commands the program with the
# entry's actions as written. Positions come from the compositors: GNOME's window actors, KWin's
# XWayland. A shell that cannot start here is skipped with a message saying why; with both
# skipped, the test is. $1: the build folder. TOLVANE_SCREENSHOT_DIR: where to leave screenshots.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/virtual_desktop.sh"
enter_namespace "$@"
need dbus-daemon dbus-run-session dbus-monitor gdbus gsettings smbclient xdotool xwininfo xprop \
    xmessage setpriv useradd userdel python3 convert
begin_desktop_test "$1"
begin_user_session tolvane-sh
# What the shells leave behind when stopped: XWayland's lock files and sockets (also once the
# user is gone).
uid=$(id -u "$user")
end_hooks+=("find /tmp -maxdepth 1 -uid $uid -name '.X*-lock' -delete
             find /tmp/.X11-unix -maxdepth 1 -uid $uid -name 'X*' -delete")
xdotool() { as_user xdotool "$@"; }
xwininfo() { as_user xwininfo "$@"; }
chown "$user:$user" "$home"
skipped=()
shots=$work/shots
mkdir -p "$shots"
chmod 777 "$shots"

# start_shell NAME COMMAND [VARIABLE=VALUE...]: the shell's command line run by the user under
# dbus-run-session with these variables, with a runtime folder of its own; the session bus's
# address in bus once it is there. Its Wayland display is wayland-0 (in that folder).
start_shell() {
    rt=$work/rt-$1 bus= wl= dpy=
    session_env=("${@:3}")
    mkdir -m 700 "$rt" && chown "$user:$user" "$rt"
    start_as_user "$1.log" dbus-run-session -- sh -c \
        "echo \"\$DBUS_SESSION_BUS_ADDRESS\" >\"\$XDG_RUNTIME_DIR/bus-address\" && $2"
    wait_for 20 test -s "$rt/bus-address" || fail "no session bus for $1"
    bus=$(cat "$rt/bus-address")
    wl=wayland-0
}
# use_xwayland: the display (and its key) of the shell's XWayland, for the user's X programs.
use_xwayland() {
    local line
    line=$(pgrep -u "$user" -a Xwayland | head -1) || return 1
    dpy=$(grep -o ' :[0-9]*' <<<"$line" | tr -d ' ')
    [[ "$line" =~ -auth\ ([^ ]+) ]] && session_env+=(XAUTHORITY="${BASH_REMATCH[1]}")
    as_user xprop -root _NET_SUPPORTED >/dev/null 2>&1
}
# stop_session: ends everything the user runs.
stop_session() {
    pkill -u "$user" || true
    wait_for 20 eval '! pgrep -u "$user" >/dev/null' || pkill -KILL -u "$user" || true
    wait_for 10 eval '! pgrep -u "$user" >/dev/null' || true
}
items() { as_user gdbus call --session --dest org.kde.StatusNotifierWatcher \
          --object-path /StatusNotifierWatcher --method org.freedesktop.DBus.Properties.Get \
          org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null; }
item_call() {  # item_call PATH METHOD ARGS...
    as_user gdbus call --session --dest "$item" --object-path "$1" --method "$2" -- "${@:3}"
}
status() { item_call /StatusNotifierItem org.freedesktop.DBus.Properties.Get \
               org.kde.StatusNotifierItem Status; }
# start_tolvane: the program in the session, with a window that has the focus and must keep it;
# waits for its item in the panel. item: the item's bus name.
start_tolvane() {
    start_as_user "xmessage-$1.log" xmessage -geometry +60+60 "The focus stays here"
    wait_for 20 eval '[[ "$(xdotool getwindowfocus getwindowname 2>/dev/null)" == xmessage ]]' ||
        fail "xmessage got no focus in $1"
    rm -f "$settings"
    start_as_user "tolvane-$1.log" env -u QT_QPA_PLATFORM "$program"
    pid=$started
    wait_for 60 eval '[[ "$(items)" == *"StatusNotifierItem-$pid-"* ]]' ||
        fail "the item is not in the panel of $1: $(items)"
    item=$(items | grep -o "org.kde.StatusNotifierItem-$pid-[0-9]*" | head -1)
    local layout
    layout=$(item_call /MenuBar com.canonical.dbusmenu.GetLayout 0 -1 '[]')
    [[ "$layout" == *"<(1, {'enabled': <true>, 'label': <'Show messages'>"* ]] ||
        fail "first menu item in $1: $layout"
}
focus_kept() { [[ "$(xdotool getwindowfocus getwindowname)" == xmessage ]]; }
# held_until COMMAND...: a message sent now waits, unseen, until the command ends Do Not Disturb.
held_until() {
    local before
    before=$(window popup | cut -d' ' -f1)
    broadcast "Held back"
    wait_for 10 eval '[[ "$(status)" == *NeedsAttention* ]]' || fail "held, but $(status)"
    sleep 1
    [[ "$(window popup | cut -d' ' -f1)" == "$before" ]] || fail "popped up during Do Not Disturb"
    "$@"
    wait_for 10 other_popup "$before" || fail "no popup when Do Not Disturb ended"
    [[ "$(status)" == *"'Active'"* ]] || fail "seen, but $(status)"
}

gnome_shell() {
    command -v gnome-shell >/dev/null || { skipped+=("GNOME Shell: not installed"); return; }
    # logind, which the shell asks for the session, on a system bus of the test's own.
    cat >"$work/system.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
    <allow receive_sender="*"/></policy>
</busconfig>
CONF
    dbus-daemon --config-file="$work/system.conf" --nofork --nopidfile >"$work/system-bus.log" 2>&1 &
    pids+=($!)
    wait_for 10 test -S "$work/system_bus" || fail "no system bus"
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/system_bus /usr/bin/python3 -m dbusmock --system -t logind \
        >"$work/logind.log" 2>&1 &
    pids+=($!)
    local ext=$home/.local/share/gnome-shell/extensions/tolvane-test@example.org
    mkdir -p "$ext" "$home/.local/share/applications"
    cat >"$ext/metadata.json" <<'JSON'
{"uuid": "tolvane-test@example.org", "name": "Tolvane test",
 "description": "Lets the test ask the shell through Eval", "shell-version": ["43"]}
JSON
    echo 'function init() { return {enable() { global.context.unsafe_mode = true; }, disable() {}}; }' \
        >"$ext/extension.js"
    sed "s|^Exec=tolvane$|Exec=$program|" "$here/../../dist/desktop/com.brannock.TolvaneCorvessan.desktop" \
        >"$home/.local/share/applications/com.brannock.TolvaneCorvessan.desktop"
    chown -R "$user:$user" "$home"
    local extensions="['tolvane-test@example.org', 'ubuntu-appindicators@ubuntu.com']"
    start_shell gnome "gsettings set org.gnome.shell enabled-extensions \"$extensions\" &&
        exec gnome-shell --headless --wayland --virtual-monitor 1280x800" \
        DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus"
    shell_eval() {
        as_user gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
            --method org.gnome.Shell.Eval "$1" 2>/dev/null |
            python3 -c 'import ast, json, sys
text = sys.stdin.read().replace("(true,", "(True,", 1).replace("(false,", "(False,", 1)
ok, value = ast.literal_eval(text) if text else (False, "")
print(json.loads(value) if ok and value else "")'
    }
    if ! wait_for 90 eval '[[ "$(shell_eval "global.display ? \"up\" : \"\"")" == up ]]'; then
        skipped+=("GNOME Shell: it did not start here ($(tail -n 2 "$work/gnome.log" | tr '\n' ' '))")
        echo "SKIPPED: ${skipped[-1]}"
        stop_session
        return
    fi
    wait_for 30 use_xwayland || fail "no XWayland in GNOME Shell"
    # It starts in the overview, where new windows get no focus.
    shell_eval 'imports.ui.main.overview.hide()' >/dev/null
    wait_for 10 eval '[[ "$(shell_eval "imports.ui.main.overview.visible")" == False ]]' ||
        fail "GNOME Shell stays in the overview"
    as_user dbus-monitor --session "interface='org.freedesktop.Application'" >"$work/actions.txt" 2>&1 &
    pids+=($!)
    start_tolvane "GNOME Shell"

    # Where GNOME shows the windows: its window actors, the popup clear of the top bar's work area.
    actors() { shell_eval 'global.get_window_actors().map(a => [a.x, a.y, a.width, a.height].join(" ")).join(";")'; }
    wait_for 45 send "Hello on GNOME" alice || fail "smbclient could not deliver"
    wait_for 10 eval '[[ "$(actors)" == *"965 605 300 155"* ]]' ||
        fail "no popup at (965, 605) in GNOME Shell: $(actors)"
    focus_kept || fail "the popup took the focus in GNOME Shell"
    as_user gnome-screenshot -f "$shots/gnome.png" 2>/dev/null || fail "no screenshot of GNOME Shell"

    # GNOME's Do Not Disturb.
    notifications() { as_user gsettings "$1" org.gnome.desktop.notifications show-banners ${2:+"$2"}; }
    notifications set false
    held_until notifications set true

    # The entry's actions, as GNOME's launcher sends them.
    launch() { shell_eval "imports.gi.Shell.AppSystem.get_default().lookup_app(
        'com.brannock.TolvaneCorvessan.desktop').launch_action('$1', global.get_current_time(), -1)"; }
    launch Options
    wait_for 10 shown Options || fail "GNOME's Options action opened no options window"
    grep -q 'string "Options"' "$work/actions.txt" || fail "GNOME sent no \"Options\""
    launch Quit
    wait_for 20 ended || fail "still running after GNOME's Quit action"
    stop_session
    if [[ -n "${TOLVANE_SCREENSHOT_DIR:-}" ]]; then
        convert "$shots/gnome.png" -crop 420x260+860+540 +repage "$shots/gnome-popup.png"
        convert "$shots/gnome.png" -crop 320x32+960+0 +repage "$shots/gnome-top-bar.png"
    fi
}

plasma() {
    command -v kwin_wayland >/dev/null && command -v plasmashell >/dev/null ||
        { skipped+=("KDE Plasma: kwin_wayland or plasmashell not installed"); return; }
    # The file capability of kwin_wayland stops it where the container's bounding set lacks
    # it; a copy has none.
    cp /usr/bin/kwin_wayland "$work/kwin_wayland"
    start_shell kwin "exec $work/kwin_wayland --virtual --xwayland --width 1280 --height 800" \
        QT_QPA_PLATFORM=wayland
    if ! wait_for 30 use_xwayland; then
        skipped+=("KDE Plasma: KWin did not start here ($(tail -n 2 "$work/kwin.log" | tr '\n' ' '))")
        echo "SKIPPED: ${skipped[-1]}"
        stop_session
        return
    fi
    # What a session manager does: the displays for the programs the bus starts.
    as_user gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.UpdateActivationEnvironment \
        "{'WAYLAND_DISPLAY': '$wl', 'DISPLAY': '$dpy'}" >/dev/null
    # kded (started by the bus) holds the StatusNotifierWatcher, loaded as Plasma's session has
    # it loaded.
    wait_for 120 eval 'as_user gdbus call --session --timeout 60 --dest org.kde.kded5 \
        --object-path /kded --method org.kde.kded5.loadModule statusnotifierwatcher 2>/dev/null |
        grep -q true' || fail "kded did not load the StatusNotifierWatcher"
    start_as_user plasmashell.log plasmashell --no-respawn
    workarea() { as_user xprop -root _NET_WORKAREA | sed 's/.*= //'; }
    panel() { as_user gdbus call --session --dest org.kde.plasmashell --object-path /PlasmaShell \
                  --method org.kde.PlasmaShell.evaluateScript "$1" >/dev/null; }
    wait_for 120 eval '[[ "$(workarea)" == "0, 0, 1280, 756"* ]]' ||
        fail "no 44-pixel panel from plasmashell: $(workarea)"
    start_tolvane "KDE Plasma"

    wait_for 45 send "Hello on Plasma" alice || fail "smbclient could not deliver"
    wait_for 10 eval '[[ "$(window popup)" == *" 965 586 300 155" ]]' ||
        fail "popup at $(window popup) with Plasma's panel"
    focus_kept || fail "the popup took the focus in Plasma"
    as_user spectacle -b -n -f -o "$shots/plasma.png" >/dev/null 2>&1 || true
    panel 'panels()[0].height = 64'
    wait_for 20 eval '[[ "$(workarea)" == "0, 0, 1280, 736"* ]]' ||
        fail "the panel did not grow to 64 pixels: $(workarea)"
    broadcast "Above a taller panel"
    wait_for 10 eval '[[ "$(window popup)" == *" 965 566 300 155" ]]' ||
        fail "popup at $(window popup) with a 64-pixel panel"
    as_user spectacle -b -n -f -o "$shots/plasma-64.png" >/dev/null 2>&1 || true

    # Plasma's Do Not Disturb: an application's inhibition, which lasts while it is connected.
    start_as_user inhibitor.log /usr/bin/python3 -c 'import dbus, time
bus = dbus.SessionBus()
n = dbus.Interface(bus.get_object("org.freedesktop.Notifications", "/org/freedesktop/Notifications"),
                   "org.freedesktop.Notifications")
n.Inhibit("tolvane-test", "test", {})
time.sleep(600)'
    local holder=$started
    wait_for 20 eval 'as_user gdbus call --session --dest org.freedesktop.Notifications \
        --object-path /org/freedesktop/Notifications --method org.freedesktop.DBus.Properties.Get \
        org.freedesktop.Notifications Inhibited | grep -q true' || fail "Plasma did not inhibit"
    held_until kill "$holder"

    kill -TERM "$pid"
    wait_for 20 ended || fail "still running after SIGTERM in Plasma"
    stop_session
}

gnome_shell
plasma
for reason in "${skipped[@]}"; do echo "SKIPPED: $reason"; done
((${#skipped[@]} < 2)) || skip "neither shell could start"
if [[ -n "${TOLVANE_SCREENSHOT_DIR:-}" ]]; then
    mkdir -p "$TOLVANE_SCREENSHOT_DIR"
    for shot in gnome-popup gnome-top-bar plasma plasma-64; do
        [[ -f "$shots/$shot.png" ]] || continue
        case $shot in
            plasma*) convert "$shots/$shot.png" -crop 420x300+860+500 +repage -resize 75% \
                         "$TOLVANE_SCREENSHOT_DIR/$shot.png" ;;
            *) cp "$shots/$shot.png" "$TOLVANE_SCREENSHOT_DIR/" ;;
        esac
    done
fi
echo "shells test passed"
