"""Shared by the tolvane-receive tests. The receiver runs in a network namespace of the test's
own; the other hosts of the LAN (Samba's smbclient and nmblookup, or raw sockets for hostile and
broken hosts) talk to it from a second namespace over a veth pair. Nothing reaches the machine's
real interfaces; everything a test starts, it stops."""
import contextlib
import ctypes
import json
import os
import resource
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from send_datagram import encode_name, messenger_datagram  # noqa: E402, F401

RECEIVER, PEER = "10.214.0.1", "10.214.0.2"
_libc = ctypes.CDLL(None, use_errno=True)


# With TOLVANE_RECEIVE_MODE=service the receivers reach the ports through tolvane-netbiosd,
# which the test starts in its namespaces, with a /run of their own; otherwise each receiver
# binds them itself.
SERVICE_MODE = os.environ.get("TOLVANE_RECEIVE_MODE") == "service"
SERVICE_SOCKET = "/run/tolvane/netbios.sock"


def enter_private_netns(*tools):
    """Re-runs the calling script in a network namespace of its own (and a mount namespace with
    its own /run in service mode), with loopback up; exits 77 (skipped) without root or a tool
    the test needs."""
    missing = [t for t in tools if not shutil.which(t)]
    unshare = ["unshare", "-n"] + (["-m"] if SERVICE_MODE else [])
    if missing or (not os.environ.get("TOLVANE_IN_NETNS") and (
            os.geteuid() != 0 or subprocess.run([*unshare, "true"]).returncode)):
        print("SKIP: needs root for network namespaces, and", *tools)
        sys.exit(77)
    if not os.environ.get("TOLVANE_IN_NETNS"):
        env = dict(os.environ, TOLVANE_IN_NETNS="1")
        os.execvpe("unshare", [*unshare, sys.executable, *sys.argv], env)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    if SERVICE_MODE:
        subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/run"], check=True)


def wait_for(seconds, test):
    end = time.monotonic() + seconds
    while not test():
        if time.monotonic() > end:
            return False
        time.sleep(0.05)
    return True


class Lan:
    """The peer namespace, and a veth pair to it: tvh0 with RECEIVER/16 here, tvp0 with PEER/16
    and any addresses add_addresses gives it there, for senders that must look like other hosts."""

    def __init__(self, veth=True):
        self.ns, self.receivers = f"tolvane-lan-{os.getpid()}", []
        self.service, self._service_for = None, None
        subprocess.run(["ip", "netns", "add", self.ns], check=True)
        self.ip("link", "set", "lo", "up", there=True)
        self._home = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
        self._there = os.open(f"/run/netns/{self.ns}", os.O_RDONLY)
        if veth:
            self.add_veth()

    def ip(self, *args, there=False):
        subprocess.run(["ip", *(["-n", self.ns] if there else []), *args], check=True)

    def add_veth(self):
        self.ip("link", "add", "tvh0", "type", "veth", "peer", "name", "tvp0", "netns", self.ns)
        self.ip("addr", "add", RECEIVER + "/16", "brd", "+", "dev", "tvh0")
        self.ip("link", "set", "tvh0", "up")
        self.add_addresses([PEER])
        self.ip("link", "set", "tvp0", "up", there=True)

    def add_addresses(self, addresses):
        for a in addresses:
            self.ip("addr", "add", a + "/16", "brd", "+", "dev", "tvp0", there=True)

    def __enter__(self):
        return self

    def __exit__(self, failed, *_):
        for r in self.receivers:
            r.stop()
            if failed:
                r.show()
        self._stop_service(failed)
        subprocess.run(["ip", "link", "del", "tvh0"], stderr=subprocess.DEVNULL)
        subprocess.run(["ip", "netns", "del", self.ns])

    @contextlib.contextmanager
    def peer(self):
        """Sockets made inside belong to the peer namespace (this thread only)."""
        if _libc.setns(self._there, 0x40000000) != 0:  # CLONE_NEWNET
            raise OSError(ctypes.get_errno(), "setns")
        try:
            yield
        finally:
            _libc.setns(self._home, 0x40000000)

    def socket(self, kind=socket.SOCK_STREAM, src=None, timeout=20):
        with self.peer():
            s = socket.socket(socket.AF_INET, kind)
        s.settimeout(timeout)
        if src:
            s.bind((src, 0))
        return s

    def connect(self, src=None, timeout=20):
        s = self.socket(src=src, timeout=timeout)
        s.connect((RECEIVER, 139))
        return s

    def run(self, *argv, input="", here=False):
        """A program in the peer namespace (or here); its exit code."""
        return subprocess.run(([] if here else ["ip", "netns", "exec", self.ns]) + list(argv),
                              input=input.encode(), capture_output=True, timeout=60).returncode

    def smbclient(self, name, text, address=RECEIVER):
        """True when Samba's client says the message went through; from the peer unless sent
        to loopback. (Newer Samba switches NetBIOS off by default; the option asks for it.)"""
        return self.run("smbclient", "--option=disable netbios=no", "-M", name, "-I", address,
                        "-N", "-U", "sender",
                        input=text, here=address.startswith("127.")) == 0

    def receiver(self, build, *args, interface="tvh0", stdout=None, wrapper=()):
        """tolvane-receive here (on every interface with interface=None), started through
        wrapper if given; its JSON lines go to a file unless stdout is given."""
        args = (["--interface", interface] if interface else []) + list(args)
        if SERVICE_MODE:
            self._start_service(build, args, wrapper)
        r = Receiver(build, args, stdout, wrapper)
        self.receivers.append(r)
        return r

    def _start_service(self, build, args, wrapper):
        """The service, with the receiver's computer name and host name; started again when a
        receiver wants other ones."""
        computer = args[args.index("--computer") + 1] if "--computer" in args else None
        if self.service and self.service.poll() is None and self._service_for == (computer,
                                                                                     wrapper):
            return
        self._stop_service(False)
        self.service_log = tempfile.mkstemp()[1]
        self.service = subprocess.Popen(
            [*wrapper, f"{build}/tools/tolvane-netbiosd",
             *(["--computer", computer] if computer else [])],
            stdout=subprocess.DEVNULL, stderr=open(self.service_log, "w"))
        self._service_for = (computer, wrapper)
        assert wait_for(10, lambda: os.path.exists(SERVICE_SOCKET)), "the service's socket"

    def _stop_service(self, failed):
        if self.service:
            self.service.terminate()
            self.service.wait(10)
            if failed:
                with open(self.service_log, errors="replace") as f:
                    print(f"--- service:\n{f.read()[-1500:]}")
            self.service = None


class Receiver:
    def __init__(self, build, args, stdout, wrapper=()):
        folder = tempfile.mkdtemp()
        self.out, self.err = os.path.join(folder, "out"), os.path.join(folder, "err")
        self.proc = subprocess.Popen([*wrapper, f"{build}/tools/tolvane-receive", *args],
                                     stdout=open(self.out, "w") if stdout is None else stdout,
                                     stderr=open(self.err, "w"))

    def lines(self):
        with open(self.out, encoding="utf-8") as f:
            return [json.loads(line) for line in f]

    def texts(self):
        return [m["text"] for m in self.lines()]

    def errors(self):
        with open(self.err, encoding="utf-8") as f:
            return f.read()

    def stop(self):
        """Seconds from SIGTERM to the end."""
        begin = time.monotonic()
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return time.monotonic() - begin

    def show(self):
        for name in (self.out, self.err):
            with contextlib.suppress(OSError), open(name, errors="replace") as f:
                print(f"--- {name}:\n{f.read()[-1500:]}")


# Session service and SMB message units, as senders write them.

def frame(body, kind=0x00):
    return struct.pack(">BBH", kind, len(body) >> 16, len(body) & 0xFFFF) + body


def smb(command, words=b"", data=b""):
    return (b"\xffSMB" + bytes([command]) + bytes(27) + bytes([len(words) // 2]) + words +
            struct.pack("<H", len(data)) + data)


def _strings(*texts):
    return b"".join(b"\x04" + t.encode("cp850") + b"\0" for t in texts)


def _block(text):
    t = text.encode("cp850")
    return b"\x01" + struct.pack("<H", len(t)) + t


def single_block(origin, to, text):
    return smb(0xD0, data=_strings(origin, to) + _block(text))


def start(origin, to):
    return smb(0xD5, data=_strings(origin, to))


def text_block(text, group=1):
    return smb(0xD7, struct.pack("<H", group), _block(text))


def end(group=1):
    return smb(0xD6, struct.pack("<H", group))


def read_frame(s):
    """(type, body) of the next session packet."""
    header = _read_exactly(s, 4)
    return header[0], _read_exactly(s, (header[1] & 1) << 16 | header[2] << 8 | header[3])


def _read_exactly(s, n):
    data = b""
    while len(data) < n:
        chunk = s.recv(n - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


def session_request(called, calling="CRAFTED"):
    return frame(encode_name(called, 3) + encode_name(calling, 0), 0x81)


def request(s, called):
    """Sends a session request; the answer's type (0x82 positive, 0x83 negative)."""
    s.sendall(session_request(called))
    return read_frame(s)[0]


def send_message(lan, name, text, src=None, units=None):
    """One message from a crafted sender: "delivered" once every unit was answered with its own
    command, "refused" on a negative session response, else "lost"."""
    try:
        with lan.connect(src) as s:
            answer = request(s, name)
            if answer != 0x82:
                return "refused" if answer == 0x83 else "lost"
            for unit in units or [single_block("PROBE", name, text)]:
                s.sendall(frame(unit))
                if read_frame(s)[1][4] != unit[4]:
                    return "lost"
            return "delivered"
    except OSError:
        return "lost"


# Hostile hosts, each on a thread of its own until stopped.

class Attack(threading.Thread):
    def __init__(self, fn, *args):
        super().__init__(daemon=True)
        self.done, self.fn, self.args, self.count = threading.Event(), fn, args, 0
        self.start()

    def run(self):
        self.fn(self, *self.args)

    def stop(self):
        self.done.set()
        self.join(30)
        return self.count


def idle_connections(attack, lan, src, n):
    """Keeps n connections from src that never finish their session request (one byte of it
    gets them past the kernel's wait for data), reopening each one the receiver drops."""
    held = []
    while not attack.done.wait(0.2):
        for s in list(held):
            s.setblocking(False)
            try:
                s.recv(16, socket.MSG_PEEK)  # an answer or the end: dropped
            except BlockingIOError:
                continue
            except OSError:
                pass
            held.remove(s)
            s.close()
            attack.count += 1
        with contextlib.suppress(OSError):
            while len(held) < n:
                held.append(lan.connect(src, timeout=2))
                held[-1].sendall(b"\x81")
    for s in held:
        s.close()


def slowloris(attack, lan, name, src):
    """Takes a session to name and keeps it busy with a text unit dribbled one byte every 0.3 s,
    reconnecting whenever the receiver ends it."""
    unit = frame(text_block("x" * 200))
    while not attack.done.is_set():
        with contextlib.suppress(OSError), lan.connect(src, timeout=30) as s:
            if request(s, name) == 0x82:
                s.sendall(frame(start("SLOW", name)))
                read_frame(s)
                for b in unit:
                    s.sendall(bytes([b]))
                    if attack.done.wait(0.3):
                        return


def conflict_demands(attack, lan, name):
    """Name conflict demands for name<03> that no registration asked for, five a second."""
    with lan.socket(socket.SOCK_DGRAM) as s:
        while not attack.done.wait(0.2):
            attack.count += 1
            s.sendto(ns_packet(attack.count, 0xAD87, name, answer=True), (RECEIVER, 137))


def own_name(attack, lan, name):
    """Answers every registration of name<03> on the LAN negatively, as its owner does."""
    with lan.socket(socket.SOCK_DGRAM, timeout=0.2) as s:
        s.bind(("0.0.0.0", 137))
        while not attack.done.is_set():
            with contextlib.suppress(TimeoutError):
                packet, sender = s.recvfrom(600)
                if packet[2] & 0xF8 == 0x28 and packet[12:46] == encode_name(name, 3):
                    trn = struct.unpack(">H", packet[:2])[0]
                    s.sendto(ns_packet(trn, 0xAD86, name, answer=True, address=PEER), sender)
                    attack.count += 1


def ns_packet(trn, flags, name, answer=False, address="0.0.0.0"):
    """A name service packet with one question for name<03>, or one NB record (TTL 0)."""
    body = encode_name(name, 3) + struct.pack(">HH", 0x20, 1)
    if answer:
        body += struct.pack(">IHH", 0, 6, 0) + socket.inet_aton(address)
    return struct.pack(">6H", trn & 0xFFFF, flags, 1 - answer, answer, 0, 0) + body


def query(lan, name):
    """Whether the receiver answers a name query for name<03> positively."""
    with lan.socket(socket.SOCK_DGRAM, timeout=0.5) as s:
        s.sendto(ns_packet(0x4242, 0x0100, name), (RECEIVER, 137))
        with contextlib.suppress(TimeoutError):
            reply = s.recv(600)
            return reply[:2] == b"\x42\x42" and reply[2] & 0x80 and reply[3] & 0x0F == 0
    return False


# The receiver's process as seen from outside.

def stack_thread_seconds(pid):
    """CPU time the receiver's NetBIOS stack thread has used."""
    for tid in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{tid}/comm") as comm, open(f"/proc/{pid}/task/{tid}/stat") as st:
            if comm.read().strip() == "netbios-stack":
                fields = st.read().rsplit(")", 1)[1].split()
                return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    raise LookupError("no stack thread")


def limit_descriptors(pid, free):
    """Lets the process open only `free` more descriptors (None: 1024 again)."""
    hard = resource.prlimit(pid, resource.RLIMIT_NOFILE)[1]
    if free is None:
        resource.prlimit(pid, resource.RLIMIT_NOFILE, (1024, hard))
        return
    # Sessions just ended still close: wait until the set stays the same for a second.
    used, settled = None, set(os.listdir(f"/proc/{pid}/fd"))
    while used != settled:
        used = settled
        time.sleep(1)
        settled = set(os.listdir(f"/proc/{pid}/fd"))
    unused = [n for n in range(len(used) + free + 1) if str(n) not in used]
    resource.prlimit(pid, resource.RLIMIT_NOFILE, (unused[free], hard))
