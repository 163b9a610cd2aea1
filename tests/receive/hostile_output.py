#!/usr/bin/env python3
"""A reader of tolvane-receive's output that stops reading, or goes away. Reception goes on;
every acknowledged message ends up written or named on standard error; SIGTERM still ends the
program at once, sessions in progress or not; a closed output ends it with a word why."""
import os
import sys
import time

from lan import (Attack, Lan, end, enter_private_netns, send_message, slowloris, start,
                     text_block, wait_for)

enter_private_netns()
build = sys.argv[1]

with Lan() as lan:
    reader, writer = os.pipe()
    r = lan.receiver(build, "--computer", "OUTHOST", "--user", "outuser", stdout=writer)
    os.close(writer)
    assert wait_for(20, lambda: send_message(lan, "OUTUSER", "probe") == "delivered")

    # Nobody reads: 70 messages of 64 KiB overflow the pipe and then the pending output.
    units = [start("BIG", "OUTUSER"), *[text_block("o" * 255)] * 260, end()]
    assert all(send_message(lan, "OUTUSER", None, units=units) == "delivered" for _ in range(70))
    assert wait_for(5, lambda: "(output not read)" in r.errors()), r.errors()
    slow = Attack(slowloris, lan, "OUTUSER", None)
    time.sleep(1)
    took = r.stop()
    slow.stop()
    assert r.proc.returncode == 1
    os.set_blocking(reader, False)
    written = b""
    while chunk := os.read(reader, 1 << 20):
        written += chunk
    notes = r.errors().count("tolvane-receive: not written: personal message from \"BIG\"")
    assert written.count(b"\n") + notes == 71, (written.count(b"\n"), notes, r.errors()[-2000:])
    print(f"stopped {took:.2f} s after SIGTERM with its output stalled; {notes} messages noted")

    # The reader goes away: the next message is noted and the program ends, saying why.
    reader, writer = os.pipe()
    os.close(reader)
    r = lan.receiver(build, "--computer", "PIPEHOST", "--user", "pipeuser", stdout=writer)
    os.close(writer)
    assert wait_for(20, lambda: send_message(lan, "PIPEUSER", "probe") == "delivered")
    assert r.proc.wait(10) == 1
    assert "cannot write to standard output (Broken pipe)" in r.errors(), r.errors()
    assert 'not written: personal message from "PROBE" to "PIPEUSER"' in r.errors(), r.errors()
    print("hostile output ok")
