#!/usr/bin/env python3
"""Several users on one computer, each running tolvane-receive without any privilege, served by
one tolvane-netbiosd that itself runs unprivileged on sockets handed over as systemd hands them.

1. Shared names: a program of user c started before the service (retrying until it comes) and the
   programs of a and b each get every computer-name message and broadcast once; a user's message
   and a datagram to a user's name reach only that user, also after the service is killed and
   started again; nmblookup lists exactly the names held; nobody receives for another's name.
2. One user, one wire name: accounts whose names meet on the wire (case, the 15-byte cut) hold
   neither name and are told why; a login beyond ASCII receives what is sent to its name.
3. Limits per person and a log only the service writes: with one user holding connections of its
   own and of uids without an account, and refused names with control characters in a storm,
   another user's new program and root's receive within 5 s, and the log grows by a few escaped
   lines a second."""
import os
import pwd
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

os.environ["TOLVANE_RECEIVE_MODE"] = "service"
here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "receive"))
from lan import enter_private_netns, wait_for  # noqa: E402
from send_datagram import encode_name, mailslot_write  # noqa: E402

enter_private_netns("smbclient", "nmblookup", "useradd", "setpriv", "newuidmap")
build = sys.argv[1]
if not os.access(f"{build}/tools/tolvane-netbiosd", os.X_OK):
    print("SKIP: tolvane-netbiosd is not built")
    sys.exit(77)

work = tempfile.mkdtemp()
os.chmod(work, 0o755)
pid = os.getpid()
a, b, c = f"tlvu{pid}a", f"tlvu{pid}b", f"tlvu{pid}c"
upper, lower = f"TLVC{pid}", f"tlvc{pid}"  # one wire name
long1, long2 = (f"tlvl{pid}".ljust(15, "q") + s for s in "12")  # the first 15 bytes shared
jorg = f"tlvj{pid}ö"
users = [a, b, c, upper, lower, long1, long2, jorg]
procs = {}


def receive(user, out, *args):
    """tolvane-receive as that user (root: None), with no capability."""
    who = ["setpriv", f"--reuid={user}", "--regid=nogroup", "--clear-groups",
           "--inh-caps=-all", "--no-new-privs"] if user else []
    procs[out] = subprocess.Popen(
        [*who, f"{build}/tools/tolvane-receive", "--interface", "lo", "--computer", "TWOHOST",
         *args], stdout=open(f"{work}/{out}.out", "w"), stderr=open(f"{work}/{out}.err", "w"))


def send(name, text):
    return subprocess.run(["smbclient", "--option=disable netbios=no", "-M", name, "-I",
                           "127.0.0.1", "-N", "-U", "sender"],
                          input=text.encode(), capture_output=True, timeout=30).returncode == 0


def datagram(kind, to, suffix, text):
    """A Messenger mailslot write as Windows sends it, to to<suffix>."""
    payload = b"".join(t.encode("cp850") + b"\x00" for t in ("ADMIN", to, text))
    body = (encode_name("SENDERPC", 0) + encode_name(to, suffix) +
            mailslot_write("\\MAILSLOT\\MESSNGR", payload))
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.sendto(struct.pack(">BBH4sHHH", kind, 2, 1, socket.inet_aton("127.0.0.1"), 138, len(body),
                         0) + body, ("127.0.0.1", 138))


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


def log():
    with open(f"{work}/service.log", "rb") as f:
        return f.read()


def round_of_messages(tag):
    """Every kind of message once; a, b and c each get what is theirs and nothing else."""
    assert wait_for(20, lambda: send(A, f"probe {tag}")) and delivered("a", f"probe {tag}")
    for name, text in ((A, "for a"), (B, "for b"), ("TWOHOST", "for the host")):
        assert send(name, f"{text} {tag}"), name
    datagram(0x11, "WORKGROUP", 0x00, f"for everyone {tag}")
    datagram(0x10, A, 0x03, f"datagram for a {tag}")
    mine = {"a": ["for a", "datagram for a"], "b": ["for b"], "c": []}
    for out, own in mine.items():
        for text in own + ["for the host", "for everyone"]:
            assert delivered(out, f"{text} {tag}"), (out, text, tag)
    time.sleep(0.5)
    for out, own in mine.items():
        for text in {"for a", "datagram for a", "for b"} - set(own):
            assert got(out, f"{text} {tag}") == 0, (out, text, tag)


def hold(uid, count):
    """A process of uid holding count connections to the service, until killed."""
    child = os.fork()
    if child == 0:
        os.setgroups([])
        os.setgid(65534)
        os.setuid(uid)
        held = []
        for _ in range(count):
            s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
            try:
                s.connect("/run/tolvane/netbios.sock")
                held.append(s)
            except OSError:
                pass
        time.sleep(120)
        os._exit(0)
    return child


HOLD = """import os, socket, sys, time
for k in range(int(sys.argv[1])):
    if os.fork() == 0:
        os.setgroups([]); os.setgid(k + 1); os.setuid(k + 1)
        held = []
        for _ in range(int(sys.argv[2])):
            try:
                held.append(socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET))
                held[-1].connect("/run/tolvane/netbios.sock")
            except OSError:
                pass
        time.sleep(120)
        os._exit(0)
time.sleep(120)
"""


def hold_subordinate(user, uids, count):
    """count connections from each of uids of the user's subordinate uids (a user namespace of
    the user's own, as unshare --map-auto makes it), until killed."""
    gid = pwd.getpwnam(user).pw_gid
    return subprocess.Popen(
        ["setpriv", f"--reuid={user}", f"--regid={gid}", "--clear-groups", "unshare",
         "--map-auto", "--map-root-user", "/usr/bin/python3", "-c", HOLD, str(uids), str(count)],
        start_new_session=True)


def storm(uid, seconds):
    """Refused names with control characters, over connection after connection."""
    child = os.fork()
    if child == 0:
        os.setgroups([])
        os.setgid(65534)
        os.setuid(uid)
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
            try:
                s.connect("/run/tolvane/netbios.sock")
                for i in range(4):
                    name = f"X{i}\nuid 0 ok\x1b[2J".encode()[:15].ljust(15) + b"\x03"
                    s.send(struct.pack(">BBI6BH", 1, 1, i, 0x30, 0, 0, 0, 0, 0, 0) + name +
                           b" " * 16)
                s.recv(512)
            except OSError:
                pass
            s.close()
        os._exit(0)
    return child


A, B, C = a.upper(), b.upper(), c.upper()
failed = True
holders = []
subordinate = None
try:
    for u in users:
        assert wait_for(30, lambda: subprocess.run(
            ["useradd", "--badname", "--no-create-home", "--no-user-group", "--shell",
             "/usr/sbin/nologin", u], capture_output=True).returncode == 0), u

    # 1. c's program comes first, before there is any service, and retries until there is one.
    receive(c, "c")
    time.sleep(1)
    procs["service"] = subprocess.Popen(
        [sys.executable, f"{here}/activate_service.py", "nobody", f"{work}/service.pid",
         f"{build}/tools/tolvane-netbiosd", "--interface", "lo", "--computer", "TWOHOST"],
        stdout=open(f"{work}/service.log", "w"), stderr=subprocess.STDOUT)
    assert wait_for(10, lambda: os.path.getsize(f"{work}/service.pid") > 0
                    if os.path.exists(f"{work}/service.pid") else False)
    receive(a, "a")
    receive(b, "b")
    assert wait_for(20, lambda: send(B, "probe b")) and delivered("b", "probe b")
    assert wait_for(20, lambda: send(C, "probe c")) and delivered("c", "probe c")
    round_of_messages("first")
    assert names() == sorted([(A, "<03>"), (B, "<03>"), (C, "<03>"), ("TWOHOST", "<03>")]), \
        names()

    with open(f"{work}/service.pid") as f:
        os.kill(int(f.read()), signal.SIGKILL)
    restarted = time.monotonic()
    round_of_messages("after restart")
    print(f"every program has what is its own {time.monotonic() - restarted:.1f} s after the "
          "service was killed")

    # A user asking for another user's name gets the computer's name only.
    receive(b, "thief", "--user", a)
    # The computer's name answers before the new program listens on it: probe until it has one.
    assert wait_for(20, lambda: send("TWOHOST", "probe thief") and
                    wait_for(1, lambda: got("thief", "probe thief") >= 1))
    send(A, "not for b")
    time.sleep(1)
    assert got("thief", "not for b") == 0 and got("b", "not for b") == 0
    assert f"may not add {A}<03>".encode() in log()

    # 2. Names that meet on the wire belong to nobody; a name beyond ASCII to its user.
    for u, out in ((upper, "upper"), (lower, "lower"), (long1, "long1"), (long2, "long2"),
                   (jorg, "jorg")):
        receive(u, out)
    assert wait_for(20, lambda: send(jorg.upper(), "für jörg")) and delivered("jorg", "für jörg")
    for out in ("upper", "lower", "long1", "long2"):  # their ports are built by then
        assert wait_for(20, lambda: "has the same NetBIOS name" in
                        open(f"{work}/{out}.err", encoding="utf-8").read())
    assert wait_for(20, lambda: send("TWOHOST", "host again")) and all(
        delivered(out, "host again") for out in ("upper", "lower", "long1", "long2", "jorg"))
    for name in (upper, long1[:15].upper()):
        assert not send(name, "mixed up"), name
    time.sleep(1)
    for out in ("upper", "lower", "long1", "long2"):
        assert got(out, "mixed up") == 0, out
        with open(f"{work}/{out}.err") as f:
            assert f.read().count("has the same NetBIOS name") == 1, out
    print("names that meet on the wire are nobody's; a name beyond ASCII is its user's")

    # 3. a holds every connection it may have, and more from uids without an account; a storm
    # of refused names runs meanwhile. Another user's new program and root's start at once.
    uid_a = int(subprocess.run(["id", "-u", a], capture_output=True, text=True).stdout)
    subordinate = hold_subordinate(a, 9, 32)
    holders = [hold(uid_a, 40), storm(uid_a, 6)]
    time.sleep(2)
    before = log()
    started = time.monotonic()
    receive(b, "b2", "--user", b)
    receive(None, "root")
    # Refused programs would wait for the flood to end, which it does not: the bound tells them.
    assert wait_for(10, lambda: send("TWOHOST", "still room") and wait_for(
        1, lambda: got("b2", "still room") >= 1 and got("root", "still room") >= 1)), "no room"
    print(f"new programs receive {time.monotonic() - started:.1f} s after they start")
    os.waitpid(holders[-1], 0)
    stormed = time.monotonic() - started
    added = log()[len(before):]
    lines = added.count(b"\n")
    assert lines <= 6 + 3 * stormed, (lines, added[-2000:])
    assert not re.search(rb"[\x00-\x09\x0b-\x1f\x7f]", log()), "raw control characters"
    print(f"{lines} log lines in {stormed:.1f} s of storm and floods")
    print("users ok")
    failed = False
finally:
    if subordinate:
        os.killpg(subordinate.pid, signal.SIGKILL)
        subordinate.wait()
    for h in holders:
        try:
            os.kill(h, signal.SIGKILL)
            os.waitpid(h, 0)
        except (ProcessLookupError, ChildProcessError):
            pass
    for p in procs.values():
        p.terminate()
    for p in procs.values():
        p.wait(10)
    if failed or os.environ.get("SHOW"):
        for name in sorted(os.listdir(work)):
            with open(f"{work}/{name}", errors="replace") as f:
                print(f"--- {name}:\n{f.read()[-1500:]}")
    for u in users:
        subprocess.run(["userdel", u], capture_output=True)
    shutil.rmtree(work)
