#!/usr/bin/env python3
"""tolvane-receive as other hosts of the LAN see it: personal messages from smbclient and from
crafted senders unit by unit, broadcasts, and interfaces that come and go."""
import socket
import struct
import sys
import time

from lan import (RECEIVER, Lan, end, enter_private_netns, frame, messenger_datagram,
                 read_frame, request, send_message, single_block, start, text_block, wait_for)

enter_private_netns("smbclient", "nmblookup")
build = sys.argv[1]

with Lan() as lan:
    r = lan.receiver(build, "--computer", "RECVHOST", "--user", "recvuser")
    # Each name has its own port, and a message is printed after its session ends: before the
    # next sender goes to the other name, the line is waited for, so the lines keep this order.
    printed = lambda count: wait_for(5, lambda: len(r.lines()) == count)
    assert wait_for(20, lambda: lan.smbclient("RECVUSER", "probe"))
    # As sent: CP850 umlauts as UTF-8, CRLF kept, the OEM line break 0x14 as CRLF.
    assert lan.smbclient("RECVUSER", "Hello from smbclient\nsecond line äöü\n") and printed(2)
    assert lan.smbclient("recvhost", "to the computer\x14next") and printed(3)

    # Each unit is answered with an empty one of its command (the start with a group id that
    # counts up), and the session is hung up before the message is delivered.
    with lan.connect() as s:
        assert request(s, "RECVUSER") == 0x82
        s.sendall(frame(single_block("ALICE", "RECVUSER", "single")))
        assert read_frame(s)[1] == b"\xffSMB\xd0" + bytes(30)
        assert s.recv(1) == b""
    assert printed(4)
    groups = []
    for _ in range(2):
        with lan.connect() as s:
            assert request(s, "RECVHOST") == 0x82
            s.sendall(frame(start("BOB", "RECVHOST")))
            reply = read_frame(s)[1]
            assert len(reply) == 37 and reply[32] == 1, reply
            groups.append(struct.unpack("<H", reply[33:35])[0])
            for block in ("one ", "two ", "three"):  # the group id sent back is not checked
                s.sendall(frame(text_block(block, groups[-1] + 7)))
                assert read_frame(s)[1][4] == 0xD7
            s.sendall(frame(end(groups[-1])))
            assert read_frame(s)[1][4] == 0xD6 and s.recv(1) == b""
    assert groups == [4, 5], "numbered from 1 in the run, after the three from smbclient"
    assert printed(6)

    # Start then end: empty text. A sender gone mid-message, or a unit that lies about its
    # counts mid-message: what came is delivered. Bad first units end their session unanswered.
    assert send_message(lan, "RECVUSER", None, units=[start("CAROL", "RECVUSER"), end()]) == \
        "delivered"
    liar = bytearray(text_block("lie"))
    liar[32] = 200
    for last in (None, bytes(liar)):
        with lan.connect() as s:
            assert request(s, "RECVUSER") == 0x82
            for unit in (start("DAVE", "RECVUSER"), text_block("partial")):
                s.sendall(frame(unit))
                read_frame(s)
            if last:
                s.sendall(frame(last))
                assert read_frame(s)[1][4] == 0xD6, "the end reply still comes"
    past = bytearray(single_block("EVE", "RECVUSER", "x"))
    past[33:35] = b"\xff\x03"
    for bad in (bytes(past), b"garbage"):
        with lan.connect() as s:
            assert request(s, "RECVUSER") == 0x82
            s.sendall(frame(bad))
            assert s.recv(1) == b"", bad

    # Broadcasts: 'net send *' (to the workgroup) and a broadcast datagram, whatever their
    # recipient, over the wire; nothing comes back.
    with lan.socket(socket.SOCK_DGRAM) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        s.sendto(messenger_datagram("ADMIN", "NOBODY-HERE", "Down at 18:00 – save äöü",
                                    "WORKGROUP"), (RECEIVER, 138))
        s.sendto(messenger_datagram("ADMIN", "", "to every node", "*", 0x12),
                 ("10.214.255.255", 138))
        assert wait_for(5, lambda: len(r.lines()) == 11)
        s.settimeout(0.3)
        try:
            assert not s.recv(1)
        except TimeoutError:
            pass

    lines = r.lines()
    assert {m["kind"] for m in lines[:9]} == {"personal"} and lines[1]["origin"] == "sender"
    assert [m["recipient"] for m in lines[1:3]] == ["RECVUSER", "recvhost"], lines
    assert [m["text"] for m in lines[1:]] == [
        "Hello from smbclient\r\nsecond line äöü\r\n", "to the computer\r\nnext", "single",
        "one two three", "one two three", "", "partial", "partial",
        "Down at 18:00 ? save äöü", "to every node"], lines
    assert lines[9] == {**lines[9], "kind": "broadcast", "origin": "ADMIN",
                         "recipient": "NOBODY-HERE"}
    assert lines[0]["received"][4] == "-" and "T" in lines[0]["received"]

# Interfaces that come and go: a new one gets its name ports within seconds; when it goes, the
# ports are rebuilt and loopback keeps receiving.
with Lan(veth=False) as lan:
    r = lan.receiver(build, "--computer", "IFHOST", "--user", "ifuser", interface=None)
    assert wait_for(20, lambda: lan.smbclient("IFUSER", "on loopback", "127.0.0.1"))
    lan.add_veth()
    added = time.monotonic()
    assert wait_for(15, lambda: lan.run("nmblookup", "-U", RECEIVER, "IFUSER#03") == 0)
    print(f"the user name answers on a new interface after {time.monotonic() - added:.1f} s")
    assert wait_for(5, lambda: lan.run("nmblookup", "-B", "10.214.255.255", "IFHOST#03") == 0)
    assert lan.smbclient("IFHOST", "over the veth")
    lan.ip("link", "del", "tvh0")
    time.sleep(6)
    assert wait_for(20, lambda: lan.smbclient("IFUSER", "after removal", "127.0.0.1"))
    assert wait_for(5, lambda: r.texts() == ["on loopback", "over the veth", "after removal"]), \
        r.texts()
print("receive ok")
