#!/usr/bin/python3
"""Several machines share one page file on GlusterFS, set up as the README's
"Several machines" says.

    gluster_test.py GAME PAGE_FILE README MAN_PAGE [--gluster-defaults | --measure]

Five machines, each a network and mount namespace on a bridge of the
test's own: three servers running glusterd with their own state, logs and
/run hold the volume with the settings of the README's commands, and two
game machines mount it with the options of its fstab line. PAGE_FILE links
to the page file on the volume. Games run in the group games, each on a
socket as on a connection: games on both machines hide pages and search
for the other's newest while a server is killed and started again; writers
of big pages are killed in the middle of their record (some must be torn);
a game machine is cut off (its searches must say the pages are out of
reach, and the lock it held must not stop the other's hides for long);
weekend(6)'s backup and trim run while games hide. Then every
record is whole and once, no page that said Perfect lost, no NUL byte, no
search stale, and the data copies identical once healed.

--gluster-defaults leaves out the README's settings (the test must fail);
--measure prints the README's figures instead. WEEKEND_GLUSTER_LOGS=FOLDER
keeps the logs of a failed run. Skipped without root, /dev/fuse, network
namespaces or GlusterFS; bounded in time, and everything it started is
ended by process id, even when it fails.
"""

import collections
import grp
import itertools
import os
import re
import shlex
import shutil
import signal
import socket
import stat
import statistics
import subprocess
import sys
import threading
import time

import sandbox
from load_test import HIDDEN, LOOKOUT, RIPPED, WRITTEN_FIRST, Player, found

LIMIT = 115  # seconds for the whole run
TIMEOUT = 45  # seconds for any one answer: longer than a server may hold it
SERVERS = ("gluster1", "gluster2", "gluster3")
GAME_MACHINES = ("game1", "game2")
# The mount options for the page file, which --gluster-defaults leaves out.
PAGE_FILE_OPTIONS = ("attribute-timeout", "entry-timeout", "negative-timeout", "direct-io-mode")
BIG_PAGE = 4 << 20  # bytes: written in many pieces, so that a kill tears the record
TRIM_PAGES = 20

REFUSED = "\nquick look to the left.....\nquick look to the right.....  " \
          "You cannot hide yet, someone is arround ghosting you\n"
NOTHING = "\n" + LOOKOUT + "\nThere is nothing to find.\n\n"
OUT_OF_REACH = "\n" + LOOKOUT + "\nYou cannot get to the hidden pages right now, try again later\n\n"

findings = collections.defaultdict(list)  # what went wrong, by kind


class OutOfTime(Exception):
    """The run's time is up: no step goes on after it."""


def fail(message):
    raise AssertionError(message)


def run(command):
    """Runs a command of the set-up; fails with what it said."""
    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60,
                          check=False, cwd="/")
    if done.returncode != 0:
        fail(f"{shlex.join(command)}: status {done.returncode}: {(done.stdout + done.stderr).strip()[-600:]}")
    return done.stdout


def wait_until(what, ready, seconds):
    deadline = time.monotonic() + seconds
    while not ready():
        if time.monotonic() > deadline:
            fail(f"{what} did not happen within {seconds} s")
        time.sleep(0.2)


def net_namespace(pid):
    try:
        return os.stat(f"/proc/{pid}/ns/net").st_ino
    except OSError:
        return None


def read(path):
    with open(path, encoding="latin-1", newline="") as file:
        return file.read()


def readme_setup(readme):
    """The volume settings and the fstab line's options, as the README's
    commands give them (its volume must be the one built here)."""
    text = read(readme)
    create = re.findall(r"^ +sudo gluster volume create (.*)$", text, re.M)
    settings = re.findall(r"^ +sudo gluster volume set weekend (\S+) (\S+)$", text, re.M)
    mount = re.findall(r"^ +gluster1:/weekend /var/games/weekend glusterfs (\S+) 0 0$", text, re.M)
    bricks = [f"{name}:/srv/gluster/weekend/brick" for name in SERVERS]
    if not settings or len(mount) != 1 or create != [" ".join(["weekend replica 3 arbiter 1"] + bricks)]:
        fail("the README's Several machines lacks its volume, settings or fstab line")
    return dict(settings), mount[0]


def man_page_commands(man_page, page_file, volume_file):
    """weekend(6)'s backup and trim, for the page file on the volume, the
    trim dropping TRIM_PAGES pages."""
    commands = [re.search(rf"^{name}\n.*?^\.nf\n(.*?)^\.fi$", read(man_page), re.M | re.S)
                for name in ("Back it up", "Trim it")]
    if None in commands or "sed 1,2000d " not in commands[1].group(1):
        fail("weekend(6) has no backup, or no trim dropping 1000 pages with sed 1,2000d")
    return [command.group(1).replace("\\-", "-").replace("\\e", "\\").replace(page_file, volume_file)
            .replace("sed 1,2000d ", f"sed 1,{2 * TRIM_PAGES}d ") for command in commands]


class Machine:
    """Network and mount namespaces held by a sleeping process. The switch
    holds the bridge; the others are linked to it, with their own /run,
    GlusterFS logs and hosts, a server with its own glusterd state, a game
    machine with its own /root. /tmp stays the host's: the game under test
    may have been built there."""

    def __init__(self, name, work, switch=None, number=0):
        self.name, self.root, self.link, self.switch = name, os.path.join(work, name), f"wk-{name}", switch
        for folder in ("log", "state", "brick", "root"):
            os.makedirs(os.path.join(self.root, folder))
        self.holder = subprocess.Popen(["unshare", "--net", "--mount", "--propagation", "private", "sleep", "1d"])
        self.namespace = None
        wait_until(f"{name}'s namespaces", lambda: net_namespace(self.holder.pid) not in (None, net_namespace("self")),
                   10)
        self.namespace = net_namespace(self.holder.pid)
        if not switch:
            self.run(["sh", "-ec", "ip link add wk-bridge type bridge; ip link set wk-bridge up"])
            return
        switch.run(["ip", "link", "add", self.link, "type", "veth", "peer", "name", "eth0", "netns",
                    str(self.holder.pid)])
        switch.run(["ip", "link", "set", self.link, "master", "wk-bridge", "up"])
        mounts = [("-t", "tmpfs", "none", "/run"),
                  ("--bind", f"{self.root}/log", "/var/log/glusterfs"), ("--bind", f"{work}/hosts", "/etc/hosts"),
                  ("--bind", f"{self.root}/{'state' if name in SERVERS else 'root'}",
                   "/var/lib/glusterd" if name in SERVERS else "/root")]
        if os.path.exists("/etc/updatedb.conf"):  # mount.glusterfs adds itself to it: here to a copy
            mounts.append(("--bind", f"{work}/updatedb.conf", "/etc/updatedb.conf"))
        self.run(["sh", "-ec", "\n".join(["ip link set lo up", f"ip address add 10.23.0.{number}/24 dev eth0",
                                          "ip link set eth0 up"] + ["mount " + shlex.join(m) for m in mounts])])

    def enter(self, command):
        return ["nsenter", "-t", str(self.holder.pid), "--net", "--mount", "--"] + command

    def run(self, command):
        return run(self.enter(command))

    def start(self, command, **options):
        return subprocess.Popen(self.enter(command), cwd="/", **options)

    def processes(self):
        return [int(pid) for pid in os.listdir("/proc") if pid.isdigit() and int(pid) != self.holder.pid
                and self.namespace is not None and net_namespace(pid) == self.namespace]

    def kill(self):
        """Kills everything on the machine at once, as a power cut would, and
        reaps the daemons (this test is their reaper): a glusterd started
        again takes a brick that is not reaped for one that still runs."""
        killed = self.processes()
        for pid in killed:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass  # it ended meanwhile
        deadline = time.monotonic() + 10
        for pid in killed:
            try:
                while os.waitpid(pid, os.WNOHANG) == (0, 0) and time.monotonic() < deadline:
                    time.sleep(0.01)
            except ChildProcessError:
                pass

    def cut(self, off):
        """Pulls the machine's cable, or puts it back: it goes silent without
        closing anything."""
        self.switch.run(["ip", "link", "set", self.link, "down" if off else "up"])


class Cluster:
    """The three servers with the README's volume and the two game machines
    that mount it. end() ends everything it started, whatever step failed."""

    def __init__(self, work, readme, defaults):
        self.work, self.defaults = work, defaults
        self.settings, self.options = readme_setup(readme)
        self.machines, self.glusterds = {}, {}
        self.volume = os.path.join(work, "volume")
        self.page_file = os.path.join(self.volume, "flags")

    def set_up(self):
        names = SERVERS + GAME_MACHINES
        with open(f"{self.work}/hosts", "w", encoding="ascii") as hosts:
            hosts.write("127.0.0.1 localhost\n" + "".join(f"10.23.0.{n + 1} {name}\n" for n, name in enumerate(names)))
        if os.path.exists("/etc/updatedb.conf"):
            shutil.copyfile("/etc/updatedb.conf", f"{self.work}/updatedb.conf")
        os.mkdir(self.volume)
        self.machines["switch"] = Machine("switch", self.work)
        for n, name in enumerate(names):
            self.machines[name] = Machine(name, self.work, self.machines["switch"], n + 1)
        for name in SERVERS:  # each from Debian's packaged state
            run(["cp", "-a", "/var/lib/glusterd/.", f"{self.machines[name].root}/state"])
            self.start_glusterd(name)
        wait_until("glusterd answering", lambda: all(subprocess.run(
            self.machines[name].enter(["gluster", "peer", "status"]), capture_output=True, check=False,
            timeout=20).returncode == 0 for name in SERVERS), 20)
        for name in SERVERS[1:]:
            self.gluster("peer", "probe", name)
        wait_until("the peers joining", lambda: self.gluster("peer", "status").count("in Cluster (Connected)") == 2,
                   20)
        # The README's commands, with the bricks in the test's folder (force:
        # they are on no file system of their own).
        bricks = [f"{name}:{self.machines[name].root}/brick/weekend" for name in SERVERS]
        self.gluster("volume", "create", "weekend", "replica", "3", "arbiter", "1", *bricks, "force")
        for key, value in {} if self.defaults else self.settings.items():
            self.gluster("volume", "set", "weekend", key, value)
        self.gluster("volume", "start", "weekend")
        wait_until("every brick online", lambda: self.gluster("volume", "status", "weekend", "detail").count(
            "Online               : Y") == 3, 40)
        options = ",".join(o for o in self.options.split(",") if not self.defaults or
                           o.split("=")[0] not in PAGE_FILE_OPTIONS)
        for name in GAME_MACHINES:
            self.machines[name].run(["mount", "-t", "glusterfs", "-o", options, "gluster1:/weekend", self.volume])
        self.machines["game1"].run(["sh", "-ec", f"chown root:games {self.volume}; chmod 2770 {self.volume}"])

    def gluster(self, *words):
        return self.machines["gluster1"].run(["gluster", "--mode=script", *words])

    def start_glusterd(self, name):
        with open(f"{self.machines[name].root}/glusterd.out", "a", encoding="utf-8") as log:
            self.glusterds[name] = self.machines[name].start(["glusterd", "-N"], stdin=subprocess.DEVNULL,
                                                             stdout=log, stderr=log)

    def kill_server(self, name):
        self.machines[name].kill()
        self.glusterds.pop(name).wait()

    def brick_file(self, name):
        return f"{self.machines[name].root}/brick/weekend/flags"

    def heal(self):
        """Waits until the servers have healed every copy by themselves."""
        deadline = time.monotonic() + 30
        while (info := self.gluster("volume", "heal", "weekend", "info")).count("Number of entries: 0") != 3:
            if time.monotonic() > deadline:
                findings["copies not healed after 30 s"].append(" ".join(info.split()))
                return
            time.sleep(1)

    def end(self):
        for machine in self.machines.values():
            try:
                if machine.name in GAME_MACHINES:
                    subprocess.run(machine.enter(["umount", "-l", self.volume]), capture_output=True, timeout=20,
                                   check=False)
            except subprocess.TimeoutExpired:
                pass  # the mount goes with the machine's namespaces
            machine.kill()
            machine.holder.kill()
            machine.holder.wait()
        for glusterd in self.glusterds.values():
            glusterd.wait()


class Ledger:
    """What the games were told: pages hidden, pages kept by their player or
    killed with their game, each machine's newest page, latencies."""

    def __init__(self):
        self.lock = threading.Lock()
        self.hidden, self.kept, self.newest = {}, {}, {}  # number -> text; machine -> (number, text)
        self.times = collections.defaultdict(list)  # (phase, "hide" or "search") -> seconds
        self.refused = collections.Counter()  # phase -> hides refused
        self.numbers = itertools.count(1001)
        self.cut_off = set()  # machines whose searches may find the pages out of reach
        self.out_of_reach = 0

    def latency(self, phase):
        parts = []
        for what in ("hide", "search"):
            times = sorted(self.times[phase, what])
            refused = f", {self.refused[phase]} refused" if what == "hide" else ""
            parts += [f"{what} median {statistics.median(times) * 1000:.1f} ms, p95 "
                      f"{times[len(times) * 95 // 100] * 1000:.1f} ms, slowest {times[-1] * 1000:.0f} ms "
                      f"({len(times)}{refused})"] if times else []
        return f"{phase}: " + "; ".join(parts)


class Game:
    """A game on a machine, run as a user of the group games with the units'
    umask, on a socket as a served game is on its connection."""

    command = None  # set in main

    def __init__(self, machine, number, work):
        self.machine, self.held, self.wrote = machine, 0, False
        ours, theirs = socket.socketpair()
        self.errors = open(f"{work}/game{number}.err", "w+", encoding="latin-1")  # pylint: disable=consider-using-with
        self.process = machine.start(self.command, stdin=theirs, stdout=theirs, stderr=self.errors, umask=0o007)
        theirs.close()
        ours.settimeout(TIMEOUT)
        self.player = Player(number, ours)
        try:
            self.player.arrive(f"Player{number}")
            self.player.walk_to_library()
        except (AssertionError, OSError) as problem:
            fail(f"{problem}; the game on {machine.name} said {self.end()[-300:]!r}")

    def write(self, number, text):
        self.player.expect(f"write page {number} {text}", lambda a: a == (RIPPED if self.wrote else WRITTEN_FIRST),
                           "write")
        self.wrote, self.held = True, self.held + 1

    def hide(self, ledger, phase, number, text):
        """Hides the newest page held; whether the game said Perfect."""
        asked = time.monotonic()
        answer = self.player.say(f"hide page {self.held}")
        ledger.times[phase, "hide"].append(time.monotonic() - asked)
        with ledger.lock:
            if answer == HIDDEN:
                self.held -= 1
                ledger.hidden[number] = text
                ledger.newest[self.machine.name] = (number, text)
                return True
            ledger.kept[number] = text
            ledger.refused[phase] += 1
        if answer != REFUSED:
            findings["hides answered wrongly"].append(f"on {self.machine.name}: {answer[:300]!r}")
        return False

    def search(self, ledger, phase, other):
        """Searches for the newest page hidden on the machine other."""
        number, text = ledger.newest.get(other, (None, None))
        cut_off = self.machine.name in ledger.cut_off
        if number is None:
            return
        asked = time.monotonic()
        answer = self.player.say(f"search {number}")
        ledger.times[phase, "search"].append(time.monotonic() - asked)
        if answer == OUT_OF_REACH and (cut_off or self.machine.name in ledger.cut_off):
            with ledger.lock:
                ledger.out_of_reach += 1
        elif answer == NOTHING:
            findings["stale searches"].append(f"on {self.machine.name} for page {number} hidden on {other}")
        elif answer != found(text):
            findings["searches answered wrongly"].append(f"on {self.machine.name}: {answer[:200]!r}")

    def quit(self):
        try:
            self.player.say("quit")
            self.process.wait(TIMEOUT)
        except (OSError, subprocess.TimeoutExpired):
            pass
        return self.end()

    def end(self):
        """Kills the game if it still runs; what it wrote on standard error."""
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.player.connection.close()
        self.errors.seek(0)
        with self.errors:
            return self.errors.read()


def traffic(cluster, ledger, phase, games_per_machine, seconds, meanwhile=None, rounds=None):
    """Games on both game machines write, hide, and search for the other
    machine's newest page, back to back for the given time (or rounds),
    while meanwhile(start) runs. What the games wrote on standard error."""
    stop, errors = threading.Event(), []

    def play(machine, other, number):
        game = None
        try:
            game = Game(cluster.machines[machine], number, cluster.work)
            for _ in range(rounds) if rounds else itertools.count():
                if stop.is_set():
                    break
                page = next(ledger.numbers)
                text = f"page {page} from {machine} " + "x" * 60
                game.write(page, text)
                if not game.hide(ledger, phase, page, text):
                    time.sleep(0.05)  # as a player would, before trying again
                game.search(ledger, phase, other)
        except (AssertionError, OSError) as problem:
            findings["games that failed"].append(f"{phase}, player {number} on {machine}: {problem}")
        finally:
            if game:
                errors.append(game.quit())

    players = [threading.Thread(target=play, args=(machine, other, 100 * (m + 1) + k), daemon=True)
               for m, (machine, other) in enumerate(zip(GAME_MACHINES, reversed(GAME_MACHINES)))
               for k in range(games_per_machine)]
    started = time.monotonic()
    for player in players:
        player.start()
    try:
        if meanwhile:
            meanwhile(started)
        for player in players:
            player.join(max(0.0, started + seconds - time.monotonic()))
        stop.set()
        for player in players:
            player.join(TIMEOUT * 2)
    finally:
        stop.set()  # and on a failure the games end with their machines
    return "".join(errors)


def crash_races(cluster, ledger, races):
    """Writers of big pages killed in the middle of their record, each
    followed by a page from the other machine. How many records were torn,
    as the follower tells when it cuts one off."""
    torn = 0
    for race in range(races):
        writer, other = GAME_MACHINES[race % 2], GAME_MACHINES[1 - race % 2]
        follower = Game(cluster.machines[other], 300 + race, cluster.work)
        killed = Game(cluster.machines[writer], 400 + race, cluster.work)
        page = next(ledger.numbers)
        ledger.kept[page] = f"big page {page} " + "b" * BIG_PAGE
        killed.write(page, ledger.kept[page])
        before = os.path.getsize(cluster.brick_file("gluster2"))
        killed.player.connection.sendall(f"hide page 1{killed.player.line_end}".encode())
        wait = time.monotonic() + 10
        while os.path.getsize(cluster.brick_file("gluster2")) <= before:
            if time.monotonic() > wait:
                fail(f"race {race}: the big page never began to arrive")
            time.sleep(0.0005)
        killed.end()
        page = next(ledger.numbers)
        follower.write(page, f"page {page} after a killed writer")
        if not follower.hide(ledger, "races", page, f"page {page} after a killed writer"):
            findings["pages after a killed writer refused"].append(f"race {race}")
        torn += follower.quit().count(" bytes of an unfinished record off the end of ")
    return torn


def check_records(content, ledger, what="the page file", dropped=None):
    """Every record one that a game hid, whole and once; unless dropped is
    None (a backup taken while games hid), every page whose hide said
    Perfect there, but the dropped ones. The records."""
    if "\0" in content:
        findings[f"NUL bytes in {what}"].append(f"{content.count(chr(0))} of them")
    lines = content.split("\n")
    if lines.pop() or len(lines) % 2:
        findings[f"{what} ends in a torn record"].append(repr(content[-60:]))
    pairs = list(zip(lines[0::2], lines[1::2]))
    seen = collections.Counter()
    for number, text in pairs:
        expected = ledger.hidden.get(int(number), ledger.kept.get(int(number))) if number.isdigit() else None
        if expected is None or text != expected + " ":
            findings[f"records in {what} that no game hid whole (torn, or shifted a line)"].append(
                f"{number[:40]!r}, {text[:60]!r}")
        seen[int(number) if expected else None] += 1
    for number, count in seen.items():
        if count > 1 and number:
            findings[f"pages twice or more in {what}"].append(f"page {number}, {count} times")
    for number in ledger.hidden if dropped is not None else ():
        if number in dropped and seen[number]:
            findings[f"trimmed pages still in {what}"].append(f"page {number}")
        elif number not in dropped and not seen[number]:
            findings[f"pages whose hide said Perfect, lost from {what}"].append(f"page {number}")
    return pairs


def check(cluster, page_file, man_page):
    ledger = Ledger()

    def step(what, action):
        try:
            return action()
        except (AssertionError, OSError) as problem:
            findings[what].append(str(problem))
            return None

    def kill_and_restart(started):
        time.sleep(max(0.0, started + 3 - time.monotonic()))
        cluster.kill_server("gluster1")
        time.sleep(max(0.0, started + 7 - time.monotonic()))
        cluster.start_glusterd("gluster1")

    busy = "4 games a machine, gluster1 killed and started again"
    step(busy, lambda: traffic(cluster, ledger, busy, 4, 12, kill_and_restart))
    print(ledger.latency(busy), flush=True)
    torn = step("crash races", lambda: crash_races(cluster, ledger, 8))
    print(f"writers killed in the middle of a {BIG_PAGE >> 20} MiB page: {torn} of 8 records torn", flush=True)
    if torn == 0:
        findings["crash races that proved nothing"].append("no writer was killed in the middle of its record")

    if not cluster.defaults:
        # The cut-off machine gives up on the servers one to two ping timeouts after the cut.
        cut, cut_off = 2 * int(cluster.settings["network.ping-timeout"]) + 4, "game2 cut off"

        def cut_game2(started):
            """Cuts game2 off while a process there holds the games' lock, and
            waits for game1 to hide a page again."""
            holder = cluster.machines["game2"].start(["flock", cluster.page_file, "sleep", "600"],
                                                      start_new_session=True)
            time.sleep(1)
            ledger.cut_off.add("game2")
            cluster.machines["game2"].cut(True)
            cut_at, before = time.monotonic(), ledger.newest.get("game1")
            while ledger.newest.get("game1") == before and time.monotonic() < started + cut:
                time.sleep(0.1)
            freed.append(time.monotonic() - cut_at)
            time.sleep(max(0.0, started + cut - time.monotonic()))
            cluster.machines["game2"].cut(False)
            os.killpg(holder.pid, signal.SIGKILL)
            holder.wait()

        freed = []
        errors = step(cut_off, lambda: traffic(cluster, ledger, cut_off, 2, cut + 6, cut_game2))
        ledger.cut_off.clear()
        print(f"{ledger.latency(cut_off)}; cut off for {cut} s, {ledger.out_of_reach} searches there said that the "
              f"pages were out of reach; game1 hid again {freed[0] if freed else 0:.1f} s after game2 was cut off "
              f"holding the lock", flush=True)
        if not freed or freed[0] >= cut - 1:
            findings["a cut-off machine's lock that the servers kept"].append("game1 could not hide while it was cut")
        if ledger.out_of_reach == 0 or "weekend: cannot read the pages in " not in (errors or ""):
            findings["a cut-off machine that did not say the pages were out of reach"].append(
                f"{ledger.out_of_reach} searches said so, and the journal {'got' if errors else 'did not get'} a line")

    backup, trim = man_page_commands(man_page, page_file, cluster.page_file)

    def backup_and_trim(started):  # on game1 and game2
        time.sleep(1)
        cluster.machines["game1"].run(["sh", "-ec", backup])
        cluster.machines["game2"].run(["sh", "-ec", trim])

    step("backup and trim", lambda: traffic(cluster, ledger, "backup and trim", 2, 4, backup_and_trim))
    cluster.heal()
    copies = [read(cluster.brick_file(name)) for name in ("gluster1", "gluster2")]
    if copies[0] != copies[1]:
        findings["data copies that differ after healing"].append(f"{len(copies[0])} and {len(copies[1])} bytes")
    status = os.stat(cluster.brick_file("gluster2"))
    if stat.S_IMODE(status.st_mode) != 0o660 or status.st_gid != grp.getgrnam("games").gr_gid:
        findings["a page file not for the group games only"].append(f"mode {status.st_mode:o}, gid {status.st_gid}")
    saved = check_records(read(f"{cluster.machines['game1'].root}/root/flags.backup"), ledger, "the backup")
    dropped = {int(number) for number, _ in saved[:TRIM_PAGES]}
    pairs = check_records(copies[1], ledger, dropped=dropped)
    if pairs[:len(saved) - TRIM_PAGES] != saved[TRIM_PAGES:]:
        findings["a trim that did not drop exactly the oldest pages"].append("its page file is no tail of the backup")
    print(f"{len(ledger.hidden)} pages hidden, {len(ledger.kept)} kept by their players or killed, {len(pairs)} "
          f"records in the page file after the trim dropped {len(dropped)}")


def measure(cluster, page_file, _):
    """Hide and search latency on a local file (the test's tmpfs) and on the
    volume, each from an empty page file, and a server's link cut."""
    ledger = Ledger()
    local = os.path.join(cluster.work, "local")
    os.mkdir(local)
    shutil.chown(local, group="games")
    os.chmod(local, 0o2770)
    for (where, folder), games in itertools.product((("a local file", local), ("the volume", cluster.volume)), (1, 8)):
        os.unlink(page_file)
        os.symlink(os.path.relpath(f"{folder}/flags", os.path.dirname(page_file)), page_file)
        cluster.machines["game1"].run(["rm", "-f", f"{folder}/flags"])
        ledger.newest.clear()
        what = f"{games} game{'s' if games > 1 else ''} a machine on {where}"
        traffic(cluster, ledger, what, games, 120, rounds=150)
        print(ledger.latency(what), flush=True)
    cut = 3 * int(cluster.settings["network.ping-timeout"])

    def cut_gluster2(_):
        time.sleep(3)
        cluster.machines["gluster2"].cut(True)
        time.sleep(cut)
        cluster.machines["gluster2"].cut(False)

    traffic(cluster, ledger, f"gluster2's link cut for {cut} s", 2, cut + 10, cut_gluster2)
    print(ledger.latency(f"gluster2's link cut for {cut} s"), flush=True)
    cluster.heal()


def main():
    game, page_file, readme, man_page = sys.argv[1:5]
    mode = sys.argv[5] if len(sys.argv) > 5 else ""
    if os.geteuid() != 0:
        sandbox.skip("GlusterFS servers and mounts need root")
    if not os.access("/dev/fuse", os.R_OK | os.W_OK):
        sandbox.skip("/dev/fuse is missing: GlusterFS mounts through FUSE")
    sandbox.need_programs("glusterd", "gluster", "mount.glusterfs", "unshare", "nsenter", "ip", "setpriv")
    if not os.path.isdir("/var/log/glusterfs"):
        sandbox.skip("/var/log/glusterfs is missing (glusterfs-common makes it)")
    done = subprocess.run(["unshare", "--net", "--mount", "ip", "link", "add", "wk-bridge", "type", "bridge"],
                          capture_output=True, text=True, check=False)
    if done.returncode != 0:
        sandbox.skip(f"no network namespace with a bridge can be made here: {done.stderr.strip()}")
    sandbox.enter(page_file)
    work = os.path.join(os.path.dirname(page_file), "gluster")
    os.mkdir(work)
    Game.command = ["setpriv", "--reuid=nobody", "--regid=games", "--clear-groups", "--", os.path.abspath(game)]
    limit = 900 if mode == "--measure" else LIMIT
    def out_of_time(*_):
        raise OutOfTime(f"the test took longer than {limit} s")

    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(limit)  # the whole run is bounded, whatever hangs
    started = time.monotonic()
    cluster = Cluster(work, readme, mode == "--gluster-defaults")
    try:
        try:
            cluster.set_up()
            print(f"the volume is up and mounted on both game machines after {time.monotonic() - started:.1f} s",
                  flush=True)
            os.symlink(os.path.relpath(cluster.page_file, os.path.dirname(page_file)), page_file)
            (measure if mode == "--measure" else check)(cluster, page_file, man_page)
        finally:
            signal.alarm(0)
            cluster.end()
    except (AssertionError, OSError, subprocess.SubprocessError, OutOfTime) as problem:
        findings["the test stopped"].append(str(problem))
    left = sandbox.games(game) + [pid for machine in cluster.machines.values() for pid in machine.processes()]
    if left:
        findings["processes left behind"].append(str(left))
    if findings and os.environ.get("WEEKEND_GLUSTER_LOGS"):
        shutil.copytree(work, os.environ["WEEKEND_GLUSTER_LOGS"], dirs_exist_ok=True,
                        ignore=shutil.ignore_patterns("brick", "volume", "local"))
    for kind, cases in findings.items():
        print(f"FAIL: {kind}: {len(cases)} time{'s' if len(cases) > 1 else ''}, first {cases[0]}")
    print(f"{time.monotonic() - started:.1f} s in all")
    sys.exit(1 if findings else 0)


if __name__ == "__main__":
    main()
