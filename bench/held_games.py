#!/usr/bin/python3
"""Held games, measured: a benchmark, never run by the tests.

    tests/support/private-pages --network /home/flags -- bench/held_games.py GAME DOOR [RUNS]

On loopback, with the held games' folder beside the private page file:

- the first prompt of a new game over TCP, from connect() to the name
  prompt: the game served alone (as before it had a door) and through
  weekend-door (as weekend@.service serves it);
- reattaching: from a TCP player's new connect() to the game's prompt after
  "resume CODE", and from a web page's new WebSocket (websocketd and
  weekend-door --web, as weekend-web.service runs them) to the prompt at the
  end of its replay;
- the memory of a held game: its door and its game, resident and
  proportional (shared pages split among their sharers), for 20 held games.

Prints the median of RUNS (20) for each time.
"""

import json
import os
import re
import socket
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "serve"))
import sandbox  # noqa: E402 (the serving tests' helpers)
from load_test import from_nvt, memory_of  # noqa: E402

ALONE, DOORED, WEB = 2401, 2402, 8023


def until_prompt(connection, data=b""):
    while not data.endswith(b"> "):
        more = connection.recv(65536)
        if not more:
            raise AssertionError(f"closed after {data[-200:]!r}")
        data += more
    return data


def first_prompt(port):
    started = time.monotonic()
    with socket.create_connection(("127.0.0.1", port)) as connection:
        until_prompt(connection)
        return time.monotonic() - started


def held_tcp_game():
    """A TCP game that got past its name prompt and lost its connection; its code."""
    with socket.create_connection(("127.0.0.1", DOORED)) as connection:
        welcome = from_nvt(until_prompt(connection)).decode("latin-1")
        connection.sendall(b"Bench\n")
        until_prompt(connection)
        return re.search(r"type: resume (\S+)\n", welcome).group(1)


def reattach_tcp(code):
    started = time.monotonic()
    with socket.create_connection(("127.0.0.1", DOORED)) as connection:
        until_prompt(connection)
        connection.sendall(f"resume {code}\n".encode())
        until_prompt(connection)
        elapsed = time.monotonic() - started
    return elapsed


def web_frames(socket_, until):
    """Reads frames until until(output, hello) holds; the output and the hello."""
    buffer, output, hello = b"", b"", None
    while not until(output, hello):
        buffer += socket_.recv()
        while len(buffer) >= 5 and len(buffer) >= 5 + int.from_bytes(buffer[1:5], "big"):
            size = int.from_bytes(buffer[1:5], "big")
            kind, payload, buffer = chr(buffer[0]), buffer[5:5 + size], buffer[5 + size:]
            if kind == "H":
                hello = json.loads(payload)
            elif kind == "O":
                output += payload
    return output, hello


def reattach_web(websocket, token):
    started = time.monotonic()
    page = websocket.create_connection(f"ws://127.0.0.1:{WEB}/")
    page.send_binary(f"weekend/1 resume {token} 0\n".encode())
    web_frames(page, lambda output, hello: output.endswith(b"> "))
    elapsed = time.monotonic() - started
    page.sock.close()
    return elapsed


def main():
    import websocket  # pylint: disable=import-outside-toplevel
    game, door = sys.argv[1:3]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    held = os.path.join(os.path.dirname(os.environ["WEEKEND_PRIVATE_PAGES"] + "/x"), "held")
    os.makedirs(held, exist_ok=True)
    sandbox.enter(os.environ["WEEKEND_PRIVATE_PAGES"] + "/flags")
    activate = ["systemd-socket-activate", "--inetd", "--accept"]
    servers = [
        subprocess.Popen(activate + [f"--listen=127.0.0.1:{ALONE}", game], stderr=subprocess.DEVNULL),
        subprocess.Popen(activate + [f"--listen=127.0.0.1:{DOORED}", door, f"--held-dir={held}", game],
                         stderr=subprocess.DEVNULL),
        subprocess.Popen(["websocketd", "--address=127.0.0.1", f"--port={WEB}", "--binary", door, "--web",
                          f"--held-dir={held}", game], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL),
    ]
    try:
        for port, server in zip((ALONE, DOORED, WEB), servers):
            sandbox.wait_for_port(port, server)
        time.sleep(0.5)
        for name, port in (("the game alone", ALONE), ("through weekend-door", DOORED)):
            times = [first_prompt(port) for _ in range(runs + 1)][1:]
            print(f"first prompt of a new TCP game, {name}: median {statistics.median(times) * 1000:.2f} ms")
        code = held_tcp_game()
        times = [reattach_tcp(code) for _ in range(runs)]
        print(f"reattach over TCP (connect, name prompt, resume CODE, prompt): "
              f"median {statistics.median(times) * 1000:.2f} ms")
        page = websocket.create_connection(f"ws://127.0.0.1:{WEB}/")
        page.send_binary(b"weekend/1 new\n")
        _, hello = web_frames(page, lambda output, hello: output.endswith(b"> "))
        page.send_binary(b"Bench\n")
        web_frames(page, lambda output, hello: output.endswith(b"> "))
        page.sock.close()
        times = [reattach_web(websocket, hello["token"]) for _ in range(runs)]
        print(f"reattach over the web (WebSocket, resume, the replay's prompt): "
              f"median {statistics.median(times) * 1000:.2f} ms")
        for _ in range(20):
            held_tcp_game()
        time.sleep(0.5)
        doors, games = sandbox.games(door), sandbox.games(game)
        rss, pss = memory_of(doors + games)
        count = len(games)
        print(f"memory of a held game (door and game), {count} games: {rss / count / 1048576:.2f} MiB resident, "
              f"{pss / count / 1048576:.2f} MiB proportional; the doors alone: "
              f"{memory_of(doors)[1] / len(doors) / 1024:.0f} KiB proportional each")
    finally:
        for server in servers:
            sandbox.stop(server, game)
        for pid in sandbox.games(door):
            os.kill(pid, 9)


if __name__ == "__main__":
    main()
