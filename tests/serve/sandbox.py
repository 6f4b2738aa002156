"""A private corner of the machine for the serving tests.

enter() moves the test process (and so every server and game it starts) into
its own mount and network namespaces: the page file's folder becomes an empty
tmpfs, so the real page file is never touched, and the loopback interface is
a fresh one of its own, so fixed ports never meet another test's servers.
Tests that cannot do that, or lack a program, are skipped with exit code 77.
"""

import ctypes
import fcntl
import os
import shlex
import shutil
import socket
import struct
import sys
import time

SKIPPED = 77

CLONE_NEWNS = 0x00020000
CLONE_NEWNET = 0x40000000
CLONE_NEWUSER = 0x10000000
MS_BIND = 0x1000
MS_REC = 0x4000
MS_PRIVATE = 0x40000
SIOCGIFFLAGS = 0x8913
SIOCSIFFLAGS = 0x8914
IFF_UP = 0x1
PR_SET_CHILD_SUBREAPER = 36


def skip(why):
    print(f"SKIPPED: {why}", flush=True)
    sys.exit(SKIPPED)


def need_programs(*programs):
    """Skips the test unless every program is installed."""
    for program in programs:
        if shutil.which(program) is None and not os.access(program, os.X_OK):
            skip(f"{program} is not installed")


def _libc_call(name, *args):
    libc = ctypes.CDLL(None, use_errno=True)
    if getattr(libc, name)(*args) != 0:
        return os.strerror(ctypes.get_errno())
    return None


def _loopback_up():
    ifreq = struct.Struct("16sH22x")
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as control:
        flags = ifreq.unpack(fcntl.ioctl(control, SIOCGIFFLAGS, ifreq.pack(b"lo", 0)))[1]
        fcntl.ioctl(control, SIOCSIFFLAGS, ifreq.pack(b"lo", flags | IFF_UP))


def _enter_namespaces():
    """Private mount and network namespaces: as root directly, otherwise
    inside a user namespace that maps this user to root. None, or why not."""
    error = _libc_call("unshare", CLONE_NEWNS | CLONE_NEWNET)
    if not error or os.geteuid() == 0:
        return error
    uid, gid = os.geteuid(), os.getegid()
    error = _libc_call("unshare", CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET)
    if error:
        return f"{error}, also through a user namespace (unshare -rmn)"
    for name, text in (("setgroups", "deny"), ("uid_map", f"0 {uid} 1\n"), ("gid_map", f"0 {gid} 1\n")):
        with open(f"/proc/self/{name}", "w", encoding="ascii") as file:
            file.write(text)
    return None


def enter(page_file):
    """Private namespaces with an empty tmpfs where the page file lives."""
    error = _enter_namespaces()
    if error:
        skip(f"cannot enter private mount and network namespaces ({error}); run the tests as root")
    error = _libc_call("mount", None, b"/", None, MS_REC | MS_PRIVATE, None)
    if error:
        skip(f"cannot make the mounts private ({error})")
    # The nearest folder that exists gets the tmpfs, so nothing is created
    # on the real disk when the page file's folder is missing there.
    folder = os.path.dirname(page_file)
    mount_point = folder
    while not os.path.isdir(mount_point):
        mount_point = os.path.dirname(mount_point)
    # Everything else in that folder (for /home: the users' homes, where the
    # checkout and its build may lie) is bound back in at its place.
    hidden = os.open(mount_point, os.O_PATH)
    entries = [entry for entry in os.listdir(mount_point) if os.path.join(mount_point, entry) != page_file]
    error = _libc_call("mount", b"tmpfs", mount_point.encode(), b"tmpfs", 0, b"size=256m,mode=1777")
    if error:
        skip(f"cannot mount a tmpfs on {mount_point} ({error})")
    for entry in entries:
        source = f"/proc/self/fd/{hidden}/{entry}"
        target = os.path.join(mount_point, entry)
        if os.path.isdir(source):
            os.mkdir(target)
        else:
            open(target, "w", encoding="ascii").close()
        error = _libc_call("mount", source.encode(), target.encode(), None, MS_BIND | MS_REC, None)
        if error:
            skip(f"cannot bind {target} back into the private {mount_point} ({error})")
    os.close(hidden)
    os.makedirs(folder, exist_ok=True)
    _loopback_up()
    # Games whose server or helper went away are handed to this process.
    error = _libc_call("prctl", PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    if error:
        sys.exit(f"cannot become the reaper of orphaned games ({error})")


def wait_for_port(port, process, seconds=10):
    """Waits until something listens on 127.0.0.1:port; fails if the server died."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            sys.exit(f"the server ended before listening (status {process.returncode})")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    sys.exit(f"nothing listens on port {port} after {seconds} s")


def _parents():
    """Parent process id of every process."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat", encoding="latin-1") as stat:
                    parents[int(entry)] = int(stat.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
    return parents


def games(game):
    """Running processes of the game binary below this process: started by
    a server directly or through helpers (socat forks one per connection),
    or orphaned, since enter() makes this process their reaper."""
    parents = _parents()
    game = os.path.realpath(game)
    found = []
    for pid in parents:
        ancestor = parents.get(pid)
        while ancestor and ancestor != os.getpid():
            ancestor = parents.get(ancestor)
        if ancestor:
            try:
                if os.readlink(f"/proc/{pid}/exe") == game:
                    found.append(pid)
            except OSError:
                continue
    return found


def wait_for_games(game, count, seconds=10):
    """True once exactly count games run, False if that does not happen in
    time."""
    deadline = time.monotonic() + seconds
    while len(games(game)) != count:
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def stop(server, game):
    """Ends the server and whatever games it left."""
    for pid in games(game):
        try:
            os.kill(pid, 9)
        except OSError:
            pass
    server.terminate()
    server.wait(timeout=10)


def unit_settings(unit, name):
    """The values of every NAME= line of a unit file, in order."""
    with open(unit, encoding="utf-8") as file:
        return [line.split("=", 1)[1].strip() for line in file if line.startswith(name + "=")]


def websocketd_command(unit, game, web_dir):
    """ExecStart= of the web unit with this build's game and web folder, and
    the port it listens on."""
    words = shlex.split(unit_settings(unit, "ExecStart")[0])
    words = [f"--staticdir={web_dir}" if word.startswith("--staticdir=") else word for word in words[:-1]]
    port = next(int(word.split("=")[1]) for word in words if word.startswith("--port="))
    return words + [game], port
