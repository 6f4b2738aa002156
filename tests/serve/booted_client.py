#!/usr/bin/python3
"""The players of booted_test.sh, run inside the booted Debian system by its
own /usr/bin/python3, next to load_test.py (whose player and texts they use).

    booted_client.py players         two TCP players and a WebSocket player
    booted_client.py limits IDLE     8 per address, 64 in all, idle games end
    booted_client.py flood COUNT     connections opened and closed at once
    booted_client.py full NUMBER     a hide into a page file at its size limit
    booted_client.py upgrade FILE    players across an upgrade
    booted_client.py sandbox         (as weekend@probe.service) the sandbox

Each check prints "ok: ..." or "FAIL: ..." on a line of its own; the exit
status is 1 when any failed.
"""

import grp
import os
import socket
import sys
import tempfile
import threading
import time

import websocket  # python3-websocket

from load_test import HIDDEN, RIPPED, TIMEOUT, WRITTEN_FIRST, Player, found

GAME = "/usr/games/weekend"
PAGE_FOLDER = "/var/games/weekend"
WEB_PORT = 8023
GHOSTED = ("\nquick look to the left.....\nquick look to the right.....  "
           "You cannot hide yet, someone is arround ghosting you\n")
failures = []


def report(ok, what):
    if not ok:
        failures.append(what)
    print(("ok: " if ok else "FAIL: ") + what, flush=True)


def tcp(source="127.0.0.1"):
    """A TCP connection to weekend.socket from the given loopback address."""
    connection = socket.create_connection(("127.0.0.1", 2323), timeout=TIMEOUT, source_address=(source, 0))
    connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return connection


class WebConnection:
    """A WebSocket to weekend-web.service, read and written like a socket."""

    def __init__(self):
        self.socket = websocket.create_connection(f"ws://127.0.0.1:{WEB_PORT}/", timeout=TIMEOUT)

    def recv(self, _size):
        try:
            return self.socket.recv() or b""
        except websocket.WebSocketConnectionClosedException:
            return b""
        except websocket.WebSocketTimeoutException as late:
            raise TimeoutError(str(late)) from None

    def sendall(self, data):
        self.socket.send_binary(data)

    def settimeout(self, seconds):
        self.socket.settimeout(seconds)

    def close(self):
        self.socket.close()


def arrive(number, connection):
    """A player who was welcomed and gave a name."""
    player = Player(number, connection)
    player.arrive(f"Player{number}")
    player.last_line = time.monotonic()
    return player


def refused(source):
    """True when systemd closes a connection from source unanswered."""
    with tcp(source) as connection:
        try:
            return connection.recv(1) == b""
        except ConnectionResetError:
            return True


def hide(player, number, text):
    player.expect(f"write page {number} {text}", lambda a: a in (WRITTEN_FIRST, RIPPED), "write")
    player.expect("hide page 1", lambda a: a == HIDDEN, "hide")


def games():
    """The process ids of the running games."""
    pids = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{entry}/exe") == GAME:
                pids.append(int(entry))
        except OSError:
            continue
    return pids


def sandboxed(pid):
    """Why the game pid does not run as weekend@.service confines it, or None."""
    with open(f"/proc/{pid}/status", encoding="ascii") as status:
        fields = dict(line.rstrip("\n").split(":\t", 1) for line in status)
    if "0" in fields["Uid"].split() or "0" in fields["Gid"].split():
        return f"game {pid} runs as root: Uid {fields['Uid']}, Gid {fields['Gid']}"
    if str(grp.getgrnam("games").gr_gid) not in fields["Groups"].split():
        return f"game {pid} is not in the group games: {fields['Groups']}"
    wanted = {"NoNewPrivs": "1", "Seccomp": "2", "CapEff": "0" * 16, "CapBnd": "0" * 16}
    wrong = [f"{name} {fields[name]}" for name, value in wanted.items() if fields[name] != value]
    return f"game {pid}: {', '.join(wrong)}" if wrong else None


def check_players():
    """Two TCP players and one WebSocket player find each other's pages; the
    live games show the sandbox they run in."""
    players = [arrive(1, tcp()), arrive(2, tcp("127.0.0.2")), arrive(3, WebConnection())]
    pages = {500 + player.number: f"left by player {player.number}" for player in players}
    for player in players:
        player.walk_to_library()
        hide(player, 500 + player.number, pages[500 + player.number])
    for player in players:
        for number, text in pages.items():
            player.expect(f"search {number}", lambda a, text=text: a == found(text), f"search {number}")
    report(True, "two TCP players and a WebSocket player hid pages and found each other's")
    running = games()
    problems = [problem for problem in map(sandboxed, running) if problem]
    own_network = os.readlink("/proc/self/ns/net")
    private = [pid for pid in running if os.readlink(f"/proc/{pid}/ns/net") != own_network]
    report(len(running) == 3 and not problems,
           f"{len(running)} live games: no root, in the group games, no privileges, system calls filtered "
           + "; ".join(problems))
    report(len(private) == 2, f"{len(private)} of them (the TCP games) in a network of their own")
    for player in players:
        player.expect("quit", lambda a: a == "", "quit")


def keep_awake(players, idle, stop):
    """Sends every held player a line three times per idle limit, so that
    none falls asleep while the connection limits are checked."""
    while not stop.wait(idle / 3):
        for player in list(players):
            player.last_line = time.monotonic()
            player.connection.sendall(b"look\n")


def wait_for_farewell(player, idle, results):
    """Reads until the game closes; records whether it fell asleep in time."""
    player.connection.settimeout(idle + 30)
    text = player.pending
    try:
        while data := player.connection.recv(65536):
            text += data
    except OSError as problem:
        results[player.number] = f"player {player.number}: {problem}"
        return
    asleep = time.monotonic() - player.last_line
    last = text.decode("latin-1").rstrip("\n").rsplit("\n", 1)[-1]
    if "fell asleep" not in last or asleep < idle - 0.5:
        results[player.number] = f"player {player.number} ended after {asleep:.1f} s with {last[-100:]!r}"
    else:
        results[player.number] = asleep


def keep_typing(player, seconds, results):
    """Types a line every quarter of the idle limit for the given time."""
    deadline = time.monotonic() + seconds
    try:
        while time.monotonic() < deadline:
            time.sleep(seconds / 8)
            player.expect("look", lambda a: a.startswith("\nYour Room\n"), "look")
        player.expect("quit", lambda a: a == "", "quit")
        results["typist"] = True
    except (AssertionError, OSError) as problem:
        results["typist"] = str(problem)


def welcomed_again(number, source, seconds=30):
    """The seconds until a new player from source got in, or None if none
    did in the given time."""
    started = time.monotonic()
    while time.monotonic() < started + seconds:
        try:
            player = arrive(number, tcp(source))
            player.expect("quit", lambda a: a == "", "quit")
            return time.monotonic() - started
        except (AssertionError, OSError):
            time.sleep(0.5)
    return None


def check_limits(idle):
    """8 players from one address and 64 in all; then the 64 fall asleep
    (and one WebSocket player too) while a WebSocket player who types goes
    on, and a new player gets in."""
    held, stop = [], threading.Event()
    awake = threading.Thread(target=keep_awake, args=(held, idle, stop), daemon=True)
    awake.start()
    try:
        # One at a time into the list, so that each is kept awake at once.
        for number in range(8):
            held.append(arrive(number, tcp("127.0.0.2")))
        report(refused("127.0.0.2"), "a 9th connection from one address is refused")
        for number in range(8, 64):
            held.append(arrive(number, tcp(f"127.0.1.{number}")))
        report(True, "56 more players from other addresses are welcomed")
        report(refused("127.0.2.1"), "a 65th connection is refused")
    finally:
        stop.set()
        awake.join()
    results = {}
    sleepers = held + [arrive(64, WebConnection())]
    typist = arrive(65, WebConnection())
    threads = [threading.Thread(target=wait_for_farewell, args=(player, idle, results)) for player in sleepers]
    threads.append(threading.Thread(target=keep_typing, args=(typist, 2 * idle, results)))
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for player in sleepers:
        player.connection.close()
    times = [result for result in results.values() if isinstance(result, float)]
    late = [result for key, result in results.items() if key != "typist" and not isinstance(result, float)]
    report(not late, f"{len(times)} of 65 idle players (64 TCP, one WebSocket) fell asleep and were let go after "
           f"{min(times, default=0):.1f} to {max(times, default=0):.1f} s (limit {idle} s) " + "; ".join(late[:3]))
    report(results["typist"] is True, f"a WebSocket player typing for {2 * idle} s was not cut off "
           f"{'' if results['typist'] is True else results['typist']}")
    report(welcomed_again(66, "127.0.0.2") is not None, "then a new player gets in, from the address that had 8")


def check_flood(count):
    """Connections opened and closed at once from many loopback addresses;
    afterwards a new player is welcomed."""
    unanswered = 0
    started = time.monotonic()
    for attempt in range(count):
        with socket.socket() as connection:
            connection.bind((f"127.0.4.{attempt % 250 + 1}", 0))
            unanswered += connection.connect_ex(("127.0.0.1", 2323)) != 0
    elapsed = time.monotonic() - started
    print(f"flood: {count} connections from 250 addresses in {elapsed:.2f} s, {count / elapsed:.0f} a second",
          flush=True)
    report(unanswered == 0, f"the socket took every connection of the flood ({unanswered} not)")
    waited = welcomed_again(1, "127.0.0.1", seconds=60)
    report(waited is not None, f"the next player is welcomed after the flood ({waited or 0:.1f} s later)")


def check_full(number):
    """A hide into a page file at its size limit keeps the page."""
    player = arrive(1, tcp())
    player.walk_to_library()
    text = "too much for the page file"
    player.say(f"write page {number} {text}")
    player.expect("hide page 1", lambda a: a == GHOSTED, "hide into a full page file")
    kept = f'This is page nr. {number} of the big old book and it reads:\n\n\t"{text} "'
    player.expect("examine page", lambda a: kept in a, "the page kept")
    player.expect("quit", lambda a: a == "", "quit")
    report(True, "a hide into a full page file is refused as ghosted, and the page stays with the player")


def check_upgrade(go_file):
    """Three TCP players and two WebSocket players write a page each and wait
    until go_file appears (the package is upgraded meanwhile). The TCP games
    play on: they hide their pages and find each other's. The web service
    restarts with the upgrade, which ends its games; a new WebSocket player
    gets in and finds a TCP player's page."""
    tcp_players = [arrive(n, tcp(f"127.0.0.{11 + n}")) for n in range(3)]
    web_players = [arrive(n, WebConnection()) for n in (3, 4)]
    for player in tcp_players + web_players:
        player.walk_to_library()
        player.expect(f"write page {600 + player.number} across the upgrade {player.number}",
                      lambda a: a == WRITTEN_FIRST, "write")
    for player in tcp_players + web_players:
        player.say("inventory")  # the idle limit counts from here
    print("ready", flush=True)
    deadline = time.monotonic() + 60
    while not os.path.exists(go_file) and time.monotonic() < deadline:
        time.sleep(0.1)
    for player in tcp_players:
        player.expect("hide page 1", lambda a: a == HIDDEN, "hide after the upgrade")
    for player in tcp_players:
        other = (player.number + 1) % len(tcp_players)
        expected = found(f"across the upgrade {other}")
        player.expect(f"search {600 + other}", lambda a: a == expected, "search after the upgrade")
        player.expect("quit", lambda a: a == "", "quit")
    report(True, "three TCP players who wrote a page before the upgrade hid it after it, and found each other's")
    ended = 0
    for player in web_players:
        try:
            ended += player.say("look") == ""
        except OSError:
            ended += 1
    report(ended == len(web_players), f"the web service's restart ended {ended} of {len(web_players)} WebSocket games")
    newcomer = arrive(5, WebConnection())
    newcomer.walk_to_library()
    newcomer.expect("search 600", lambda a: a == found("across the upgrade 0"), "search after the upgrade")
    newcomer.expect("quit", lambda a: a == "", "quit")
    report(True, "a new WebSocket player after the upgrade finds a TCP player's page")


def check_sandbox():
    """Run as weekend@probe.service: what a served game may and may not do."""
    report(os.getuid() != 0 and os.geteuid() != 0, f"the probe is not root (uid {os.getuid()})")
    report(grp.getgrnam("games").gr_gid in os.getgroups(), "it is in the group games")
    try:
        with tempfile.TemporaryFile(dir=PAGE_FOLDER):
            writable = True
    except OSError:
        writable = False
    report(writable, f"it may write in {PAGE_FOLDER}")
    report(os.statvfs("/etc").f_flag & os.ST_RDONLY != 0, "/etc is on a read-only mount")
    visible = []
    for home in ("/home", "/root"):
        try:
            visible += [f"{home}/{entry}" for entry in os.listdir(home)]
        except PermissionError:
            pass
    report(not visible, f"the home folders are hidden {' '.join(visible)}")
    made = []
    for family in (socket.AF_INET, socket.AF_INET6, socket.AF_UNIX):
        try:
            socket.socket(family).close()
            made.append(family.name)
        except OSError:
            pass
    report(not made, f"it cannot open sockets (IPv4, IPv6, Unix) {' '.join(made)}")


def main():
    checks = {"players": check_players, "limits": lambda: check_limits(int(sys.argv[2])),
              "flood": lambda: check_flood(int(sys.argv[2])), "full": lambda: check_full(int(sys.argv[2])),
              "upgrade": lambda: check_upgrade(sys.argv[2]), "sandbox": check_sandbox}
    try:
        checks[sys.argv[1]]()
    except (AssertionError, OSError) as problem:
        report(False, f"{sys.argv[1]}: {problem}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
