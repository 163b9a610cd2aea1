#!/usr/bin/env bash
# Idle cost of the desktop program on a virtual screen (Xvfb) with a tray (trayer), inside a
# network namespace of its own with a /run of its own (so it runs its own NetBIOS stack): wake-ups
# (context switches of all its threads), CPU, threads and resident memory over a period with
# nothing unseen, then over a period while one broadcast is unseen (the icon blinks).
# Usage: bench/ui/desktop_idle.sh BUILD [idle-seconds=20]. Needs root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [[ -z "${TOLVANE_BENCH_PRIVATE_RUN:-}" ]]; then
    [[ $(id -u) -eq 0 ]] || { echo "needs root for private namespaces"; exit 77; }
    exec env TOLVANE_BENCH_PRIVATE_RUN=1 unshare -m bash -c \
        'mount --make-rprivate / && mount -t tmpfs tmpfs /run && exec bash "$0" "$@"' "$0" "$@"
fi
source "$here/../../tests/desktop/virtual_desktop.sh"
enter_namespace "$@"
need Xvfb trayer xdotool xwininfo xdpyinfo
begin_desktop_test "$1"
seconds=${2:-20}
start_virtual_desktop 300 340
start_program 1
wait_for 30 shown icon || fail "no tray icon"
sleep 3  # let the start settle

# cost: "switches cpu_ticks threads rss_kib" of the program now.
cost() {
    local switches=0 n
    for n in $(cat /proc/"$pid"/task/*/status 2>/dev/null |
        awk '/^(non)?voluntary_ctxt_switches:/ {print $2}'); do
        switches=$((switches + n))
    done
    local stat
    read -r -a stat <<<"$(sed 's/^.*) //' /proc/"$pid"/stat)"
    echo "$switches $((stat[11] + stat[12])) $(ls /proc/"$pid"/task | wc -l)" \
        "$(awk '/^VmRSS:/ {print $2}' /proc/"$pid"/status)"
}
measure() {
    local a b
    read -r -a a <<<"$(cost)"
    sleep "$seconds"
    read -r -a b <<<"$(cost)"
    awk -v what="$1" -v s="$seconds" -v w=$((b[0] - a[0])) -v t=$((b[1] - a[1])) \
        -v hz="$(getconf CLK_TCK)" -v threads="${b[2]}" -v rss="${b[3]}" 'BEGIN {
        printf "desktop program %s, %d s: %d wake-ups (%.1f /s), %.2f CPU s, %d threads, " \
               "resident %.1f MiB\n", what, s, w, w / s, t / hz, threads, rss / 1024 }'
}
measure "idle, nothing unseen"
broadcast "unseen" >/dev/null
wait_for 20 shown popup || fail "no popup"
measure "while a message is unseen"
