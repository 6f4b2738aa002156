"""What the serving tests share: skips, servers, and the games below them.

The tests run under tests/support/private-pages --network (CTest puts it
before each): the page file's folder is an empty tmpfs, so the real page
file is never touched, and the loopback interface is a fresh one of their
own, so fixed ports never meet another test's servers. Tests that lack a
program are skipped with exit code 77.
"""

import ctypes
import os
import shlex
import shutil
import socket
import sys
import time

SKIPPED = 77
PR_SET_CHILD_SUBREAPER = 36


def skip(why):
    print(f"SKIPPED: {why}", flush=True)
    sys.exit(SKIPPED)


def need_programs(*programs):
    """Skips the test unless every program is installed."""
    for program in programs:
        if shutil.which(program) is None and not os.access(program, os.X_OK):
            skip(f"{program} is not installed")


def enter(page_file):
    """Checks that the page file's folder is the private one, then makes this
    process the reaper of games whose server or helper went away."""
    if os.environ.get("WEEKEND_PRIVATE_PAGES") != os.path.dirname(page_file):
        sys.exit(f"the page file {page_file} is not in a private folder; run this through "
                 f"tests/support/private-pages --network {page_file} -- COMMAND")
    if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit(f"cannot become the reaper of orphaned games ({os.strerror(ctypes.get_errno())})")


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


def websocketd_command(unit, door, game, web_dir, held):
    """ExecStart= of the web unit with this build's door, game and web
    folder, and the port it listens on. Without systemd to start games
    through weekend@web.socket, the relay starts a door of its own for each
    (as the README's command without systemd does), with held games in held;
    WEEKEND_RESUME_LIMIT reaches them."""
    words = shlex.split(unit_settings(unit, "ExecStart")[0])
    relay = next(at for at, word in enumerate(words) if word.endswith("/weekend-door"))
    words = [f"--staticdir={web_dir}" if word.startswith("--staticdir=") else word for word in words[:relay]]
    port = next(int(word.split("=")[1]) for word in words if word.startswith("--port="))
    return words + ["--passenv=WEEKEND_RESUME_LIMIT", door, "--web", f"--held-dir={held}", game], port
