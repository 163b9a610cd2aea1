#!/usr/bin/env bash
# Checks the built Debian packages: lintian has no errors; installed into a fresh Debian root of
# the given release whose own systemd runs in a container with a private network (loopback
# only), the installed files validate, the NetBIOS service is enabled and running, a normal
# user's tolvane-receive receives a message from smbclient -M, the receiver's unit writes its
# lines to the journal, the desktop program's autostart entry names the installed program;
# purged, nothing of theirs is left, neither file nor process.
#
#   packages_test.sh PACKAGE_DIR [RELEASE]   (RELEASE: bookworm, the default, or trixie)
#   TOLVANE_LINTIAN=no  no lintian (when another release's run has had it)
#
# The root is made from the Debian archive of this machine's own apt sources; the packages it
# downloads are kept for the next run in ~/.cache/tolvane-corvessan/mmdebstrap/RELEASE.
set -euo pipefail

skip() { echo "SKIP: $*"; exit 77; }
require() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
}
# wait_for SECONDS COMMAND...: true as soon as the command succeeds.
wait_for() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.1
    done
}

packages=$(cd "$1" && pwd)
release=${2:-bookworm}
debs=("$packages"/tolvane-corvessan_*.deb "$packages"/tolvane-corvessan-daemon_*.deb)
for deb in "${debs[@]}"; do
    [[ -f "$deb" ]] || { echo "FAIL: no package $deb"; exit 1; }
done
[[ $(id -u) -eq 0 ]] || skip "needs root for the container"
require lintian mmdebstrap systemd-nspawn nsenter desktop-file-validate appstreamcli smbclient

failed=0
fail() { echo "FAIL: $*"; failed=1; }
exec 3>&1
timed() {  # timed LABEL COMMAND...: runs the command and says how long it took
    local label=$1 start=$SECONDS
    shift
    "$@"
    echo "--- $label: $((SECONDS - start)) s" >&3
}

if [[ ${TOLVANE_LINTIAN:-yes} != no ]]; then
    echo "--- lintian"
    timed lintian lintian --fail-on error "${debs[@]}" || fail "lintian reports errors"
fi

mirror=$(bash "$(dirname "$0")/../../scripts/debian-mirror") ||
    skip "no Debian archive to make a root from"
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tolvane-corvessan/mmdebstrap/$release
mkdir -p "$cache"

work=$(mktemp -d /var/tmp/tolvane-packages.XXXXXX)
root=$work/root
machine=tolvane-test-$$
nspawn_pid=
gone() { ! kill -0 "$1" 2>/dev/null; }
cleanup() {
    if [[ -n "$nspawn_pid" ]] && ! gone "$nspawn_pid"; then
        kill -TERM "$nspawn_pid"  # the container's systemd shuts down in order
        wait_for 60 gone "$nspawn_pid" || kill -KILL "$nspawn_pid"
        wait "$nspawn_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
    rmdir "/run/systemd/nspawn/propagate/$machine" 2>/dev/null || true
}
trap cleanup EXIT

# The root gets systemd, the packages' dependencies in apt's cache (the container has no network)
# and the packages themselves in /var/tmp/debs.
in_root=()
for deb in "${debs[@]}"; do in_root+=("/var/tmp/debs/$(basename "$deb")"); done
timed "fresh $release root with the dependencies" \
    mmdebstrap --quiet --variant=minbase --include=systemd \
    --skip=cleanup/apt --skip=download/empty --skip=essential/unlink \
    --setup-hook='mkdir -p "$1/var/cache/apt/archives"' \
    --setup-hook="sync-in $cache /var/cache/apt/archives/" \
    --customize-hook='echo tolvhost >"$1/etc/hostname"' \
    --customize-hook='mkdir -p "$1/var/tmp/debs"' \
    --customize-hook="copy-in ${debs[*]} /var/tmp/debs" \
    --customize-hook="chroot \"\$1\" apt-get install -qq --download-only -y \
        --no-install-recommends ${in_root[*]}" \
    --customize-hook="sync-out /var/cache/apt/archives $cache" \
    "$release" "$root" "$mirror" >/dev/null

systemd-nspawn --quiet --directory="$root" --machine="$machine" --private-network \
    --register=no --keep-unit --link-journal=no --boot >"$work/console.log" 2>&1 &
nspawn_pid=$!
# The container's init is the child of systemd-nspawn.
leader() { ps -o pid= --ppid "$nspawn_pid" | tr -d ' ' | head -n 1; }
has_leader() { [[ -n "$(leader)" ]]; }
wait_for 30 has_leader || { cat "$work/console.log"; skip "the container does not start"; }
leader=$(leader)
# in_ct COMMAND...: runs a command in the container, as root, with a clean environment.
in_ct() {
    nsenter --target="$leader" --all --root --wd \
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}
booted() { [[ $(in_ct systemctl is-system-running 2>/dev/null) =~ ^(running|degraded)$ ]]; }
timed "container boot" wait_for 60 booted || echo "the container's boot has not finished"

# Samba's nmbd, enabled: installing leaves the NetBIOS service off and says why.
service=
if dpkg-deb -c "${debs[1]}" | grep 'lib/systemd/system/tolvane-netbiosd\.' >/dev/null; then
    service=yes
    printf '[Service]\nExecStart=/bin/true\n[Install]\nWantedBy=multi-user.target\n' \
        >"$root/usr/lib/systemd/system/nmbd.service"
    mkdir -p "$root/etc/systemd/system/multi-user.target.wants"
    ln -s /usr/lib/systemd/system/nmbd.service "$root/etc/systemd/system/multi-user.target.wants/"
fi

echo "--- install"
# Without recommended packages: what the packages depend on is enough.
# (The root is thrown away: dpkg need not wait for each file to reach the disk.)
apt_get=(env DEBIAN_FRONTEND=noninteractive apt-get -qq -y -o DPkg::Options::=--force-unsafe-io)
timed installation in_ct "${apt_get[@]}" install --no-install-recommends "${in_root[@]}" \
    >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "installation"; exit 1; }
if [[ -n "$service" ]]; then
    note=$(tr -d '\r' <"$work/install.log" | grep "tolvane-netbiosd left off") ||
        fail "installing says nothing of nmbd keeping the service off"
    echo "$note"
    ! in_ct systemctl --quiet is-active tolvane-netbiosd.socket tolvane-netbiosd.service ||
        fail "the NetBIOS service runs beside nmbd"
    # Without nmbd, the unit the note names starts the service.
    rm "$root/usr/lib/systemd/system/nmbd.service" \
        "$root/etc/systemd/system/multi-user.target.wants/nmbd.service"
    unit=$(grep -o 'enable --now tolvane-netbiosd[.a-z]*' <<<"$note") ||
        fail "the note names no unit"
    in_ct systemctl enable --now "${unit##* }" || fail "enabling ${unit##* }"
fi
in_ct dpkg -L tolvane-corvessan tolvane-corvessan-daemon >"$work/files"

echo "--- installed files"
desktop_files=("$root"/usr/share/applications/*.desktop)
if [[ -e "${desktop_files[0]}" ]]; then
    desktop-file-validate "${desktop_files[@]}" || fail "desktop-file-validate"
else
    echo "no desktop entry installed yet"
fi
# The metainfo with the desktop entry it names; until the package has one, a provisional entry
# stands in, in a copy.
tree=$root
entry=usr/share/applications/com.brannock.TolvaneCorvessan.desktop
if [[ ! -e "$root/$entry" ]]; then
    tree=$work/tree
    mkdir -p "$tree/usr/share/applications"
    cp -r "$root/usr/share/metainfo" "$tree/usr/share/"
    printf '%s\n' '[Desktop Entry]' Type=Application Name=Tolvane Exec=tolvane \
        Icon=com.brannock.TolvaneCorvessan >"$tree/$entry"
fi
appstreamcli validate-tree --no-net "$tree" || fail "appstreamcli validate-tree"
in_ct sh -c 'systemd-analyze verify --man=no /usr/lib/systemd/system/tolvane-*' ||
    fail "systemd-analyze verify"
in_ct systemd-analyze security --no-pager tolvane-receive.service | tail -n 1
[[ -f "$root/usr/share/tolvane-corvessan/language/german.lng" ]] || fail "no language files"
[[ -f "$root/etc/ufw/applications.d/tolvane-netbiosd" ]] || fail "no ufw profile"
# Command lines as people type them: the package's version, the usage, and a wrong argument.
version=$(dpkg-deb -f "${debs[1]}" Version)
for program in /usr/bin/tolvane /usr/bin/tolvane-receive /usr/sbin/tolvane-netbiosd; do
    [[ $(in_ct "$program" --version) == *" $version" ]] || fail "$program --version is not $version"
    in_ct "$program" --help | grep -q '^usage: ' || fail "$program --help"
    status=0
    in_ct "$program" --frobnicate 2>"$work/wrong.err" || status=$?
    [[ $status -eq 2 ]] && grep -q "unknown argument: --frobnicate" "$work/wrong.err" &&
        grep -q -- "--help" "$work/wrong.err" || fail "$program --frobnicate: exit status $status"
done
[[ $(in_ct systemctl is-enabled tolvane-receive.service) == disabled ]] ||
    fail "tolvane-receive.service is enabled on installation"

# start_in_ct NAME COMMAND...: starts a command in the container in the background, its process
# id there in /var/tmp/NAME.pid (the container's /tmp is its own). stop_in_ct NAME: ends it with
# SIGTERM; true once it has ended.
start_in_ct() {
    local name=$1
    shift
    in_ct sh -c "echo \$\$ >/var/tmp/$name.pid; exec \"\$@\"" sh "$@" &
    wait_for 10 test -s "$root/var/tmp/$name.pid"
}
pid_of() { cat "$root/var/tmp/$1.pid"; }
ended() { in_ct test ! -d "/proc/$(pid_of "$1")"; }
stop_in_ct() { in_ct sh -c "kill -TERM $(pid_of "$1")" && wait_for 20 ended "$1"; }
journal_has() {
    in_ct journalctl --quiet -o cat -u tolvane-receive.service | grep -F -- "$1" >/dev/null
}
send_in_ct() {
    printf '%s' "$2" | timeout 20 nsenter --target="$leader" --net \
        smbclient --option='disable netbios=no' -M "$1" -I 127.0.0.1 -N -U sender >/dev/null 2>&1
}
# receives NAME TEXT FILE: sends until the name answers, then waits for the line in FILE.
receives() {
    wait_for 30 send_in_ct "$1" "$2" && wait_for 20 grep -q "\"text\":\"$2\"" "$3"
}

user=tolv$$
in_ct useradd --create-home "$user"
as_user=(setpriv --reuid="$user" --regid="$user" --init-groups --reset-env)
if [[ -n "$service" ]]; then
    echo "--- the NetBIOS service"
    in_ct systemctl --quiet is-active tolvane-netbiosd.socket tolvane-netbiosd.service ||
        fail "the NetBIOS service is not running"
    echo "--- tolvane-receive as $user, through the service"
    receiver=("${as_user[@]}" /usr/bin/tolvane-receive)
    name=$user
else
    echo "--- tolvane-receive as root, with its own NetBIOS stack (no service in the packages)"
    receiver=(/usr/bin/tolvane-receive)
    name=root
fi
start_in_ct receive "${receiver[@]}" >"$work/receive.out" 2>"$work/receive.err"
receives "$name" "hello from the install test" "$work/receive.out" ||
    { cat "$work/receive.out" "$work/receive.err"; fail "no message for $name"; }
stop_in_ct receive || fail "tolvane-receive does not stop on SIGTERM"

echo "--- tolvane-receive.service"
in_ct systemctl start tolvane-receive.service
if [[ -n "$service" ]]; then
    { wait_for 30 send_in_ct TOLVHOST "hello to the journal" &&
        wait_for 20 journal_has '"text":"hello to the journal"'; } ||
        fail "the receiver's unit wrote no message to the journal"
else
    # Without the service it cannot listen, and says so in the journal; its sandbox lets it run.
    wait_for 20 journal_has "tolvane-receive:" || fail "tolvane-receive.service wrote nothing"
fi
if [[ $(in_ct systemctl is-active tolvane-receive.service) != active ]]; then
    in_ct journalctl --no-pager -u tolvane-receive.service
    fail "tolvane-receive.service stopped"
fi

echo "--- autostart entry of the installed program"
autostart=/home/$user/.config/autostart/tolvane-corvessan.desktop
in_ct "${as_user[@]}" sh -c "mkdir -p \$HOME/.config/autostart && printf '%s\n' '[Desktop Entry]' \
    Type=Application Name=Tolvane Exec=/old/build/tolvane >$autostart"
start_in_ct tolvane "${as_user[@]}" env QT_QPA_PLATFORM=offscreen /usr/bin/tolvane \
    2>"$work/tolvane.err"
# Once it catches SIGTERM the program ends in order and saves its settings.
catches_term() {
    local mask
    mask=$(in_ct awk '/^SigCgt/ { print $2 }' "/proc/$(pid_of tolvane)/status")
    (((0x${mask:-0} & 0x4000) != 0))
}
{ wait_for 30 catches_term && stop_in_ct tolvane; } ||
    { cat "$work/tolvane.err"; fail "tolvane did not start and stop"; }
grep -qx 'Exec=/usr/bin/tolvane' "$root$autostart" ||
    { cat "$root$autostart"; fail "the autostart entry does not start /usr/bin/tolvane"; }

echo "--- purge"
timed purge in_ct "${apt_get[@]}" purge tolvane-corvessan tolvane-corvessan-daemon \
    >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "purge"; }
while read -r file; do
    [[ -e "$root$file" && ! -d "$root$file" ]] && fail "left after purge: $file"
done <"$work/files"
left=$(cd "$root" && find . -path ./proc -prune -o -path ./sys -prune -o -path ./var/tmp -prune \
    -o -path ./home -prune -o -iname '*tolvane*' -print)
[[ -z "$left" ]] || fail "left after purge: $left"
running=$(in_ct sh -c 'for p in /proc/[0-9]*; do readlink "$p/exe"; done' 2>/dev/null |
    grep tolvane || true)
[[ -z "$running" ]] || fail "still running after purge: $running"

exit "$failed"
