#!/usr/bin/python3
"""Browser play: headless Chromium against the web page served by websocketd.

    browser_test.py GAME PAGE_FILE WEB_DIR WEB_UNIT

websocketd runs with the options of the web service's unit (WEB_UNIT), only
with this build's game and web folder, in private namespaces (sandbox.py).
One browser plays name, look, a walk, write, hide, search and quit, and
checks what the page shows after each line; it also hides a page holding
markup and control bytes, which a second browser then searches for: the
page must show it as text and run nothing. Leaving the page must end its
game, and after quit the page must refuse input.
"""

import base64
import hashlib
import os
import re
import signal
import subprocess
import sys
import tempfile

import sandbox

LIMIT = 240  # seconds for the whole run
WAIT = 20  # seconds for any one answer

LOOKOUT = "quick look to the left.....\nquick look to the right.....  Nobody there\n"
HIDDEN = "\n" + LOOKOUT + "Perfect, no one will ever find it\n"
# Markup that would run or show something if the page inserted it as HTML.
HOSTILE = ('<script>window.pwned = 1</script><img src=x onerror="window.pwned = 2">'
           '<b>bold</b> &amp; \x01\x07\x1b[31mred\x1b[0m\x7f end')
# Multi-byte characters, over 64 KiB of them: websocketd sends what it reads
# in pieces of at most 64 KiB, which end inside characters.
WIDE = " ".join(["Grüße ☕ €uro ✓"] * 5000)

try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException, WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError as missing:
    sandbox.skip(f"python3-selenium is not installed ({missing})")
try:
    import websocket
except ImportError as missing:
    sandbox.skip(f"python3-websocket is not installed ({missing})")


class Page:
    """One browser showing the game's page."""

    def __init__(self, url, profile):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--no-first-run", f"--user-data-dir={profile}", "--window-size=1000,800"):
            options.add_argument(argument)
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.driver.set_page_load_timeout(WAIT)
        self.driver.get(url)
        self.line = self.driver.find_element(By.ID, "line")

    def screen(self):
        return self.driver.execute_script("return document.getElementById('screen').textContent")

    def wait_for(self, condition, what):
        try:
            WebDriverWait(self.driver, WAIT, poll_frequency=0.05).until(lambda _: condition())
        except TimeoutException:
            raise AssertionError(f"{what}: the page shows at the end: {self.screen()[-400:]!r}") from None

    def welcome(self):
        self.wait_for(lambda: self.screen().endswith("Whats you name?\n> ") and self.line.is_enabled(),
                      "the welcome and the name prompt")

    def say(self, text):
        """Types a line (long or odd ones are put into the field by script,
        as a paste would) and returns the answer the page shows for it."""
        before = len(self.screen())
        if len(text) < 100 and text.isprintable():
            self.line.send_keys(text)
        else:
            self.driver.execute_script("arguments[0].value = arguments[1]", self.line, text)
        self.line.send_keys(Keys.ENTER)
        echoed = text + "\n"
        self.wait_for(lambda: self.screen()[before:].startswith(echoed) and self.screen().endswith("> ")
                      and len(self.screen()) > before + len(echoed), f"the answer to {text[:40]!r}")
        return self.screen()[before + len(echoed):-2]

    def expect(self, text, check, what):
        answer = self.say(text)
        if not check(answer):
            raise AssertionError(f"{what}: the page shows {answer[:400]!r} ... {answer[-200:]!r}")

    def walk_to_library(self, name):
        self.welcome()
        self.expect(name, lambda a: a.startswith(f"have fun again {name}\nYour Room\n"), "the name")
        self.expect("east", lambda a: a.startswith("\nEntrance area\n"), "east")
        self.expect("northeast", lambda a: a.startswith("\nStreet\n"), "northeast")
        self.expect("east", lambda a: a.startswith("\nOld mysterious Library\n"), "east")

    def nothing_ran(self):
        """No markup of a player's became part of the page."""
        counts = self.driver.execute_script(
            "const s = document.getElementById('screen');"
            "return [window.pwned === undefined, document.scripts.length, document.images.length,"
            " s.querySelectorAll('*:not(span.typed):not(span.prompt):not(div.status)').length];")
        if counts != [True, 1, 0, 0]:
            raise AssertionError(f"the page was changed by what it showed: {counts}")

    def close(self):
        self.driver.quit()


def check_script_hash(web_dir):
    """The page's policy lets exactly its own script run, whose integrity
    attribute names the same hash."""
    with open(os.path.join(web_dir, "index.html"), encoding="utf-8") as file:
        html = file.read()
    with open(os.path.join(web_dir, "weekend.js"), "rb") as file:
        digest = base64.b64encode(hashlib.sha256(file.read()).digest()).decode()
    if f"script-src 'sha256-{digest}'" not in html or f'src="weekend.js" integrity="sha256-{digest}"' not in html:
        sys.exit(f"FAIL: the page's Content-Security-Policy and its script's integrity must both name sha256-{digest}")


def play(url, profiles, game):
    first = Page(url, profiles + "/first")
    second = None
    try:
        first.welcome()
        first.expect("Alex", lambda a: a.startswith("have fun again Alex\nYour Room\n"), "the name")
        first.expect("look", lambda a: a.startswith("\nYour Room\nYour room, or what is left"), "look")
        first.expect("east", lambda a: a.startswith("\nEntrance area\n"), "east")
        first.expect("northeast", lambda a: a.startswith("\nStreet\n"), "northeast")
        first.expect("east", lambda a: a.startswith("\nOld mysterious Library\n"), "east")
        first.expect("take book", lambda a: a == "\nThe big old book was added to your inventory\n", "take")
        first.expect("write page 7 " + WIDE, lambda a: "ripped that page out" in a, "write a long page")
        first.expect("examine page", lambda a: a == f'\n\nThis is page nr. 7 of the big old book and it reads:\n\n\t"{WIDE} "\n',
                     "multi-byte characters cut across frames are shown whole")
        first.expect("write page 4711 " + HOSTILE, lambda a: "ripped that page out" in a, "write markup")
        first.expect("hide pages 1 to 2", lambda a: a == "\n" + LOOKOUT + HIDDEN[1:], "hide")
        first.nothing_ran()
        print("first browser: name, look, walk, write, hide: as expected")

        second = Page(url, profiles + "/second")
        second.walk_to_library("Bea")
        shown = second.say("search 4711")
        # The game may show control bytes from the page file as '?'.
        masked = re.sub(r"[\x00-\x08\x0b-\x1f\x7f]", "?", HOSTILE)
        if shown not in ("\n" + LOOKOUT + "\n" + text + " \n\n" for text in (HOSTILE, masked)):
            raise AssertionError(f"the second browser's search shows {shown[:400]!r}")
        second.nothing_ran()
        print("second browser: the markup is shown as text and nothing ran")

        first.expect("search 4711", lambda a: a.startswith("\n" + LOOKOUT + "\n<script>"), "search own page")
        first.line.send_keys("quit" + Keys.ENTER)
        first.wait_for(lambda: not first.line.is_enabled() and "[The game has ended." in first.screen(),
                       "after quit the input is disabled")
        print("first browser: quit disables the input")
        wait_for_games(game, 1, "the first game ends with quit")

        second.driver.get("about:blank")
        wait_for_games(game, 0, "leaving the page ends its game")
        print("second browser: leaving the page ends its game")
    finally:
        first.close()
        if second:
            second.close()


def wait_for_games(game, count, what):
    if not sandbox.wait_for_games(game, count, WAIT):
        raise AssertionError(f"{what}: {len(sandbox.games(game))} games are running")


def foreign_origin_refused(port):
    """A WebSocket opened by a page of another site is refused."""
    try:
        websocket.create_connection(f"ws://127.0.0.1:{port}/", timeout=WAIT, origin="http://elsewhere.example").close()
        status = 101
    except websocket.WebSocketBadStatusException as refusal:
        status = refusal.status_code
    if status != 403:
        raise AssertionError(f"a WebSocket from another site is answered with status {status}")
    print("a WebSocket from another site is refused: status 403")


def out_of_time(*_):
    raise TimeoutError(f"the browser test took longer than {LIMIT} s")


def main():
    game, page_file, web_dir, unit = sys.argv[1:5]
    sandbox.need_programs("/usr/bin/websocketd", "/usr/bin/chromium", "/usr/bin/chromedriver")
    check_script_hash(web_dir)
    command, port = sandbox.websocketd_command(unit, game, web_dir)
    sandbox.enter(page_file)
    folder = os.path.dirname(page_file)
    log = open(os.path.join(folder, "websocketd.log"), "w+", encoding="utf-8")
    server = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(LIMIT)
    try:
        sandbox.wait_for_port(port, server)
        with tempfile.TemporaryDirectory(dir=folder) as profiles:
            play(f"http://127.0.0.1:{port}/", profiles, game)
        foreign_origin_refused(port)
    except (AssertionError, WebDriverException) as problem:
        log.seek(0)
        print(f"FAIL: {problem}\nwebsocketd said (last lines):\n" + "".join(log.readlines()[-10:]))
        sys.exit(1)
    finally:
        sandbox.stop(server, game)
    print("browser play: every answer as expected")


if __name__ == "__main__":
    main()
