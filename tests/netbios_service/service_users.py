#!/usr/bin/env python3
"""Two users on one computer, each running tolvane-receive without any privilege, served by one
tolvane-netbiosd that itself runs unprivileged on sockets handed over as systemd hands them: each
user's name reaches only that user's program, the computer name the program that added it first
and then the other once the first is killed; nmblookup lists exactly the names held; a user
cannot receive for another user's name; programs outlive a restart of the service."""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

os.environ["TOLVANE_RECEIVE_MODE"] = "service"
here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "service"))
from lan import enter_private_netns, wait_for  # noqa: E402

enter_private_netns("smbclient", "nmblookup", "useradd", "setpriv")
build = sys.argv[1]
if not os.access(f"{build}/tools/tolvane-netbiosd", os.X_OK):
    print("SKIP: tolvane-netbiosd is not built")
    sys.exit(77)

work = tempfile.mkdtemp()
os.chmod(work, 0o755)
a, b = f"tlvu{os.getpid()}a", f"tlvu{os.getpid()}b"
A, B = a.upper(), b.upper()
procs = {}


def receive(user, out, *args):
    """tolvane-receive as that user, with no capability."""
    procs[out] = subprocess.Popen(
        ["setpriv", f"--reuid={user}", "--regid=nogroup", "--clear-groups", "--inh-caps=-all",
         "--no-new-privs", f"{build}/tools/tolvane-receive", "--interface", "lo", "--computer",
         "TWOHOST", *args],
        stdout=open(f"{work}/{out}.out", "w"), stderr=open(f"{work}/{out}.err", "w"))


def send(name, text):
    return subprocess.run(["smbclient", "--option=disable netbios=no", "-M", name, "-I",
                           "127.0.0.1", "-N", "-U", "sender"],
                          input=text.encode(), capture_output=True, timeout=30).returncode == 0


def got(out, text):
    with open(f"{work}/{out}.out", encoding="utf-8") as f:
        return f.read().count(f'"text":"{text}"')


def delivered(out, text):
    """The message arrived there, exactly once."""
    return wait_for(10, lambda: got(out, text) >= 1) and got(out, text) == 1


def names():
    status = subprocess.run(["nmblookup", "-A", "127.0.0.1"], capture_output=True,
                            text=True).stdout
    return sorted(re.findall(r"^\s*(\S+)\s*(<..>).*<ACTIVE>", status, re.M))


failed = True
try:
    for u in (a, b):
        assert wait_for(30, lambda: subprocess.run(
            ["useradd", "--no-create-home", "--no-user-group", "--shell", "/usr/sbin/nologin",
             u], capture_output=True).returncode == 0)
    procs["service"] = subprocess.Popen(
        [sys.executable, f"{here}/activate_service.py", "nobody", f"{work}/service.pid",
         f"{build}/tools/tolvane-netbiosd", "--interface", "lo", "--computer", "TWOHOST"],
        stdout=open(f"{work}/service.log", "w"), stderr=subprocess.STDOUT)
    assert wait_for(10, lambda: os.path.getsize(f"{work}/service.pid") > 0
                    if os.path.exists(f"{work}/service.pid") else False)

    receive(a, "a")
    assert wait_for(20, lambda: send(A, "probe a")) and delivered("a", "probe a")
    assert wait_for(10, lambda: send("TWOHOST", "host first"))
    receive(b, "b")
    assert wait_for(20, lambda: send(B, "probe b")) and delivered("b", "probe b")

    assert send(A, "for a") and send(B, "for b") and send("TWOHOST", "for the host")
    subprocess.run([sys.executable, f"{here}/../service/send_datagram.py", "ADMIN", "ALL",
                    "for everyone"], check=True)
    for out, text in (("a", "for a"), ("b", "for b"), ("a", "for the host"),
                      ("a", "for everyone")):
        assert delivered(out, text), (out, text)
    time.sleep(0.5)
    assert not any(got("b", t) for t in ("for a", "for the host", "for everyone"))
    assert got("a", "for b") == 0
    assert names() == [(A, "<03>"), (B, "<03>"), ("TWOHOST", "<03>")], names()
    print("each user's name reaches that user only; the computer name the first program")

    # The service is killed and started again: both programs, as they are, receive again.
    with open(f"{work}/service.pid") as f:
        os.kill(int(f.read()), signal.SIGKILL)
    restarted = time.monotonic()
    assert wait_for(20, lambda: send(A, "after restart a")) and delivered("a", "after restart a")
    assert wait_for(20, lambda: send(B, "after restart b")) and delivered("b", "after restart b")
    print(f"both programs receive {time.monotonic() - restarted:.1f} s after the service was "
          "killed")

    # The first program dies: the computer name goes to the other within 10 s.
    procs["a"].kill()
    killed = time.monotonic()
    assert wait_for(10, lambda: send("TWOHOST", "host second")) and delivered("b", "host second")
    print(f"computer name handed over after {time.monotonic() - killed:.1f} s")

    # A user asking for another user's name gets the computer name only, never the other's
    # messages.
    receive(b, "thief", "--user", a)
    time.sleep(4)
    send(A, "not for b")
    time.sleep(1)
    assert got("thief", "not for b") == 0 and got("b", "not for b") == 0
    assert names() == [(B, "<03>"), ("TWOHOST", "<03>")], names()
    with open(f"{work}/service.log") as f:
        assert f"may not add {A}<03>" in f.read()
    print("two users ok")
    failed = False
finally:
    for p in procs.values():
        p.terminate()
    for p in procs.values():
        p.wait(10)
    if failed:
        for name in sorted(os.listdir(work)):
            with open(f"{work}/{name}", errors="replace") as f:
                print(f"--- {name}:\n{f.read()[-1500:]}")
    for u in (a, b):
        subprocess.run(["userdel", u], capture_output=True)
    shutil.rmtree(work)
