#!/usr/bin/env python3
"""tolvane-send from another host of the LAN: to tolvane-receive (single and multi-block, names
and text outside ASCII, line breaks, every computer), to Samba's smbd as an independent receiver
of the same units (byte for byte, every frame decoded by tshark), and its exit status when the
name is not there, when the peer refuses the session, and when the peer breaks it mid-message."""
import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

from lan import (RECEIVER, SERVICE_MODE, Lan, enter_private_netns, frame, read_frame,
                 wait_for)

enter_private_netns("tshark")
build = sys.argv[1]
SEND = f"{build}/tools/tolvane-send"


def send(lan, *args, input=""):
    """tolvane-send on the peer with a stack of its own: (exit status, standard error)."""
    own_run = ["unshare", "-m", "sh", "-c", 'mount -t tmpfs tmpfs /run && exec "$@"', "-"]
    p = subprocess.run(["ip", "netns", "exec", lan.ns, *own_run, SEND, "--interface", "tvp0",
                        *args],
                       input=input.encode(), capture_output=True, timeout=60)
    return p.returncode, p.stderr.decode()


def fake_peer(behaviour):
    """A host at RECEIVER:139 that answers one session request with behaviour(socket)."""
    listener = socket.create_server((RECEIVER, 139))
    listener.settimeout(30)

    def serve():
        with listener, listener.accept()[0] as s:
            read_frame(s)
            behaviour(s)
    t = threading.Thread(target=serve, daemon=True)
    t.start()
    return t


def start_smbd(folder):
    """Samba's smbd on RECEIVER:139 as a message server only, its state under folder; every
    message it receives becomes a file in folder/messages."""
    dirs = ("private dir", "lock directory", "state directory", "cache directory",
            "pid directory", "ncalrpc dir")
    for d in ("messages",) + dirs:
        os.makedirs(f"{folder}/{d.split()[0]}")
    # The message command runs as the guest account.
    os.chmod(folder, 0o755)
    os.chmod(f"{folder}/messages", 0o777)
    conf = f"{folder}/smb.conf"
    with open(conf, "w") as f:
        f.write(f"""[global]
server min protocol = NT1
disable netbios = no
smb ports = 139
interfaces = tvh0
bind interfaces only = yes
dos charset = CP850
log file = {folder}/smbd.log
""" + "".join(f"{key} = {folder}/{key.split()[0]}\n" for key in dirs) +
            f"message command = /bin/mv %s {folder}/messages/\n")
    smbd = subprocess.Popen(["setsid", "smbd", "--foreground", "--no-process-group", "-s", conf],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    assert wait_for(20, lambda: subprocess.run(["ss", "-Htln", "sport = 139"], capture_output=True,
                                               text=True).stdout.strip()), "smbd listens"
    return smbd


def smbd_messages(folder, n):
    """The texts smbd wrote, oldest first, once there are n."""
    def files():
        names = os.listdir(f"{folder}/messages")
        return sorted((os.stat(f"{folder}/messages/{f}").st_mtime_ns, f) for f in names)
    assert wait_for(10, lambda: len(files()) >= n), files()
    return [open(f"{folder}/messages/{f}", "rb").read() for _, f in files()]


def breaks_after_first_block(s):
    s.sendall(frame(b"", 0x82))
    for n in range(2):  # the start and the first text block are answered, then the end
        unit = read_frame(s)[1]
        s.sendall(frame(b"\xffSMB" + unit[4:5] + bytes(27) + (b"\x01\x01\x00" if n == 0 else
                                                             b"\x00") + b"\x00\x00"))
    read_frame(s)


def sending_as_a_user(lan, r):
    """Through the service, without privilege: from the user's name that the user's receiver
    holds, and from the computer's name that another user's receiver holds; never from another
    user's name."""
    user = f"tlvs{os.getpid()}"
    subprocess.run(["useradd", "--no-create-home", "--no-user-group", "--shell",
                    "/usr/sbin/nologin", user], check=True)
    as_user = ["setpriv", f"--reuid={user}", "--regid=nogroup", "--clear-groups",
               "--inh-caps=-all", "--no-new-privs"]
    mine = subprocess.Popen([*as_user, f"{build}/tools/tolvane-receive", "--computer",
                             "RECVHOST"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        def send_as(host, *args):
            return subprocess.run(["unshare", "-u", "sh", "-c", f'hostname {host}; exec "$@"',
                                   "-", *as_user, SEND, *args], capture_output=True,
                                  timeout=60).returncode
        assert wait_for(20, lambda: send_as("ELSEWHERE", "zoë", "from the user") == 0)
        assert send_as("RECVHOST", "--from", "Someone", "--address", RECEIVER, "zoë",
                       "from the computer") == 0
        assert send_as("ELSEWHERE", "--from", "zoë", "RECVHOST", "as another user") == 1
        assert send_as("ELSEWHERE", "*", "to every computer from a user") == 0
        assert wait_for(5, lambda: [(m["origin"], m["text"]) for m in r.lines()[-3:]] == [
            (user, "from the user"), ("Someone", "from the computer"),
            (user, "to every computer from a user")]), r.lines()
    finally:
        mine.terminate()
        mine.wait(10)
        subprocess.run(["userdel", user], capture_output=True)


def samba_receives(lan, folder, long_text, tshark, capture):
    """Samba's message server gets the same texts byte for byte (UTF-8 after its own
    conversion); tshark decodes every frame of the scenario without a malformed one."""
    smbd = start_smbd(folder)
    try:
        result = send(lan, "--address", RECEIVER, "SMBHOST", "kurz: Grüße")
        assert result == (0, ""), (result, open(f"{folder}/smbd.log").read()[-2000:])
        assert send(lan, "--address", RECEIVER, "SMBHOST", input=long_text) == (0, "")
        assert smbd_messages(folder, 2) == ["kurz: Grüße".encode(), long_text.encode()]
    finally:
        os.killpg(smbd.pid, 15)
        smbd.wait(10)
    time.sleep(1)
    tshark.terminate()
    tshark.wait(10)
    fields = subprocess.run(["tshark", "-r", capture, "-T", "fields", "-e", "smb.cmd", "-e",
                             "_ws.malformed", ], capture_output=True,
                            text=True, check=True).stdout.split("\n")
    commands = {f.split("\t")[0] for f in fields if f.split("\t")[0]}
    assert not any(f.split("\t")[1] for f in fields if f.count("\t") >= 1), "malformed frames"
    assert {"0xd0", "0xd5", "0xd7", "0xd6", "0x25"} <= commands, commands


with Lan() as lan, tempfile.TemporaryDirectory() as folder:
    capture = f"{folder}/capture.pcap"
    if not SERVICE_MODE:
        tshark = subprocess.Popen(["tshark", "-q", "-i", "tvh0", "-w", capture],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        assert any("Capturing on" in line for line in tshark.stderr), "tshark does not capture"
    r = lan.receiver(build, "--computer", "RECVHOST", "--user", "zoë")
    assert wait_for(20, lambda: send(lan, "ZOË", "probe")[0] == 0)
    long_text = "Grüße aus der Küche, " * 20  # 420 bytes: four text blocks
    began = time.monotonic()
    assert send(lan, "--from", "Jürgen", "zoë", "hello", "there") == (0, "")
    print(f"a message found its name and was delivered in {time.monotonic() - began:.2f} s")
    assert send(lan, "RECVHOST", input=long_text + "\n") == (0, "")
    assert send(lan, "--from", "ADMIN", "recvhost", input="first line\nsecond\r\nthird\n") == \
        (0, "")
    assert send(lan, "--from", "ADMIN", "*", "to every computer – ä") == (0, "")
    assert wait_for(5, lambda: len(r.lines()) == 5)
    lines = r.lines()
    assert [(m["kind"], m["origin"], m["recipient"], m["text"]) for m in lines[1:]] == [
        ("personal", "Jürgen", "zoë", "hello there"),
        ("personal", os.environ.get("USER", "root"), "RECVHOST", long_text),
        ("personal", "ADMIN", "recvhost", "first line\r\nsecond\r\nthird"),
        ("broadcast", "ADMIN", "*", "to every computer ? ä")], lines

    # Not delivered, and why; usage errors.
    code, err = send(lan, "NOBODY", "anyone there?")
    assert code == 1 and "no computer on the LAN answers for the name NOBODY" in err, err
    assert send(lan, "ω", "x")[0] == 2 and send(lan, "--from", "ω", "*", "x")[0] == 2
    assert send(lan, "--bogus")[0] == 2
    assert send(lan, "RECVHOST", input="x" * 1601)[0] == 2
    assert send(lan, "--help")[0] == 0
    if SERVICE_MODE:
        sending_as_a_user(lan, r)
    r.stop()

    if not SERVICE_MODE:
        samba_receives(lan, folder, long_text, tshark, capture)

if SERVICE_MODE:
    print("send ok")
    sys.exit(0)

# The exit status and its line when the message is not delivered.
with Lan() as lan:
    peer = fake_peer(lambda s: s.sendall(frame(b"\x80", 0x83)))
    code, err = send(lan, "--address", RECEIVER, "SOMEONE", "hello")
    assert code == 1 and "SOMEONE (10.214.0.1) refuses the session" in err, err
    peer.join(10)
    peer = fake_peer(breaks_after_first_block)
    code, err = send(lan, "--address", RECEIVER, "SOMEONE", "y" * 300)
    assert code == 1 and "broke the session after block 1 of 3" in err, err
    peer.join(10)
print("send ok")
