"""Runs tolvane-netbiosd as systemd does from its socket unit, without systemd: binds the
programs' socket and the NetBIOS ports here (as root), then starts the service as an
unprivileged user with the sockets handed over, and starts it again whenever it dies, until
SIGTERM. Usage: activate_service.py USER PIDFILE COMMAND..."""
import os
import pwd
import signal
import socket
import sys
import time

user, pidfile, command = pwd.getpwnam(sys.argv[1]), sys.argv[2], sys.argv[3:]
os.makedirs("/run/tolvane", exist_ok=True)
local = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
local.bind("/run/tolvane/netbios.sock")
os.chmod("/run/tolvane/netbios.sock", 0o666)
local.listen(64)
sockets = [local]
for port in (137, 138):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind(("0.0.0.0", port))
    sockets.append(s)
session = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
session.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
session.bind(("0.0.0.0", 139))
session.listen(64)
sockets.append(session)

child = 0
stopping = False


def stop(*_):
    global stopping
    stopping = True
    if child:
        os.kill(child, signal.SIGTERM)


signal.signal(signal.SIGTERM, stop)
while not stopping:
    child = os.fork()
    if child == 0:
        high = [os.dup(s.fileno()) for s in sockets]
        for i, fd in enumerate(high):
            os.dup2(fd, 3 + i)
        os.setgroups([])
        os.setgid(user.pw_gid)
        os.setuid(user.pw_uid)
        os.environ.update(LISTEN_FDS=str(len(sockets)), LISTEN_PID=str(os.getpid()))
        os.execv(command[0], command)
    with open(pidfile, "w") as f:
        f.write(str(child))
    os.waitpid(child, 0)
    time.sleep(0.5)  # as Restart=on-failure would
