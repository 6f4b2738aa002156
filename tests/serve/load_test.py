#!/usr/bin/python3
"""Many players at once over TCP.

    load_test.py GAME DOOR PAGE_FILE SERVER CLIENTS

The game is served one door (weekend-door) per connection on a loopback
port, by systemd-socket-activate (SERVER socket-activate: --inetd --accept,
as a socket unit with Accept=yes serves it) or by socat (SERVER socat, as
the README serves it without systemd). CLIENTS clients play at once, half
of them ending their lines with CR LF:
name, the walk to the library, take the book, write and hide 20 pages, then,
once every client has hidden all of its pages, search one of their own and
one of another client's, and quit. Every answer must be the expected one,
every record must be in the page file whole and exactly once, and no game
process may be left behind. Prints games per second, the slowest game and
the memory each game process takes (proportional set size).

Then two players on Debian's telnet in a pseudo-terminal, one with option
negotiation and one without, give their name, play a little and press
Ctrl-C, which must close the connection and end the game. The one who
negotiates loses the connection first (the client is killed) and comes
back with a new telnet and the resume code, to the same game, where it
finds a page whose text holds 0xFF bytes, a telnet command if sent raw,
and plays on. Without telnet or python3-pexpect they are skipped, and so
is the test (after the load).
"""

import importlib.util
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

import sandbox

CLIENTS = 50  # set from the command line
PAGES = 20
PORT = 2323
TIMEOUT = 30  # seconds for any one answer
LIMIT = 240  # seconds for the whole run

LOOKOUT = "quick look to the left.....\nquick look to the right.....  Nobody there\n"
RIPPED = "\nCrrrsccccccchht you ripped that page out of the book\n"
# The page item joins the inventory with the first page and stays there.
WRITTEN_FIRST = RIPPED + "The 1 page(s) out of the book was added to your inventory\n"
HIDDEN = "\n" + LOOKOUT + "Perfect, no one will ever find it\n"


def page_number(client, page):
    return 10000 + client * 100 + page


def page_text(client, page):
    """Distinct texts of 40 to about 1200 bytes."""
    words = 4 + (client * PAGES + page) * 37 % 120
    return f"client {client} page {page}: " + " ".join(f"w{client}.{page}.{k}" for k in range(words))


def found(text):
    return "\n" + LOOKOUT + "\n" + text + " \n\n"


# The telnet protocol's forms of a line end, a lone carriage return and a
# byte 0xFF, in which a TCP player gets the game's output.
NVT = {b"\r\n": b"\n", b"\r\0": b"\r", b"\xff\xff": b"\xff"}


def from_nvt(data):
    return re.sub(rb"\r\n|\r\0|\xff\xff", lambda match: NVT[match.group()], data)


class Player:
    def __init__(self, number, connection=None, nvt=True):
        """A player on the given connection (anything with recv, sendall and
        close), by default a new one to the local port. nvt: the output comes
        in the telnet protocol's form, as on TCP."""
        self.number = number
        self.line_end = "\r\n" if number % 2 else "\n"
        if connection is None:
            connection = socket.create_connection(("127.0.0.1", PORT), timeout=TIMEOUT)
            connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.connection = connection
        self.nvt = nvt
        self.pending = b""
        self.code = None  # the resume code a TCP door tells first

    def answer(self):
        """Everything up to the next prompt, or to the end if the game closes."""
        while b"> " not in self.pending:
            data = self.connection.recv(65536)
            if not data:
                rest, self.pending = self.pending, b""
                return self.text(rest)
            self.pending += data
        text, self.pending = self.pending.split(b"> ", 1)
        return self.text(text)

    def text(self, data):
        return (from_nvt(data) if self.nvt else data).decode("latin-1")

    def say(self, line):
        self.connection.sendall((line + self.line_end).encode("latin-1"))
        return self.answer()

    def expect(self, line, check, what):
        got = self.say(line)
        if not check(got):
            raise AssertionError(f"player {self.number}, {what}: got {got[:300]!r}")

    def arrive(self, name):
        """The welcome and the name."""
        welcome = self.answer()
        if not welcome.endswith("Whats you name?\n"):
            raise AssertionError(f"player {self.number}, welcome: got {welcome[-200:]!r}")
        told = re.match(r"If your connection drops, connect again within .* and type: resume ([0-9A-Z-]{14})\n",
                        welcome)
        self.code = told and told.group(1)
        self.expect(name, lambda a: a.startswith(f"have fun again {name}\nYour Room\n"), "name")

    def walk_to_library(self):
        """The walk from the player's room to the library, and the book taken."""
        self.expect("east", lambda a: a.startswith("\nEntrance area\n"), "east")
        self.expect("northeast", lambda a: a.startswith("\nStreet\n"), "northeast")
        self.expect("east", lambda a: a.startswith("\nOld mysterious Library\n"), "east")
        self.expect("take book", lambda a: a == "\nThe big old book was added to your inventory\n", "take")


def play(number, hidden_barrier, measured_barrier, results, hide_times):
    started = time.monotonic()
    player = None
    try:
        player = Player(number)
        player.arrive(f"Player{number}")
        player.walk_to_library()
        for page in range(PAGES):
            text = page_text(number, page)
            written = WRITTEN_FIRST if page == 0 else RIPPED
            player.expect(f"write page {page_number(number, page)} {text}", lambda a: a == written, "write")
            asked = time.monotonic()
            player.expect("hide page 1", lambda a: a == HIDDEN, f"hide page {page}")
            hide_times.append(time.monotonic() - asked)
        hidden_barrier.wait()
        measured_barrier.wait()
        own, other = (number, 3), ((number + 1) % CLIENTS, PAGES - 1)
        for client, page in (own, other):
            expected = found(page_text(client, page))
            player.expect(f"search {page_number(client, page)}", lambda a: a == expected, f"search {client}/{page}")
        player.expect("quit", lambda a: a == "", "quit")
        if player.connection.recv(1):
            raise AssertionError(f"player {number}: the game wrote on after quit")
        results[number] = time.monotonic() - started
    except (AssertionError, OSError, threading.BrokenBarrierError) as problem:
        results[number] = problem
        hidden_barrier.abort()
        measured_barrier.abort()
    finally:
        if player:
            player.connection.close()


def telnet(negotiate):
    """Debian's telnet in a pseudo-terminal, connected, at the name prompt;
    the resume code its door told. Open's -PORT forces option negotiation
    on a port that is not telnet's; without it the client only sends its
    Ctrl-C as IAC IP and a timing mark."""
    import pexpect  # pylint: disable=import-outside-toplevel
    client = pexpect.spawn("telnet", [] if negotiate else ["127.0.0.1", str(PORT)], encoding="latin-1",
                           timeout=TIMEOUT, env=dict(os.environ, TERM="dumb"))
    if negotiate:
        client.expect_exact("telnet> ")
        client.sendline(f"open 127.0.0.1 -{PORT}")
    client.expect_exact("Whats you name?\r\n> ")
    return client, re.search(r"type: resume (\S+)\r\n", client.before).group(1)


def say(client, line, answer):
    """A line typed at the client, which echoes it; the terminal ends lines
    with CR LF."""
    client.sendline(line)
    client.expect_exact(f"{line}\r\n{answer}")


def come_back(client, code):
    """The client's link goes (the client is killed), and another player
    hides a page whose text holds 0xFF 0xFA 0x18 (the player's client
    escapes the 0xFF): raw, a telnet command that would swallow all that
    followed. A new telnet resumes the game with the code, finds that page
    and plays on in the same game. The new client."""
    client.kill(signal.SIGKILL)
    client.close(force=True)
    hider = Player(99)
    hider.arrive("Hider")
    hider.walk_to_library()
    hider.expect("write page 4242 caf\xff\xff\xfa\x18 au lait", lambda a: a == WRITTEN_FIRST, "write 0xFF")
    hider.expect("hide page 1", lambda a: a == HIDDEN, "hide 0xFF")
    hider.expect("quit", lambda a: a == "", "quit")
    client, _ = telnet(True)
    # Nothing was missed: the game's prompt again.
    say(client, f"resume {code.lower()}", "> ")
    say(client, "ne", "\r\nStreet\r\n")
    say(client, "e", "\r\nOld mysterious Library\r\n")
    # The control byte is shown as '?'; 0xFF 0xFA as they are.
    say(client, "search 4242", "\r\n" + LOOKOUT.replace("\n", "\r\n") + "\r\ncaf\xff\xfa? au lait \r\n\r\n> ")
    say(client, "i", "\r\nYour inventory: \r\ndirty socks\r\n> ")
    return client


def telnet_players(game):
    """Players on telnet, as typed at a terminal, with option negotiation
    and without; the one who negotiates comes back after a lost link. The
    problems found."""
    import pexpect  # pylint: disable=import-outside-toplevel
    problems = []
    for negotiate in (True, False):
        what = f"telnet {'with' if negotiate else 'without'} negotiation"
        client = None
        try:
            client, code = telnet(negotiate)
            for line, answer in (("Tester", "have fun again Tester\r\nYour Room\r\n"),
                                 ("take socks", "\r\nThe dirty socks was added to your inventory\r\n> "),
                                 ("e", "\r\nEntrance area\r\n")):
                say(client, line, answer)
            client.expect_exact("> ")
            if negotiate:
                client = come_back(client, code)
            client.sendcontrol("c")
            client.expect_exact("Connection closed by foreign host.")
            client.expect_exact(pexpect.EOF)
        except (pexpect.ExceptionPexpect, AssertionError, OSError) as problem:
            screen = str(client.before)[-300:] if client else ""
            problems.append(f"{what}: {type(problem).__name__} {problem}, the screen ends {screen!r}"[:800])
        finally:
            if client:
                client.close(force=True)
        if not sandbox.wait_for_games(game, 0):
            problems.append(f"{what}: the game still runs after Ctrl-C")
    return problems


def telnet_missing():
    """Why the telnet players cannot play, or None."""
    if shutil.which("telnet") is None:
        return "telnet (inetutils-telnet) is not installed"
    if importlib.util.find_spec("pexpect") is None:
        return "python3-pexpect is not installed"
    return None


def memory_of(pids):
    """Resident and proportional set sizes of the processes, in bytes: PSS
    splits shared pages among their sharers, RSS counts them for each."""
    totals = {"Rss:": 0, "Pss:": 0}
    for pid in pids:
        try:
            with open(f"/proc/{pid}/smaps_rollup", encoding="ascii") as rollup:
                for line in rollup:
                    if line.split()[0] in totals:
                        totals[line.split()[0]] += int(line.split()[1]) * 1024
        except OSError:
            pass
    return totals["Rss:"], totals["Pss:"]


def check_page_file(page_file):
    """Every record whole and exactly once, nothing else."""
    expected = {}
    for client in range(CLIENTS):
        for page in range(PAGES):
            expected[f"{page_number(client, page)}\n{page_text(client, page)} \n"] = 0
    with open(page_file, encoding="latin-1", newline="") as file:
        lines = file.read().split("\n")
    if lines[-1] != "":
        return ["the page file does not end with a line end"]
    problems = []
    records = lines[:-1]
    for at in range(0, len(records) - 1, 2):
        record = records[at] + "\n" + records[at + 1] + "\n"
        if record in expected:
            expected[record] += 1
        else:
            problems.append(f"a record that no client hid: {record[:100]!r}")
    if len(records) % 2:
        problems.append("the page file ends in half a record")
    problems += [f"recorded {times} times: {record[:60]!r}" for record, times in expected.items() if times != 1]
    return problems


def out_of_time(*_):
    raise TimeoutError(f"the load test took longer than {LIMIT} s")


# How each server is started: one door, and its game, per connection, on
# loopback, with the held games' folder beside the private page file.
SERVERS = {
    # As weekend.socket starts weekend@.service.
    "socket-activate": lambda door, held, game: ["systemd-socket-activate", "--inetd", "--accept",
                                                 f"--listen=127.0.0.1:{PORT}", door, f"--held-dir={held}", game],
    # The README's command for a box without systemd (bound to loopback here):
    # nofork hands the door the TCP connection itself.
    "socat": lambda door, held, game: [
        "socat", f"TCP-LISTEN:{PORT},bind=127.0.0.1,reuseaddr,fork,nodelay,backlog=128",
        f"EXEC:{door} --held-dir={held} {game},nofork"],
}


def main():
    global CLIENTS
    game, door, page_file, server_name, CLIENTS = sys.argv[1:5] + [int(sys.argv[5])]
    held = os.path.join(os.path.dirname(page_file), "held")
    command = SERVERS[server_name](door, held, game)
    sandbox.need_programs(command[0])
    sandbox.enter(page_file)
    os.makedirs(held, exist_ok=True)
    log = open(os.path.join(os.path.dirname(page_file), "server.log"), "w+", encoding="utf-8")
    server = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(LIMIT)  # the whole run is bounded, whatever hangs
    try:
        sandbox.wait_for_port(PORT, server)
        sandbox.wait_for_games(game, 0)  # the probe's own game
        results = [None] * CLIENTS
        hide_times = []  # list.append is atomic
        hidden_barrier = threading.Barrier(CLIENTS + 1, timeout=LIMIT / 2)
        measured_barrier = threading.Barrier(CLIENTS + 1, timeout=LIMIT / 2)
        players = [threading.Thread(target=play, args=(n, hidden_barrier, measured_barrier, results, hide_times),
                                    daemon=True) for n in range(CLIENTS)]
        started = time.monotonic()
        for player in players:
            player.start()
        memory = None
        try:
            hidden_barrier.wait()
            running = sandbox.games(game)
            memory = (len(running), *memory_of(running + sandbox.games(door)))
            measured_barrier.wait()
        except threading.BrokenBarrierError:
            pass
        for player in players:
            player.join()
        elapsed = time.monotonic() - started

        problems = [str(result) for result in results if not isinstance(result, float)]
        problems += check_page_file(page_file)
        if not sandbox.wait_for_games(game, 0):
            problems.append(f"game processes left behind: {sandbox.games(game)}")
        no_telnet = telnet_missing()
        if not problems and not no_telnet:
            problems += telnet_players(game)
    finally:
        sandbox.stop(server, game)
    for problem in problems[:20]:
        print("FAIL:", problem)
    if problems:
        log.seek(0)
        print(f"{command[0]} said (last lines):\n" + "".join(log.readlines()[-10:]))
        sys.exit(1)

    times = sorted(results)
    print(f"served by {server_name}: {CLIENTS} games at once, {CLIENTS * PAGES} pages hidden: "
          f"all answers as expected, every record whole and once, no game left behind")
    print(f"games per second: {CLIENTS / elapsed:.1f} ({elapsed:.2f} s for all {CLIENTS})")
    print(f"slowest game: {times[-1]:.2f} s, median {statistics.median(times):.2f} s, fastest {times[0]:.2f} s")
    print(f"hide answered in {statistics.mean(hide_times) * 1000:.1f} ms on average, "
          f"{max(hide_times) * 1000:.1f} ms at most")
    if memory and memory[0]:
        count, rss, pss = memory
        print(f"memory per game (its door and the game), {count} running at once: {rss / count / 1048576:.2f} MiB "
              f"resident, {pss / count / 1048576:.2f} MiB proportional (shared pages split)")
    if no_telnet:
        sandbox.skip(f"the telnet players: {no_telnet}")
    print("telnet with and without negotiation: the name, the commands, Ctrl-C closed the connection and ended the "
          "game; with negotiation, after a lost link, the resume code brought the player back to the same game, "
          "where a page holding 0xFF bytes left the session working")


if __name__ == "__main__":
    main()
