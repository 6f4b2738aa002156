#!/usr/bin/python3
"""The players of the as-installed tests (debian/tests), run as root in the
machine under test next to tests/serve/load_test.py, whose player and texts
they use.

    players.py players         two TCP players and a WebSocket player; a
                               WebSocket player and a TCP player who lose
                               their connection and come back
    players.py memory          a line far past a game's memory limit
    players.py limits          8 connections per address, 64 in all
    players.py idle IDLE       silent players let go after IDLE s
    players.py flood COUNT     connections opened and closed at once
    players.py web-flood COUNT pages from one address that start games and
                               drop them
    players.py expiry SECONDS  held games that nobody resumes in time
    players.py full NUMBER     a hide into a page file at its size limit
    players.py upgrade FILE [legacy]
                               five TCP players and a WebSocket player
                               across an upgrade (legacy: from a version
                               whose web games were not held)
    players.py welcome         a new player gets in
    players.py sandbox         (as weekend@probe.service) the sandbox
    players.py hog             (as weekend@hog.service) 128 MiB filled
    players.py network         (as weekend@netprobe.service, with a
                               network) IPAddressDeny= on its own
    players.py web-network     (in place of websocketd) what the web
                               service's address rules let through

Each check prints "ok: ..." or "FAIL: ..." on a line of its own; the exit
status is 1 when any failed.
"""

import contextlib
import grp
import json
import os
import socket
import sys
import tempfile
import threading
import time

import websocket  # python3-websocket

from load_test import HIDDEN, RIPPED, TIMEOUT, WRITTEN_FIRST, Player, found

GAME = "/usr/games/weekend"
DOOR = "/usr/lib/weekend/weekend-door"
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
    """A WebSocket to weekend-web.service, read and written like a socket,
    that does what the page does (docs/web-protocol.md): it says hello (a
    new game, or the game of token, of which it has seen seen output bytes),
    reads the game's output out of the frames that come, and keeps the
    rest: the hello, the input bytes the game has received, the end's word.
    address: the player's, as a proxy on the machine names it. legacy: a
    server from before held games, whose bytes are all the game's output."""

    def __init__(self, token=None, seen=0, address=None, legacy=False):
        headers = [f"X-Real-IP: {address}"] if address else []
        self.socket = websocket.create_connection(f"ws://127.0.0.1:{WEB_PORT}/", timeout=TIMEOUT, header=headers)
        self.legacy = legacy
        self.frames = b""
        self.output = b""  # output read but not yet taken
        self.hello = None
        self.received = 0
        self.end = None
        self.seen = seen  # output bytes of the game seen so far, over every connection
        if not legacy:
            self.socket.send_binary(f"weekend/1 resume {token} {seen}\n".encode() if token else b"weekend/1 new\n")

    def recv(self, _size):
        """The game's output that came next; b"" at the end."""
        output = self.read_until(lambda: self.output or self.end)
        self.output = b""
        return output

    def greeted(self):
        """Waits for the hello; False if the connection ended instead."""
        self.read_until(lambda: self.hello or self.end)
        return self.hello is not None

    def read_until(self, done):
        """Reads frames until done() holds or the connection closes; the
        output read meanwhile."""
        while True:
            while len(self.frames) >= 5 and len(self.frames) >= 5 + int.from_bytes(self.frames[1:5], "big"):
                kind, size = chr(self.frames[0]), int.from_bytes(self.frames[1:5], "big")
                payload, self.frames = self.frames[5:5 + size], self.frames[5 + size:]
                if kind == "H":
                    self.hello = json.loads(payload)
                    self.seen = self.hello["output"]
                elif kind == "O":
                    self.output += payload
                    self.seen += len(payload)
                elif kind == "A":
                    self.received = int(payload)
                elif kind == "E":
                    self.end = payload.decode()
            if done():
                return self.output
            try:
                data = self.socket.recv() or b""
            except websocket.WebSocketConnectionClosedException:
                data = b""
            except websocket.WebSocketTimeoutException as late:
                raise TimeoutError(str(late)) from None
            if self.legacy:
                return data
            if not data:
                return self.output
            self.frames += data

    def sendall(self, data):
        self.socket.send_binary(data)

    def settimeout(self, seconds):
        self.socket.settimeout(seconds)

    def close(self):
        self.socket.close()


def arrive(number, connection):
    """A player who was welcomed and gave a name."""
    player = Player(number, connection, nvt=not isinstance(connection, WebConnection))
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


def come_back(player, seconds=60):
    """The player's connection goes without a word, and a new one resumes
    the game, as the page does with its token or a terminal player with the
    resume code; the player gets what it missed and the game's prompt. A web
    player waits up to seconds for the web service (restarting, say)."""
    old = player.connection
    player.pending = b""
    if isinstance(old, WebConnection):
        if old.socket.sock:
            old.socket.sock.close()  # as a link that broke: no close frame
        deadline = time.monotonic() + seconds
        while True:
            try:
                player.connection = WebConnection(old.hello["token"], old.seen)
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.5)
        if not player.connection.greeted():
            raise AssertionError(f"player {player.number} could not resume: {player.connection.end}")
        # What it missed, up to the prompt, if anything came with the hello.
        return player.answer() if player.connection.output else ""
    try:
        source = old.getsockname()[0]
    except OSError:  # closed already
        source = "127.0.0.1"
    old.close()
    player.connection = tcp(source)
    if not player.answer().endswith("Whats you name?\n"):
        raise AssertionError(f"player {player.number}: no name prompt on the new connection")
    player.connection.sendall(f"resume {player.code}\r\n".encode())
    return player.answer()


def check_players():
    """Two TCP players and one WebSocket player find each other's pages; the
    live games show the sandbox they run in. A WebSocket player and a TCP
    player lose their connections and come back to their games."""
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
    report(len(private) == 3, f"{len(private)} of them (the TCP and the web games) in a network of their own")
    for player in players[1:]:
        player.say("look")
        come_back(player)
        player.expect("inventory", lambda a: a.startswith("\nYour inventory: \nbig old book\n0 page(s)"),
                      "inventory after coming back")
    report(True, "a TCP player and a WebSocket player whose connections went came back to their games")
    for player in players:
        player.expect("quit", lambda a: a == "", "quit")


@contextlib.contextmanager
def kept_awake(held):
    """Within it, every player in held (a list that may grow meanwhile) is
    sent a line every 2 s, well within the shortest idle limit that a
    package for tests has, so that none falls asleep."""
    stop = threading.Event()

    def keep_awake():
        while not stop.wait(2):
            for player in list(held):
                player.last_line = time.monotonic()
                player.connection.sendall(b"look\n")

    awake = threading.Thread(target=keep_awake, daemon=True)
    awake.start()
    try:
        yield
    finally:
        stop.set()
        awake.join()


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


def welcomed_again(number, source, seconds=300):
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


def fill(held):
    """8 players from one address, then 56 from others: 64 in all, with a
    9th from the first address and a 65th refused. A player joins held as
    soon as it is welcomed, so that it is kept awake while the others
    arrive."""
    with kept_awake(held):
        for number in range(8):
            held.append(arrive(number, tcp("127.0.0.2")))
        report(refused("127.0.0.2"), "a 9th connection from one address is refused")
        for number in range(8, 64):
            held.append(arrive(number, tcp(f"127.0.1.{number}")))
        report(True, "56 more players from other addresses are welcomed")
        report(refused("127.0.2.1"), "a 65th connection is refused")


def check_limits():
    """8 players from one address and 64 in all; once they leave, a new
    player gets in from the address that had 8."""
    held = []
    try:
        fill(held)
    finally:
        for player in held:
            player.connection.close()
    waited = welcomed_again(66, "127.0.0.2")
    report(waited is not None, f"once they left, a new player gets in from the address that had 8 "
           f"({waited or 0:.1f} s later)")


def check_idle(idle):
    """8 TCP players from one address (as many as it may have) and a
    WebSocket player fall asleep while a WebSocket player who types goes on;
    then a new player gets in from that address."""
    held = []
    with kept_awake(held):
        for number in range(8):
            held.append(arrive(number, tcp("127.0.0.2")))
        held.append(arrive(8, WebConnection()))
    results = {}
    typist = arrive(9, WebConnection())
    threads = [threading.Thread(target=wait_for_farewell, args=(player, idle, results)) for player in held]
    threads.append(threading.Thread(target=keep_typing, args=(typist, 2 * idle, results)))
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for player in held:
        player.connection.close()
    times = [result for result in results.values() if isinstance(result, float)]
    late = [result for key, result in results.items() if key != "typist" and not isinstance(result, float)]
    report(not late, f"{len(times)} of {len(held)} idle players ({len(held) - 1} TCP, one WebSocket) fell asleep "
           f"and were let go after {min(times, default=0):.1f} to {max(times, default=0):.1f} s (limit {idle} s) "
           + "; ".join(late[:3]))
    report(results["typist"] is True, f"a WebSocket player typing for {2 * idle} s was not cut off "
           f"{'' if results['typist'] is True else results['typist']}")
    report(welcomed_again(10, "127.0.0.2") is not None, "then a new player gets in, from the address that had 8")


def check_memory():
    """A TCP player sends one line of 100 MiB, far past what the game's
    MemoryMax= lets it hold: the game refuses it with its own answer and
    goes on. Prints the most memory the game's unit used, against its limit."""
    player = arrive(1, tcp())
    running = games()
    report(len(running) == 1, f"one game runs ({len(running)})")
    with open(f"/proc/{running[0]}/cgroup", encoding="ascii") as cgroup:
        group = "/sys/fs/cgroup" + cgroup.read().strip().split("::", 1)[1]
    with open(f"{group}/memory.max", encoding="ascii") as limit:
        most = limit.read().strip()
    report(most == str(64 << 20), f"the game's unit has a memory limit of 64 MiB ({most} bytes)")
    size = 100 << 20
    started = time.monotonic()
    player.connection.settimeout(300)
    player.expect("x" * size, lambda a: a == "That line is too long for me, try a shorter one...\n", "a long line")
    print(f"a line of {size >> 20} MiB sent and refused in {time.monotonic() - started:.1f} s", flush=True)
    player.connection.settimeout(TIMEOUT)
    player.expect("look", lambda a: a.startswith("\nYour Room\n"), "look after the long line")
    with open(f"{group}/memory.peak", encoding="ascii") as peak:
        used = int(peak.read())
    print(f"the game's unit used at most {used / 1048576:.1f} MiB of its {int(most) / 1048576:.0f} MiB "
          f"({group.rsplit('/', 1)[1]})", flush=True)
    report(used < int(most), "it stayed below its memory limit, and the game answers the next command")
    player.expect("quit", lambda a: a == "", "quit")


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
    # Each game that the flood started (as many as the socket takes) sees its
    # connection closed and ends; an emulated machine takes a while for 64.
    waited = welcomed_again(1, "127.0.0.1")
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


def still_open(player):
    """Whether the player's game still answers."""
    try:
        return player.say("inventory") != ""
    except (OSError, websocket.WebSocketException):
        return False


def replaced_games():
    """The games that still run a game binary since replaced."""
    pids = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{entry}/exe") == GAME + " (deleted)":
                pids.append(int(entry))
        except OSError:
            continue
    return pids


def check_upgrade(go_file, legacy=False):
    """Five TCP players and a WebSocket player write a page each and type on
    until go_file appears (the package is upgraded meanwhile). The games
    play on, on the binary they started with: each hides its page and finds
    another's. The web service restarts: the WebSocket player comes back to
    its game, as the page does. A new WebSocket player finds their pages,
    and a new TCP game runs the new binary. legacy: the version before the
    upgrade did not hold games; its WebSocket game ends when the web
    service restarts, and plays no further part."""
    players = [arrive(n, tcp(f"127.0.0.{11 + n}")) for n in range(5)]
    web = arrive(5, WebConnection(legacy=legacy))
    for player in players + [web]:
        player.walk_to_library()
        player.expect(f"write page {600 + player.number} across the upgrade {player.number}",
                      lambda a: a == WRITTEN_FIRST, "write")
    print("ready", flush=True)
    web_state = "playing"
    deadline = time.monotonic() + 600
    while not os.path.exists(go_file) and time.monotonic() < deadline:
        # A line now and then, so that no one falls asleep meanwhile.
        for player in players:
            player.expect("inventory", lambda a: a.startswith("\nYour inventory"), "inventory during the upgrade")
        if web_state != "ended" and not still_open(web):
            web_state = "ended" if legacy else "came back"
            if not legacy:
                come_back(web)
        time.sleep(2)
    report(os.path.exists(go_file), "the package was upgraded meanwhile")
    if not legacy:
        if web_state == "playing" and not still_open(web):
            come_back(web)
            web_state = "came back"
        report(web_state == "came back", "the web service restarted, and the WebSocket player came back to the game")
        players.append(web)
    old = replaced_games()
    report(len(old) == len(players), f"{len(old)} games run on the binary that the upgrade replaced, "
           f"{len(players)} expected")
    for player in players:
        player.expect("hide page 1", lambda a: a == HIDDEN, "hide after the upgrade")
    for player in players:
        other = (player.number + 1) % len(players)
        expected = found(f"across the upgrade {other}")
        player.expect(f"search {600 + other}", lambda a: a == expected, "search after the upgrade")
        player.expect("quit", lambda a: a == "", "quit")
    report(True, f"{len(players)} players who wrote a page before the upgrade hid it after it, "
           "and found each other's")
    if legacy:
        report(not still_open(web), "the WebSocket game of the version before ended when the web service restarted")
    newcomer = arrive(6, WebConnection())
    newcomer.walk_to_library()
    newcomer.expect("search 601", lambda a: a == found("across the upgrade 1"), "search after the upgrade")
    newcomer.expect("quit", lambda a: a == "", "quit")
    report(True, "a new WebSocket player found a page hidden after the upgrade")
    before = set(games())
    player = arrive(7, tcp())
    started = set(games()) - before
    report(len(started) == 1, f"a new TCP game runs the new binary ({len(started)} new game processes on it)")
    player.expect("quit", lambda a: a == "", "quit")


def check_web_flood(count):
    """Pages from one address (as a proxy names it in X-Real-IP) that start a
    game, give a name and drop the connection, count times: their games are
    held, 8 at most for that address, and the others are refused as full;
    then a page from another address gets a game."""
    welcomed = full = 0
    started = time.monotonic()
    for number in range(count):
        connection = WebConnection(address="203.0.113.9")
        try:
            arrive(number, connection)
            welcomed += 1
        except AssertionError:
            full += connection.end == "full"
        connection.socket.sock.close()
    print(f"web flood: {count} pages from one address in {time.monotonic() - started:.1f} s", flush=True)
    report(welcomed == 8 and full == count - 8, f"{welcomed} of them got a game (8 expected), {full} were told "
           "the server is full")
    other = arrive(count, WebConnection(address="198.51.100.7"))
    other.expect("quit", lambda a: a == "", "quit")
    report(True, "a page from another address got a game")


def check_expiry(limit):
    """A WebSocket player and a TCP player drop their games and come back
    after the resume limit: the page hears the game cannot be resumed, the
    terminal player gets one line and a new game. A third, whose held
    game's door is killed outright, hears the same at once, and what it
    leaves behind stops nobody: a new game starts."""
    web, terminal, killed = arrive(1, WebConnection()), arrive(2, tcp()), arrive(3, WebConnection())
    web.connection.socket.sock.close()
    terminal.connection.close()
    killed.connection.socket.sock.close()
    doors = sorted(pid for pid in map(int, filter(str.isdigit, os.listdir("/proc")))
                   if os.path.exists(f"/proc/{pid}/exe") and os.readlink(f"/proc/{pid}/exe") == DOOR)
    with open(f"/proc/{doors[-1]}/cgroup", encoding="ascii") as cgroup:
        unit = cgroup.read().strip().rsplit("/", 1)[1]
    # The shell test then knows that this unit's failure was wanted.
    note = os.path.join(os.path.dirname(os.path.abspath(__file__)), "killed-unit")
    with open(note, "w", encoding="ascii") as written:
        written.write(unit + "\n")
    os.kill(doors[-1], 9)  # the newest door: the third player's
    try:
        come_back(killed)
        report(False, "a game whose door was killed could be resumed")
    except AssertionError:
        report(killed.connection.end == "expired", f"a page whose game's door was killed is told: "
               f"{killed.connection.end}")
    newcomer = arrive(4, WebConnection())
    newcomer.expect("quit", lambda a: a == "", "quit")
    time.sleep(limit + 3)
    report(not games(), f"{len(games())} games run once the resume limit ({limit} s) has passed")
    try:
        come_back(web)
        report(False, "the web game could be resumed after the limit")
    except AssertionError:
        report(web.connection.end == "expired", f"the page is told: {web.connection.end}")
    said = come_back(terminal)
    report(said.startswith("That resume code is wrong, or its game is over: here is a new game.\n")
           and said.endswith("Whats you name?\n"), f"the terminal player is told so and gets a new game: {said[:80]!r}")
    terminal.expect("Again", lambda a: a.startswith("have fun again Again\n"), "a new game")
    terminal.expect("quit", lambda a: a == "", "quit")


def check_hog():
    """Run as weekend@hog.service: fills twice the unit's memory limit, which
    should end it before it is done."""
    hoard = [bytearray(1 << 20) for _ in range(128)]
    report(False, f"{len(hoard)} MiB filled, twice the memory limit")


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
    report(made == ["AF_UNIX"], f"it can open Unix sockets (for its door) and no others: {' '.join(made)}")
    try:
        with socket.socket(socket.AF_UNIX) as listener:
            listener.bind("/run/weekend/probe")
            os.unlink("/run/weekend/probe")
            held = True
    except OSError:
        held = False
    report(held, "it may make a held game's socket in /run/weekend")


def reach(address, port):
    """What connections to address:port meet, in words: "passes" when a TCP
    connection gets an answer (taken or refused); "blocked" when none comes
    and this process may not even send a UDP datagram there (the kernel's
    EPERM, as IPAddressDeny= makes it: a TCP connection's packets are
    dropped the same way, and it waits in vain)."""
    with socket.socket() as connection:
        connection.settimeout(5)
        try:
            connection.connect((address, port))
            tcp_said = "taken"
        except ConnectionRefusedError:
            tcp_said = "refused"
        except OSError as problem:
            tcp_said = type(problem).__name__
    if tcp_said in ("taken", "refused"):
        return "passes", f"TCP {tcp_said}"
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as datagram:
        try:
            datagram.sendto(b"?", (address, port))
            udp_said = "sent"
        except OSError as problem:
            udp_said = type(problem).__name__
    return ("blocked" if udp_said == "PermissionError" else "unclear"), f"TCP {tcp_said}, UDP {udp_said}"


def check_network(expected):
    """Connections out of this process: each of expected is ADDRESS:PORT=blocked
    or ADDRESS:PORT=passes."""
    for rule in expected:
        target, wanted = rule.split("=")
        address, port = target.rsplit(":", 1)
        got, how = reach(address, int(port))
        report(got == wanted, f"a connection to {target} {got}, {wanted} expected ({how})")


def check_welcome():
    waited = welcomed_again(1, "127.0.0.1")
    report(waited is not None, f"a new player gets in ({waited or 0:.1f} s)")


def main():
    checks = {"players": check_players, "memory": check_memory, "limits": check_limits,
              "idle": lambda: check_idle(int(sys.argv[2])), "flood": lambda: check_flood(int(sys.argv[2])),
              "full": lambda: check_full(int(sys.argv[2])),
              "upgrade": lambda: check_upgrade(sys.argv[2], sys.argv[3:] == ["legacy"]),
              "web-flood": lambda: check_web_flood(int(sys.argv[2])),
              "expiry": lambda: check_expiry(int(sys.argv[2])),
              "welcome": check_welcome, "sandbox": check_sandbox, "hog": check_hog,
              "network": lambda: check_network(sys.argv[2:])}
    try:
        checks[sys.argv[1]]()
    except (AssertionError, OSError) as problem:
        report(False, f"{sys.argv[1]}: {problem}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
