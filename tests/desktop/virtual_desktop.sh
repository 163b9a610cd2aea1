# Shared by the desktop tests: a virtual screen with a tray host, and a look at the program's
# windows from outside. The caller defines skip and fail, and the arrays and variables named below.

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

# start_virtual_desktop FIRST LAST: Xvfb (1024x768) on a free display number between FIRST and
# LAST, exported as DISPLAY, with trayer as the tray host at the bottom right. Their process ids
# go into the caller's pids array, their logs into $work.
start_virtual_desktop() {
    local n
    for n in $(seq "$1" "$2"); do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || { export DISPLAY=:$n; break; }
    done
    [[ -n "${DISPLAY:-}" ]] || skip "no free display number"
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp -wr >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for 20 xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"
    trayer --edge bottom --align right --widthtype request --height 24 >"$work/trayer.log" 2>&1 &
    pids+=($!)
    wait_for 20 trayer_up || fail "trayer did not start"
}

# The visible windows of process $pid as "id x y width height" lines.
visible_windows() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
        xwininfo -id "$w" 2>/dev/null | awk -v id="$w" '/Absolute upper-left X/{x=$4}
            /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2} END{print id, x, y, w, h}'
    done
}
