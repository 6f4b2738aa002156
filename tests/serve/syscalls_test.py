#!/usr/bin/python3
"""The system calls the served game and websocketd make fit the units' filter.

    syscalls_test.py GAME PAGE_FILE GAME_UNIT WEB_UNIT WEB_DIR

The units only let through the system calls their SystemCallFilter= lines
allow (others fail with EPERM). Without a booted systemd to enforce that,
this test runs a whole game under strace as each unit would run it: over a
TCP connection as systemd-socket-activate hands it over, and through
websocketd with the web unit's options, page and WebSocket, and checks that
every system call made is one the filter allows.
"""

import os
import re
import resource
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.request

import sandbox

try:
    import websocket
except ImportError as missing:
    sandbox.skip(f"python3-websocket is not installed ({missing})")

PORT = 2323
SCRIPT = ("Tester\neast\nnortheast\neast\ntake book\nwrite page 5 a page\nwrite page 6 another\n"
          "hide page 1\nhide pages 1 to 1\nsearch 5\nsearch\nsearch 404\nexamine page\ninventory\n"
          "help more\nquit\n")
_groups = {}


def expand(group):
    """The system calls of a systemd group such as @system-service."""
    if group not in _groups:
        listing = subprocess.run(["systemd-analyze", "syscall-filter", group], capture_output=True, text=True,
                                 check=True).stdout
        calls = set()
        for line in listing.splitlines()[1:]:
            word = line.strip()
            if word and not word.startswith("#"):
                calls |= expand(word) if word.startswith("@") else {word}
        _groups[group] = calls
    return _groups[group]


def allowed_by(unit):
    """What the unit's SystemCallFilter= lines let through: the first
    list allows, lines starting with ~ take away."""
    allowed = set()
    for value in sandbox.unit_settings(unit, "SystemCallFilter"):
        deny = value.startswith("~")
        calls = set().union(*(expand(word) if word.startswith("@") else {word}
                              for word in value.lstrip("~").split()))
        allowed = allowed - calls if deny else allowed | calls
    return allowed


def calls_in(trace):
    with open(trace, encoding="latin-1") as file:
        return set(re.findall(r"^\d+ +([a-z0-9_]+)\(", file.read(), re.M))


def play_over_tcp():
    with socket.create_connection(("127.0.0.1", PORT), timeout=20) as connection:
        connection.sendall(SCRIPT.encode())
        while connection.recv(65536):
            pass


def play_over_websocket(port):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/", timeout=20) as page:
        page.read()
    connection = websocket.create_connection(f"ws://127.0.0.1:{port}/", timeout=20)
    try:
        for line in SCRIPT.splitlines(keepends=True):
            connection.send_binary(line.encode())
        while connection.recv_data()[0] != websocket.ABNF.OPCODE_CLOSE:
            pass
    except websocket.WebSocketConnectionClosedException:
        pass  # closed without a closing frame
    finally:
        connection.close()


def strace(trace):
    """strace, following every process started, writing to trace."""
    return ["strace", "-f", "-qq", "-o", trace]


def traced(command, trace, port, play, open_files=None):
    """Starts the server (with the unit's limit of open files, if it sets
    one), plays one game through it and returns the system calls in the
    trace."""
    def limit_open_files():
        if open_files is not None:
            resource.setrlimit(resource.RLIMIT_NOFILE, (open_files, open_files))

    server = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, preexec_fn=limit_open_files)
    try:
        sandbox.wait_for_port(port, server)
        play()
        time.sleep(0.2)
    finally:
        # strace leaves the programs it traces running: end them first.
        for pid in sandbox.children(server.pid):
            os.kill(pid, signal.SIGTERM)
        server.terminate()
        server.wait(timeout=10)
    return calls_in(trace)


def main():
    game, page_file, game_unit, web_unit, web_dir = sys.argv[1:6]
    sandbox.need_programs("strace", "systemd-analyze", "systemd-socket-activate")
    sandbox.enter(page_file)
    folder = os.path.dirname(page_file)
    problems = []

    # Only the game is traced here: the socket unit stands where
    # systemd-socket-activate does.
    trace = os.path.join(folder, "game.trace")
    calls = traced(["systemd-socket-activate", "--inetd", "--accept", f"--listen=127.0.0.1:{PORT}"] + strace(trace)
                   + [game], trace, PORT, play_over_tcp)
    print(f"the game over TCP made {len(calls)} kinds of system calls: {' '.join(sorted(calls))}")
    problems += [f"the game calls {call}, which weekend@.service does not allow"
                 for call in sorted(calls - allowed_by(game_unit))]

    if shutil.which("websocketd"):
        command, port = sandbox.websocketd_command(web_unit, game, web_dir)
        trace = os.path.join(folder, "web.trace")
        open_files = [int(value) for value in sandbox.unit_settings(web_unit, "LimitNOFILE")]
        calls = traced(strace(trace) + command, trace, port, lambda: play_over_websocket(port),
                       open_files[-1] if open_files else None)
        allowed = allowed_by(web_unit)
        print(f"websocketd and its game made {len(calls)} kinds of system calls")
        problems += [f"websocketd or its game calls {call}, which weekend-web.service does not allow"
                     for call in sorted(calls - allowed)]
    else:
        print("websocketd is not installed: only the game over TCP was traced")

    for problem in problems:
        print("FAIL:", problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
