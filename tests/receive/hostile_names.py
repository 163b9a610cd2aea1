#!/usr/bin/env python3
"""Hostile hosts against the name and datagram services of tolvane-receive: conflict demands
nobody asked for do not take a name (an owner answering its registration still does), garbage
mailslot writes give no message, and datagrams to the computer name chosen with --computer
arrive."""
import socket
import sys
import time

from lan import (RECEIVER, Attack, Lan, conflict_demands, enter_private_netns,
                     messenger_datagram, own_name, query, send_message, wait_for)

enter_private_netns()
build = sys.argv[1]

with Lan() as lan:
    owner = Attack(own_name, lan, "TAKENUSER")
    r = lan.receiver(build, "--computer", "NAMEHOST", "--user", "takenuser")
    assert wait_for(20, lambda: send_message(lan, "NAMEHOST", "probe") == "delivered")

    demands = Attack(conflict_demands, lan, "NAMEHOST")
    answered = [query(lan, "NAMEHOST") for _ in range(8) if not time.sleep(0.3)]
    demands.stop()
    assert all(answered), answered
    assert send_message(lan, "NAMEHOST", "after the demands") == "delivered"
    # Another node answered each registration of the user name: the receiver never took it.
    assert owner.stop() > 0 and not query(lan, "TAKENUSER")

    with lan.socket(socket.SOCK_DGRAM) as s:
        for offset in (4, 40, 70):  # in the header, the parameter words, the mailslot name
            s.sendto(messenger_datagram("EVE", "NAMEHOST", "garbage", "NAMEHOST", 0x10, offset),
                     (RECEIVER, 138))
        s.sendto(messenger_datagram("ADMIN", "NAMEHOST", "to the chosen name", "NAMEHOST", 0x10),
                 (RECEIVER, 138))
    assert wait_for(5, lambda: len(r.lines()) == 3)
    time.sleep(0.3)
    assert r.texts() == ["probe", "after the demands", "to the chosen name"], r.texts()
    print("hostile names ok")
