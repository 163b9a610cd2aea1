#!/usr/bin/env python3
"""Load under attack: while one host keeps 64 connections idle and a session busy, 50 smbclient
senders at once to one name all get their message through, and then 200 crafted senders at once
lose nothing silently: each is delivered or refused at its session request."""
import sys
import time
from concurrent.futures import ThreadPoolExecutor

from lan import (Attack, Lan, enter_private_netns, idle_connections, send_message,
                     slowloris, wait_for)

enter_private_netns("smbclient")
build = sys.argv[1]
ATTACKER = "10.214.9.9"
SENDERS = [f"10.214.2.{i}" for i in range(1, 21)]

with Lan() as lan:
    lan.add_addresses([ATTACKER, *SENDERS])
    r = lan.receiver(build, "--computer", "LOADHOST", "--user", "loaduser")
    assert wait_for(20, lambda: send_message(lan, "LOADUSER", "probe") == "delivered")
    texts = lambda: {m["text"] for m in r.lines()}  # noqa: E731

    flood = Attack(idle_connections, lan, ATTACKER, 64)
    slow = Attack(slowloris, lan, "LOADUSER", ATTACKER)
    time.sleep(1)
    began = time.monotonic()
    with ThreadPoolExecutor(50) as pool:
        sent = list(pool.map(lambda i: lan.smbclient("LOADUSER", f"smbclient {i}"), range(50)))
    wanted = {f"smbclient {i}" for i in range(50)}
    assert wait_for(10, lambda: wanted <= texts()), sorted(wanted - texts())
    took = time.monotonic() - began
    assert all(sent), sent.count(False)
    print(f"50 smbclient senders delivered within {took:.1f} s")

    with ThreadPoolExecutor(200) as pool:
        results = list(pool.map(
            lambda i: send_message(lan, "LOADUSER", f"crafted {i}", SENDERS[i % 20]), range(200)))
    slow.stop()
    flood.stop()
    assert "lost" not in results, results.count("lost")
    delivered = {f"crafted {i}" for i, result in enumerate(results) if result == "delivered"}
    assert wait_for(10, lambda: delivered <= texts()), sorted(delivered - texts())
    assert {t for t in texts() if t.startswith("crafted")} == delivered
    print(f"200 crafted senders: {len(delivered)} delivered, the others refused")
