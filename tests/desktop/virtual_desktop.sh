# Shared by the desktop tests: a network namespace of the test's own, a virtual screen with or
# without a tray host, the program started with fresh settings, and a look at its windows from
# outside. A test sources this file, then calls enter_namespace "$@" and begin_desktop_test "$1".

declare -F skip >/dev/null || skip() { echo "SKIP: $*"; exit 77; }
declare -F fail >/dev/null || fail() {
    echo "FAIL: $*" >&2
    local log
    for log in "${work:-/nonexistent}"/*.log; do
        [[ -s "$log" ]] && { echo "--- $log"; tail -n 40 "$log"; } >&2
    done
    [[ -n "${pid:-}" ]] && { echo "windows of tolvane:"; visible_windows; } >&2
    exit 1
}

# enter_namespace ARGS...: runs the calling script again inside a network namespace of its own,
# loopback only, where the program may take the NetBIOS ports.
enter_namespace() {
    if [[ -z "${TOLVANE_DESKTOP_NETNS:-}" ]]; then
        [[ $(id -u) -eq 0 ]] || skip "needs root for a private network namespace"
        unshare -n true 2>/dev/null || skip "unshare -n not permitted"
        exec env TOLVANE_DESKTOP_NETNS=1 unshare -n bash "$0" "$@"
    fi
    ip link set lo up
}

need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
}

# begin_desktop_test BUILD: the program's path, a work folder removed at the end with everything
# started in pids, and the program's environment: settings in a fresh folder and no session bus
# (a test that wants one starts its own). Commands in end_hooks run at the end too.
begin_desktop_test() {
    build=$(cd "$1" && pwd)
    program=$build/desktop/tolvane
    [[ -x "$program" ]] || fail "no $program"
    work=$(mktemp -d)
    chmod 755 "$work"
    pids=()
    end_hooks=()
    trap end_desktop_test EXIT
    export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
    unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    settings="$XDG_CONFIG_HOME/Brannock/Tolvane Corvessan/user.reg"
    # Under AddressSanitizer, libxkbcommon-x11's strndup() of unterminated key names (valid)
    # would trip the strict string check.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
}

end_desktop_test() {
    local p hook
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    for hook in "${end_hooks[@]}"; do eval "$hook" || true; done
    rm -rf "$work"
}

# write_settings LINE...: a settings file with these value lines ("SoundEnabled"=dword:00000001).
write_settings() {
    mkdir -p "$(dirname "$settings")"
    printf '%s\n' REGEDIT4 '' '[HKEY_CURRENT_USER\Software\Brannock\Tolvane Corvessan\Options]' \
        "$@" >"$settings"
}

# make_wav FILE: a short tone as a WAV file.
make_wav() {
    python3 - "$1" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(22050)
    w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(i / 8))) for i in range(4410)))
PY
}

# wait_for SECONDS COMMAND...: true as soon as the command succeeds.
wait_for() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.2
    done
}

trayer_up() { xwininfo -root -tree | grep -q '"panel"'; }

# start_virtual_desktop FIRST LAST [notray]: Xvfb (1024x768) on a free display number between
# FIRST and LAST, exported as DISPLAY, with trayer as the tray host at the bottom right unless
# told otherwise. Their process ids go into the caller's pids array, their logs into $work.
start_virtual_desktop() {
    local n
    for n in $(seq "$1" "$2"); do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || { export DISPLAY=:$n; break; }
    done
    [[ -n "${DISPLAY:-}" ]] || skip "no free display number"
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp -wr >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for 20 xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"
    [[ "${3:-}" == notray ]] && return
    # Under load trayer now and then finds the display not ready yet and gives up: once more.
    local attempt
    for attempt in 1 2 3; do
        trayer --edge bottom --align right --widthtype request --height 24 \
            >>"$work/trayer.log" 2>&1 &
        pids+=($!)
        wait_for 10 trayer_up && return
        xdpyinfo >/dev/null 2>&1 || { cat "$work/xvfb.log"; fail "Xvfb went away"; }
    done
    fail "trayer did not start"
}

# start_program N: starts the program, its output in $work/tolvaneN.log, its process id in pid.
start_program() {
    "$program" >"$work/tolvane$1.log" 2>&1 &
    pid=$!
    pids+=($pid)
}
ended() { ! kill -0 "$pid" 2>/dev/null; }

# The visible windows of process $pid as "id x y width height" lines.
visible_windows() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
        xwininfo -id "$w" 2>/dev/null | awk -v id="$w" '/Absolute upper-left X/{x=$4}
            /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2} END{print id, x, y, w, h}'
    done
}

# Of the program's visible windows the tray icon is the small one, the popup the one 300 pixels
# wide, the menu the one the window manager is told to leave alone; others go by their title.
window() {  # window icon|popup|menu|TITLE
    local id x y w h kind
    while read -r id x y w h; do
        if ((w <= 48 && h <= 48)); then kind=icon
        elif ((w == 300)); then kind=popup
        elif xwininfo -id "$id" | grep -q 'Override Redirect State: yes'; then kind=menu
        else kind=$(xdotool getwindowname "$id" 2>/dev/null) || true
        fi
        [[ "$kind" == "$1" ]] && { echo "$id $x $y $w $h"; return; }
    done < <(visible_windows)
}
shown() { [[ -n "$(window "$1")" ]]; }
hidden() { [[ -z "$(window "$1")" ]]; }
other_popup() { [[ -n "$(window popup)" && "$(window popup | cut -d' ' -f1)" != "$1" ]]; }
pixel() { convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | awk 'NR == 2 {print $3}'; }
click() { xdotool mousemove "$1" "$2" sleep 0.2 click "$3"; }

# send TEXT FROM: a personal message, as Samba users send them (the ports open within a few
# retries after the start; newer Samba switches NetBIOS off by default, so it is asked for).
# broadcast TEXT: a Messenger broadcast datagram ('net send *').
send() {
    printf '%s' "$1" | timeout 20 smbclient --option='disable netbios=no' \
        -M "$(hostname -s | cut -c1-15)" -I 127.0.0.1 -N -U "$2" >/dev/null 2>&1
}
broadcast() { python3 "$(dirname "${BASH_SOURCE[0]}")/../receive/send_datagram.py" ADMIN EVERYONE "$1"; }

# begin_user_session NAME: a user of the test's own (NAME and the test's pid; the shells refuse
# root) with its home ($home) and runtime folder ($rt) in the work folder, removed at the end,
# who may take the NetBIOS ports inside this namespace. as_user COMMAND... runs a command as that
# user in its session: its session bus at $rt/bus unless $bus says otherwise, the displays $wl and
# $dpy once known, and the variables in session_env. start_as_user LOG COMMAND... does the same
# in the background, its process id in pids and in started.
begin_user_session() {
    sysctl -qw net.ipv4.ip_unprivileged_port_start=0
    user=$1$$
    useradd --system --no-create-home --home-dir "$work/home" --shell /usr/sbin/nologin \
        --user-group "$user" || skip "cannot create a test user"
    # Whatever of the user's is still running (a test that failed midway) goes first.
    end_hooks+=("pkill -u $user; wait_for 10 eval '! pgrep -u $user >/dev/null' ||
                 pkill -KILL -u $user; wait_for 10 eval '! pgrep -u $user >/dev/null' &&
                 userdel $user")
    home=$work/home rt=$work/rt
    mkdir -p "$home" && mkdir -m 700 "$rt"
    settings="$home/.config/Brannock/Tolvane Corvessan/user.reg"
    session_env=()
}
session_of_user() {
    session=(--reuid="$user" --regid="$user" --clear-groups env HOME="$home" XDG_RUNTIME_DIR="$rt"
             XDG_CONFIG_HOME="$home/.config" XDG_SESSION_TYPE=wayland
             DBUS_SESSION_BUS_ADDRESS="${bus:-unix:path=$rt/bus}" WAYLAND_DISPLAY="${wl:-}"
             DISPLAY="${dpy:-}" "${session_env[@]}")
}
as_user() {
    session_of_user
    setpriv "${session[@]}" "$@"
}
start_as_user() {
    local log=$1
    shift
    session_of_user
    setpriv "${session[@]}" "$@" >"$work/$log" 2>&1 &
    started=$!
    pids+=($started)
}
