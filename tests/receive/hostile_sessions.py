#!/usr/bin/env python3
"""Hostile and broken hosts against the session service of tolvane-receive: idle connections,
a sender that keeps its session busy, an endless multi-block message, an empty session message,
and a process out of descriptors. None of them keeps another sender's message out."""
import sys
import time

from lan import (SERVICE_MODE, Attack, Lan, end, enter_private_netns, frame, idle_connections,
                 limit_descriptors, read_frame, request, send_message, session_request,
                 single_block, slowloris, stack_thread_seconds, start, text_block, wait_for)

enter_private_netns()
build = sys.argv[1]
ATTACKER, OTHER = "10.214.9.9", "10.214.9.10"

with Lan() as lan:
    lan.add_addresses([ATTACKER, OTHER])
    r = lan.receiver(build, "--computer", "SESSHOST", "--user", "sessuser")
    assert wait_for(20, lambda: send_message(lan, "SESSUSER", "probe") == "delivered")

    # Idle connections that never send their session request, reopened as they are dropped.
    flood = Attack(idle_connections, lan, ATTACKER, 64)
    time.sleep(1)
    results = [send_message(lan, "SESSHOST", f"past idle connections {i}") for i in range(4)]
    assert results == ["delivered"] * 4, results
    assert flood.stop() > 0, "the receiver drops idle connections"

    # A sender that keeps its session busy, and fills the queue for the name with requests
    # that would do the same, delays the next one by seconds, not for good.
    slow = Attack(slowloris, lan, "SESSUSER", ATTACKER)
    time.sleep(1)
    queued = [lan.connect(ATTACKER) for _ in range(64)]
    for s in queued:
        s.sendall(session_request("SESSUSER"))
    results = [send_message(lan, "SESSUSER", f"past a slow sender {i}", OTHER) for i in range(2)]
    slow.stop()
    for s in queued:
        s.close()
    assert results == ["delivered"] * 2, results
    assert any(m["origin"] == "SLOW" for m in r.lines()), "its session was ended"

    # An endless message: every block is answered, 64 KiB of its text are kept.
    blocks = [f"{i:04d}" + "z" * 251 for i in range(300)]
    units = [start("BIG", "SESSUSER"), *map(text_block, blocks), end()]
    assert send_message(lan, "SESSUSER", None, units=units) == "delivered"
    # An empty session message carries no unit: the message after it still counts.
    with lan.connect() as s:
        assert request(s, "SESSUSER") == 0x82
        s.sendall(frame(b"") + frame(single_block("EMPTY", "SESSUSER", "after an empty one")))
        assert read_frame(s)[1][4] == 0xD0

    # Out of descriptors (the process whose stack holds the ports): no spinning, the one
    # connection it can take carried through rather than ended, and back once some are free.
    pid = lan.service.pid if SERVICE_MODE else r.proc.pid
    limit_descriptors(pid, 1)
    assert send_message(lan, "SESSUSER", "no room but for its session") == "delivered"
    limit_descriptors(pid, 0)
    with lan.connect() as waiting:
        waiting.sendall(frame(b"\x20" * 68, 0x81))
        before = stack_thread_seconds(pid)
        time.sleep(2)
        spent = stack_thread_seconds(pid) - before
        limit_descriptors(pid, None)
        assert spent < 0.2, f"the stack thread spent {spent} s of 2 s"
        assert read_frame(waiting)[0] == 0x83, "answered once descriptors are free"
    assert send_message(lan, "SESSUSER", "descriptors back") == "delivered"
    assert r.proc.poll() is None

    if not SERVICE_MODE:  # a second copy of the program finds the ports taken, and by whom
        second = lan.receiver(build, "--computer", "SECONDHOST")
        assert wait_for(10, lambda: f"in use by tolvane-receive (pid {pid})" in second.errors())
        second.stop()

    # In order, leaving out what the slow sender got in before each end.
    texts = lambda: [m["text"] for m in r.lines() if m["origin"] != "SLOW"]  # noqa: E731
    assert wait_for(5, lambda: len(texts()) == 11), texts()
    assert texts()[7] == "".join(blocks)[:65536], len(texts()[7])
    assert texts()[8:] == [
        "after an empty one",
        "no room but for its session",
        "descriptors back",
    ], texts()
    print("hostile sessions ok")
