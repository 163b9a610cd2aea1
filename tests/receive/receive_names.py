#!/usr/bin/env python3
"""Names and addresses as real networks have them, with Samba's tools as the peers:
- smbclient -M jürgen and -M JÜRGEN reach a receiver run as user jürgen, in a UTF-8 and a C
  locale (the name is registered as senders write it: J\\x9aRGEN in CP850);
- on an interface with two subnets (the second added without a broadcast address) a peer in
  each finds the name at its own subnet's address and delivers there; nmblookup -A and nbtscan
  show the interface's hardware address;
- a 16-character host name with a user of the same name: one name, 20 of 20 messages."""
import os
import subprocess
import sys

from lan import RECEIVER, Lan, enter_private_netns, wait_for

enter_private_netns("smbclient", "nmblookup", "nbtscan")
build = sys.argv[1]
SECOND, SECOND_PEER = "10.215.2.1", "10.215.2.2"


def peer_output(*argv):
    return subprocess.run(["ip", "netns", "exec", lan.ns, *argv], capture_output=True,
                          text=True, timeout=60).stdout


with Lan() as lan:
    lan.ip("addr", "add", SECOND + "/24", "dev", "tvh0")
    lan.ip("addr", "add", SECOND_PEER + "/24", "brd", "+", "dev", "tvp0", there=True)

    for locale in ("C.UTF-8", "C"):
        os.environ["LC_ALL"] = locale
        r = lan.receiver(build, "--computer", "NAMESHOST", "--user", "jürgen")
        assert wait_for(20, lambda: lan.smbclient("jürgen", "probe")), r.errors()
        assert lan.smbclient("JÜRGEN", f"upper case in {locale}")
        assert lan.smbclient("jürgen", f"lower case in {locale}")
        assert wait_for(10, lambda: len(r.lines()) == 3)
        assert r.texts()[1:] == [f"upper case in {locale}", f"lower case in {locale}"]
        if locale != "C":
            r.stop()
    print("jürgen reached in a UTF-8 and a C locale")

    for subnet, here, broadcast in ((1, RECEIVER, "10.214.255.255"),
                                    (2, SECOND, "10.215.2.255")):
        assert wait_for(20, lambda: f"{here} NAMESHOST<03>" in peer_output(
            "nmblookup", "-s", "/dev/null", "-B", broadcast, "NAMESHOST#03"))
        assert lan.smbclient("NAMESHOST", f"from subnet {subnet}", address=here)
    assert wait_for(10, lambda: r.texts()[3:] == ["from subnet 1", "from subnet 2"]), r.texts()
    print("each subnet finds the name at its own address")

    mac = subprocess.run(["ip", "-o", "link", "show", "tvh0"], capture_output=True,
                         text=True).stdout.split("link/ether ")[1].split()[0]
    status = peer_output("nmblookup", "-s", "/dev/null", "-A", RECEIVER)
    assert f"MAC Address = {mac.upper().replace(':', '-')}" in status, status
    scan = peer_output("nbtscan", SECOND)
    assert mac in scan, scan
    print(f"node status shows {mac}")
    r.stop()

    # The host name cut to 15 characters is the user's name as it goes on the wire: one port,
    # where two would take the name from each other every few seconds.
    r = lan.receiver(build, "--user", "labmachine-0042x", wrapper=(
        "unshare", "-u", "sh", "-c", 'hostname labmachine-0042x && exec "$0" "$@"'))
    assert wait_for(20, lambda: lan.smbclient("LABMACHINE-0042", "probe"))
    sent = sum(lan.smbclient("LABMACHINE-0042", f"message {i}") for i in range(1, 21))
    assert wait_for(10, lambda: len(r.lines()) >= 21)
    print(f"{len(r.lines()) - 1} of 20 messages delivered, {20 - sent} refused")
    assert sent == 20 and len(r.lines()) == 21
