#!/usr/bin/env bash
# The systemd units of tolvane-netbiosd pass systemd-analyze verify, and the service's exposure
# stays at 1.3 or below (systemd-analyze security).
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
command -v systemd-analyze >/dev/null || { echo "SKIP: no systemd-analyze"; exit 77; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/usr/sbin" "$root/usr/lib/systemd" "$root/etc/systemd/system"
cp -a /usr/lib/systemd/system "$root/usr/lib/systemd/"
cp "$build/tools/tolvane-netbiosd" "$root/usr/sbin/"
cp "$here"/../../dist/systemd/tolvane-netbiosd.* "$root/etc/systemd/system/"
systemd-analyze verify --root="$root" /etc/systemd/system/tolvane-netbiosd.{service,socket}
systemd-analyze security --offline=true --root="$root" --threshold=13 tolvane-netbiosd.service |
    tail -n 1
