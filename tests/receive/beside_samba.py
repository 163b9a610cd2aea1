#!/usr/bin/env python3
"""Samba beside the NetBIOS service, with Samba's real smbd and nmbd run in the test's namespaces
on a smb.conf and state folders of its own (bound over /etc/samba/smb.conf there only, for
testparm). While Samba holds the NetBIOS ports, a normal user's tolvane-receive and
tolvane-netbiosd say exactly what to change and --check-samba prints the lines. Once smb.conf
says "smb ports = 445" and "disable netbios = yes" and nmbd is stopped, the service takes the
ports, smbclient -L still lists Samba's share over port 445 and a message reaches a normal user's
tolvane-receive through the service."""
import os
import signal
import subprocess
import sys
import tempfile

os.environ["TOLVANE_RECEIVE_MODE"] = "service"  # a mount namespace with its own /run
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lan import Lan, RECEIVER, enter_private_netns, wait_for  # noqa: E402

enter_private_netns("smbd", "nmbd", "testparm", "smbclient", "useradd", "setpriv")
build = sys.argv[1]
if not os.access(f"{build}/tools/tolvane-netbiosd", os.X_OK):
    print("SKIP: tolvane-netbiosd is not built")
    sys.exit(77)
if not os.path.isfile("/etc/samba/smb.conf"):
    print("SKIP: no /etc/samba/smb.conf to stand in for")
    sys.exit(77)

work = tempfile.mkdtemp()
os.chmod(work, 0o755)
conf = f"{work}/smb.conf"
user = f"tlvs{os.getpid()}"
SWITCH = ['"smb ports = 445"', '"disable netbios = yes"', "systemctl disable --now nmbd",
          "systemctl enable --now tolvane-netbiosd.socket"]
samba, procs, holder = {}, [], None
as_user = ["setpriv", f"--reuid={user}", "--regid=nogroup", "--clear-groups", "--inh-caps=-all",
           "--no-new-privs"]


def write_conf(switched):
    folders = {"lock directory": "lock", "state directory": "state", "cache directory": "cache",
               "private dir": "private", "pid directory": "pid", "ncalrpc dir": "ncalrpc"}
    for folder in [*folders.values(), "share"]:
        os.makedirs(f"{work}/{folder}", exist_ok=True)
    with open(conf, "w") as f:
        f.write("[global]\nworkgroup = TESTGROUP\nnetbios name = SAMBAHOST\ninterfaces = tvh0\n"
                f"map to guest = Bad User\nlog file = {work}/log.%m\n" +
                "".join(f"{key} = {work}/{folder}\n" for key, folder in folders.items()) +
                ("smb ports = 445\ndisable netbios = yes\n" if switched else "") +
                f"[public]\npath = {work}/share\nguest ok = yes\nread only = yes\n")


def start_samba(daemon):
    """The daemon in a session of its own, in the foreground, in one PID namespace for Samba held
    by a process of the test: the helpers smbd starts on demand (samba-dcerpcd) leave its
    session, and end with the namespace. One namespace for both daemons, so that each has a PID
    of its own there: Samba locks its messaging by PID, and a second PID 1 could not start."""
    global holder
    if holder is None:
        # Its first process reaps what is left to it, so a stopped daemon leaves no zombie in
        # its session.
        reaper = "import os, time\nwhile True:\n try: os.wait()\n except OSError: time.sleep(0.1)"
        holder = subprocess.Popen(["unshare", "--pid", "--fork", "--kill-child", sys.executable,
                                   "-c", reaper])
        children = f"/proc/{holder.pid}/task/{holder.pid}/children"
        assert wait_for(5, lambda: open(children).read().strip()), "no PID namespace for Samba"
    samba[daemon] = subprocess.Popen(
        ["setsid", "nsenter", f"--pid=/proc/{holder.pid}/ns/pid_for_children", daemon,
         "--foreground", "--no-process-group", "-s", conf],
        stdout=subprocess.DEVNULL, stderr=open(f"{work}/{daemon}.err", "w"))


def stop_samba(daemon):
    proc = samba.pop(daemon)
    os.killpg(proc.pid, signal.SIGTERM)
    proc.wait(20)
    wait_for(10, lambda: subprocess.run(["pkill", "-0", "-s", str(proc.pid)]).returncode != 0)


def start(argv, name):
    procs.append(subprocess.Popen(argv, stdout=open(f"{work}/{name}.out", "w"),
                                  stderr=open(f"{work}/{name}.err", "w")))
    return procs[-1]


def says(name, *texts):
    with open(f"{work}/{name}.err", errors="replace") as f:
        line = f.read()
    return all(t in line for t in texts)


def check_samba():
    result = subprocess.run([f"{build}/tools/tolvane-netbiosd", "--check-samba"],
                            capture_output=True, text=True)
    return result.returncode, result.stdout


failed = True
try:
    with Lan() as lan:
        write_conf(switched=False)
        subprocess.run(["mount", "--bind", conf, "/etc/samba/smb.conf"], check=True)
        # nmbd's socket folder is in this namespace's own /run; smbd would make its parent, but
        # nmbd may come first.
        os.makedirs("/run/samba", exist_ok=True)
        start_samba("nmbd")
        start_samba("smbd")
        held = lambda port: subprocess.run(["ss", "-Hltun", f"sport = :{port}"],
                                           capture_output=True, text=True).stdout.strip() != ""
        assert wait_for(30, lambda: held(139) and held(137)), "smbd and nmbd do not listen"

        # Before the switch: a normal user's receiver (no service yet, no privilege) and the
        # service say what to change.
        subprocess.run(["useradd", "--no-create-home", "--shell", "/usr/sbin/nologin", user],
                       check=True)
        receiver = start([*as_user, f"{build}/tools/tolvane-receive", "--interface", "tvh0"],
                         "before")
        assert wait_for(20, lambda: says("before", "Samba holds the NetBIOS ports", *SWITCH))
        receiver.terminate()
        receiver.wait(10)
        service = start([f"{build}/tools/tolvane-netbiosd", "--interface", "tvh0"], "service")
        assert wait_for(20, lambda: says("service", "Samba holds the NetBIOS ports", *SWITCH))
        code, report = check_samba()
        assert code == 1 and "  smb ports = 445\n  disable netbios = yes\n" in report, report

        # The switch, as the lines say; the service takes the ports without a restart.
        stop_samba("nmbd")
        stop_samba("smbd")
        write_conf(switched=True)
        start_samba("smbd")
        assert wait_for(30, lambda: says("service", "all ports bound")), "the service's ports"
        code, report = check_samba()
        assert code == 0 and "leaves the NetBIOS ports" in report, report
        shares = lambda: lan.run("sh", "-c", f"smbclient -L //{RECEIVER} -p 445 -N 2>&1 | "
                                 "grep -q public") == 0
        assert wait_for(20, shares), "smbclient -L lists no share over port 445"

        start([*as_user, f"{build}/tools/tolvane-receive", "--interface", "tvh0"], "user")
        got = lambda: '"text":"beside Samba"' in open(f"{work}/user.out").read()
        assert wait_for(30, lambda: lan.smbclient(user.upper(), "beside Samba")) and \
            wait_for(10, got), "no message for the user through the service"
        failed = False
        print("Samba shares over 445 beside the NetBIOS service")
finally:
    for p in procs:
        p.terminate()
        p.wait(10)
    for daemon in list(samba):
        stop_samba(daemon)
    if holder is not None:
        holder.kill()  # its namespace, and what is left in it, goes with it (it ignores SIGTERM)
        holder.wait(10)
    subprocess.run(["userdel", user], stderr=subprocess.DEVNULL)
    if failed:
        for name in sorted(os.listdir(work)):
            if name.endswith((".err", ".out")) or name.startswith("log."):
                with open(f"{work}/{name}", errors="replace") as f:
                    print(f"--- {name}:\n{f.read()[-1500:]}")
    subprocess.run(["rm", "-rf", work])
sys.exit(1 if failed else 0)
