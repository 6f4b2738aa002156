#!/usr/bin/python3
"""Browser play: headless Chromium against the web page served by websocketd.

    browser_test.py GAME PAGE_FILE WEB_DIR WEB_UNIT AXE_SCRIPT

websocketd runs with the options of the web service's unit (WEB_UNIT), only
with this build's game and web folder, in private namespaces (sandbox.py).
One browser plays name, look, a walk, write, hide, search and quit, and
checks what the page shows after each line; it also hides a page holding
markup and control bytes, which a second browser then searches for: the
page must show it as text and run nothing. Leaving the page must end its
game, and after quit the page must refuse input. The README and the man
page must give the same nginx block.

A long session (a bare search listing 10,000 pages) must answer as quickly
as a short one, at a desktop's speed and at a phone's, and drop its oldest
text, saying so, beyond its limit. Pasted lines waiting behind a question
must be counted and can be dropped; the history keeps the last 100 lines
and leaves the keys to an input method; a browser without script is told.

A phone then pastes, scrolls, opens its keyboard, meets the three endings
and saves a transcript, with axe-core (AXE_SCRIPT, which ./test.sh installs
as root) checking each state at WCAG 2.1 AA; without axe-core the rest runs
and the test then counts as skipped, naming the missing check.
WEEKEND_SCREENSHOTS=FOLDER runs that at 1280x800 too, and saves a
screenshot of every state in FOLDER.
"""

import glob
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

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
VIEWPORTS = {"desktop": (1280, 800), "phone": (390, 844)}
KEYBOARD = 508  # the phone's view with its keyboard open
LONG = 10000  # pages that a bare search lists, on two lines each
CUT = "[Older text is no longer kept here.]"
# One line sent and its answer shown, in the page itself: from the submit to
# the first frame drawn after the game's next prompt came.
ROUND_TRIP = """
const [text, done] = arguments, line = document.getElementById('line'), start = performance.now();
const watch = new MutationObserver(records => {
  if (records.some(r => [...r.addedNodes].some(n => n.classList && n.classList.contains('prompt')))) {
    watch.disconnect();
    requestAnimationFrame(() => setTimeout(() => done(performance.now() - start)));
  }
});
watch.observe(document.getElementById('screen'), {childList: true, subtree: true});
line.value = text;
line.form.requestSubmit();
"""
SHOTS = os.environ.get("WEEKEND_SCREENSHOTS")

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

    def __init__(self, url, profile, viewport="desktop", axe=None, script=True):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--no-first-run", f"--user-data-dir={profile}"):
            options.add_argument(argument)
        self.downloads = profile + "/downloads"
        options.add_experimental_option("prefs", {
            "download.default_directory": self.downloads,
            "profile.managed_default_content_settings.javascript": 1 if script else 2})
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.driver.set_page_load_timeout(WAIT)
        self.viewport, self.axe_script = viewport, axe
        self.resize(VIEWPORTS[viewport][1])
        self.driver.get(url)
        self.line = self.driver.find_element(By.ID, "line")

    def resize(self, height):
        """The viewport's size exactly, as a phone's or a desktop's."""
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": VIEWPORTS[self.viewport][0], "height": height, "deviceScaleFactor": 1,
            "mobile": self.viewport == "phone"})

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def get(self, element, what):
        return self.js(f"return document.getElementById('{element}').{what}")

    def screen(self):
        return self.get("screen", "textContent")

    def state(self, name, axe=True):
        """A screenshot where asked for; nothing refused by the page's own
        policy; and axe-core's findings at WCAG 2.1 AA."""
        found = [entry["message"] for entry in self.driver.get_log("browser") if "Security Policy" in entry["message"]]
        if SHOTS:
            os.makedirs(SHOTS, exist_ok=True)
            # Selenium only returns False when the file cannot be written.
            assert self.driver.save_screenshot(f"{SHOTS}/{self.viewport}-{name}.png"), f"cannot write in {SHOTS}"
        if axe and self.axe_script:
            self.js(self.axe_script)
            found += self.driver.execute_async_script(
                "axe.run(document, {runOnly: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa']})"
                ".then(r => arguments[0](r.violations.map(v => v.id + ': ' + v.nodes.map(n => n.html))))")
        check(not found, f"in the state {name}: {found}")

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
            "const s = document.getElementById('log');"
            "return [window.pwned === undefined, document.scripts.length, document.images.length,"
            " s.querySelectorAll('*:not(div.out):not(span.typed):not(span.prompt):not(div.status)').length];")
        if counts != [True, 1, 0, 0]:
            raise AssertionError(f"the page was changed by what it showed: {counts}")

    def newest_in_view(self):
        """The game's newest line lies in the visible part of the screen and of the viewport."""
        return self.js("const s = document.getElementById('screen'),"
                       " t = [...[...document.getElementById('log').children].filter(b => b.className == 'out')"
                       ".pop().childNodes].filter(n => n.nodeType == 3).pop(),"
                       " r = document.createRange(), end = t.data.trimEnd().length;"
                       "r.setStart(t, t.data.lastIndexOf('\\n', end - 1) + 1); r.setEnd(t, end);"
                       "const a = r.getBoundingClientRect(), v = s.getBoundingClientRect();"
                       "return a.height > 0 && a.top >= v.top && a.bottom <= v.bottom && a.bottom <= visualViewport.height")

    def paste(self, text):
        self.js("const d = new DataTransfer(); d.setData('text/plain', arguments[1]); arguments[0].dispatchEvent("
                "new ClipboardEvent('paste', {clipboardData: d, bubbles: true, cancelable: true}))", self.line, text)

    def round_trip(self, text):
        """Milliseconds from sending a line to the answer drawn."""
        return self.driver.execute_async_script(ROUND_TRIP, text)

    def lines_shown(self):
        return self.js("return document.getElementById('screen').textContent.split('\\n').length")

    def transcript(self):
        """Saves the transcript and returns it."""
        for old in glob.glob(self.downloads + "/weekend-*.txt"):
            os.remove(old)
        self.driver.find_element(By.ID, "save").click()
        self.wait_for(lambda: glob.glob(self.downloads + "/weekend-*.txt"), "the transcript saved")
        with open(glob.glob(self.downloads + "/weekend-*.txt")[0], encoding="utf-8") as file:
            return file.read()

    def close(self):
        self.driver.quit()


def proxy_blocks_agree(source):
    """The README and the man page give the same nginx block."""
    with open(f"{source}/README.md", encoding="utf-8") as readme, \
            open(f"{source}/packaging/weekend.6.in", encoding="utf-8") as manual:
        ours = re.search(r"For nginx[^:]*:\n\n((?:    .*\n|\n)+)", readme.read()).group(1).rstrip("\n")
        theirs = re.search(r"For nginx:\n\.PP\n\.RS\n\.nf\n(.*?)\n\.fi\n", manual.read(), re.S).group(1)
    if re.sub("^    ", "", ours, flags=re.M) != theirs.replace("\\-", "-"):
        sys.exit(f"FAIL: the README's nginx block differs from weekend(6)'s:\n{ours}\n---\n{theirs}")


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


def phone(server, profile, viewport, axe):
    """A phone's field, paste, scrolling and keyboard, the three endings and a
    new game after each, and the transcript."""
    page = Page(server.url, profile, viewport, axe)
    try:
        page.welcome()
        page.state("start")
        field = page.js("const l = document.getElementById('line'); return [l.autocapitalize,"
                        " l.getAttribute('autocorrect'), l.spellcheck, l.enterKeyHint, getComputedStyle(l).fontSize]")
        check(field == ["none", "off", False, "send", "16px"], f"the field is set for phones as {field}")
        page.expect("Cy", lambda a: a.startswith("have fun again Cy\nYour Room\n"), "the name")
        before = len(page.screen())
        page.paste("look\n\n  \ninventory\nea")
        page.wait_for(lambda: page.screen().endswith("\n> inventory\n\nYour inventory is empty\n> "), "a paste")
        check(page.screen()[before:].startswith("look\n\nYour Room\n") and page.get("line", "value") == "ea",
              "a paste is sent line by line, each at its prompt, and its unfinished last line stays")
        walked = []
        for key in (Keys.UP, Keys.UP, Keys.DOWN, Keys.DOWN):
            page.line.send_keys(key)
            walked.append(page.get("line", "value"))
        check(walked == ["inventory", "look", "inventory", "ea"], f"Up, Up, Down, Down: {walked}")
        page.line.send_keys(Keys.BACKSPACE, Keys.BACKSPACE)
        page.expect("east", lambda a: a.startswith("\nEntrance area\n"), "east")
        before = page.screen()
        page.line.send_keys(Keys.ENTER)
        page.wait_for(lambda: "type quit" in page.get("status", "textContent"), "an empty Enter tells about quit")
        check(page.screen() == before and len(sandbox.games(server.game)) == 1, "an empty Enter sent nothing")
        page.state("mid-game")

        # The game (stopped) answers once the player has scrolled up a long screen.
        page.expect("help more", lambda a: "The available commands are" in a, "help more")
        [pid] = sandbox.games(server.game)
        os.kill(pid, signal.SIGSTOP)
        page.line.send_keys("look" + Keys.ENTER)
        page.js("const s = document.getElementById('screen'); s.scrollTop = -s.scrollHeight")  # the oldest text
        time.sleep(0.5)  # the page sees the scroll
        os.kill(pid, signal.SIGCONT)
        page.wait_for(lambda: page.screen().endswith("Not a chance.\n> ") and not page.get("below", "hidden"),
                      "new text below")
        page.state("scrolled-up", axe=False)
        page.driver.find_element(By.ID, "below").click()
        page.wait_for(lambda: page.newest_in_view() and page.get("below", "hidden"), "the way down to new text")
        if viewport == "phone":
            # At a phone's speed, and with nothing for a script to catch up on:
            # the view is right as soon as it is laid out.
            page.driver.execute_cdp_cmd("Emulation.setCPUThrottlingRate", {"rate": 4})
            page.say("examine pc")
            page.resize(KEYBOARD)
            check(page.newest_in_view(), "the newest answer in view after the keyboard opened")
            page.say("look")
            check(page.newest_in_view(), "the newest answer in view with the keyboard open")
            page.state("keyboard", axe=False)
            page.resize(VIEWPORTS[viewport][1])
            page.driver.execute_cdp_cmd("Emulation.setCPUThrottlingRate", {"rate": 1})

        server.stop()
        page.wait_for(lambda: "[The connection to the game was lost" in page.screen(), "the server killed mid-game")
        page.state("lost")
        page.driver.find_element(By.ID, "again").click()
        page.wait_for(lambda: page.screen().endswith("[No game could be started: the server is full or cannot be "
                                                     "reached. New game (or Enter) tries again.]"), "no server")
        page.state("unstarted")
        server.start()
        page.driver.switch_to.active_element.send_keys(Keys.ENTER)
        page.welcome()
        page.state("new-game", axe=False)
        page.say("Di")
        page.line.send_keys("quit" + Keys.ENTER)
        page.wait_for(lambda: page.screen().endswith("\n> quit\n[The game has ended. New game (or Enter) starts "
                                                     "another.]"), "quit")
        page.state("ended")

        saved = page.transcript()
        # The screen's text, with each notice on a line of its own.
        check(saved.replace("\n", "").endswith(page.screen().replace("\n", "")) and all(
            text in saved for text in ("\n> look\n\nEntrance area\n", "\n[The connection to the game was lost",
                                       "\n[New game]\nHave fun.", "\n> quit\n[The game has ended.")),
              f"the transcript shows what the screen does: {saved[-400:]!r}")
        page.driver.find_element(By.ID, "again").click()
        page.welcome()
        print(f"{viewport}: paste, history, an empty Enter, scrolling, the three endings and new games, the transcript"
              + (", the keyboard" if viewport == "phone" else "") + ": as expected")
    finally:
        page.close()
    wait_for_games(server.game, 0, "closing the browser ends its game")


def long_session(url, profile, page_file):
    """A command's round trip does not grow with the scrollback: 'look' with
    over 20,000 lines on the screen against 'look' with about 100, at a
    desktop's speed and at a phone's (the CPU slowed down four times); then
    the oldest text goes, and the transcript says where."""
    with open(page_file, "a", encoding="utf-8") as file:
        file.writelines(f"{100000 + n}\npage {n:05}\n" for n in range(LONG))
    page = Page(url, profile)
    try:
        page.walk_to_library("Eve")
        page.say("help more")
        page.driver.set_script_timeout(WAIT)
        times = {}
        for scrollback in ("short", "long"):
            if scrollback == "long":
                page.round_trip("search")
                check(page.lines_shown() > 2 * LONG, f"a bare search shows every page: {page.lines_shown()} lines")
            for rate in (1, 4):
                page.driver.execute_cdp_cmd("Emulation.setCPUThrottlingRate", {"rate": rate})
                # The fastest: other work on the machine only ever slows one down.
                times[scrollback, rate] = min(page.round_trip("look") for _ in range(5))
            page.driver.execute_cdp_cmd("Emulation.setCPUThrottlingRate", {"rate": 1})
        print(f"round trips (fastest of 5), {page.lines_shown()} lines against about 100: " + ", ".join(
            f"{times['long', rate]:.0f} ms against {times['short', rate]:.0f} ms at {rate}x" for rate in (1, 4)))
        # Generous bounds: a check that nothing grows with the scrollback, not a benchmark.
        check(all(times["long", rate] < 2 * times["short", rate] + 40 for rate in (1, 4)),
              "a round trip grows with the scrollback")
        for _ in range(8):
            page.round_trip("search")
            if page.get("log", "firstChild.textContent") == CUT:
                break
        saved = page.transcript()
        check(saved.split("\n")[3] == CUT and saved.endswith(page.screen()[len(CUT):])
              and page.lines_shown() > 2 * LONG,
              f"beyond its limit the screen drops its oldest text, and the transcript says so: {saved[:300]!r}")
        print(f"a long session: the screen keeps {len(page.screen())} characters, and the transcript says so")
    finally:
        page.close()


def queued_paste(url, profile, viewport, axe):
    """Pasted lines that wait behind the format command's question, not the
    game's prompt, show how many they are, and can be dropped; Up and Down
    walk through the last 100 lines sent, not while an input method composes."""
    page = Page(url, profile, viewport, axe)
    try:
        page.welcome()
        for text in ("Fay", "e", "ne", "nw", "take supply", "se", "sw", "w", "use supply on pc", "e", "ne", "ne"):
            page.say(text)
        page.paste("format x:\nlook\ninventory\n")
        page.wait_for(lambda: page.screen().endswith("(Y/N)?") and not page.get("queue", "hidden"),
                      "the question after a pasted line")
        check(page.get("queue", "textContent") == "2 pasted lines wait for the game's prompt. Drop them",
              f"the waiting lines are counted: {page.get('queue', 'textContent')!r}")
        page.state("queued")
        page.driver.find_element(By.ID, "drop").click()
        page.say("n")
        time.sleep(0.3)  # a line still sent would have been answered by now
        check(page.get("queue", "hidden") and page.screen().endswith("(Y/N)?n\n\n> "),
              f"the dropped lines are not sent: {page.screen()[-100:]!r}")
        print("a paste at a question: the waiting lines are counted, and dropped")

        page.paste("".join(f"x{n}\n" for n in range(1, 106)))
        page.wait_for(lambda: page.screen().endswith("> x105\nI dont understand the command.\n> "),
                      "105 lines pasted")
        walked = page.js("const l = arguments[0], up = composing => l.dispatchEvent(new KeyboardEvent('keydown',"
                         " {key: 'ArrowUp', isComposing: composing, bubbles: true, cancelable: true}));"
                         "l.value = 'ty'; up(true); const composed = l.value;"
                         "for (let n = 0; n < 120; n++) up(false); return [composed, l.value]", page.line)
        check(walked == ["ty", "x6"], f"Up while composing, then as far back as the history goes: {walked}")
        print("history: the last 100 lines, and nothing while an input method composes")
    finally:
        page.close()


def without_script(url, profile):
    """A browser that runs no script says why nothing happens."""
    page = Page(url, profile, script=False)
    try:
        shown = page.driver.find_element(By.TAG_NAME, "form").text
        check("needs JavaScript" in shown and not page.line.is_enabled(), f"without script the page shows {shown!r}")
    finally:
        page.close()


def check(condition, what):
    if not condition:
        raise AssertionError(what)


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


class Server:
    """websocketd as the web unit runs it, killed and started again at will."""

    def __init__(self, command, port, game, log):
        self.command, self.port, self.game, self.log = command, port, game, log
        self.url = f"http://127.0.0.1:{port}/"
        self.start()

    def start(self):
        self.process = subprocess.Popen(self.command, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        sandbox.wait_for_port(self.port, self.process)

    def stop(self):
        self.process.kill()  # as a crash would: its games lose their connections
        sandbox.stop(self.process, self.game)


def out_of_time(*_):
    raise TimeoutError(f"the browser test took longer than {LIMIT} s")


def main():
    game, page_file, web_dir, unit, axe_path = sys.argv[1:6]
    proxy_blocks_agree(os.path.dirname(web_dir))
    sandbox.need_programs("/usr/bin/websocketd", "/usr/bin/chromium", "/usr/bin/chromedriver")
    axe = None
    if os.path.isfile(axe_path):
        with open(axe_path, encoding="utf-8") as file:
            axe = file.read()
    command, port = sandbox.websocketd_command(unit, game, web_dir)
    sandbox.enter(page_file)
    folder = os.path.dirname(page_file)
    log = open(os.path.join(folder, "websocketd.log"), "w+", encoding="utf-8")
    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(LIMIT)
    server = Server(command, port, game, log)
    try:
        with tempfile.TemporaryDirectory(dir=folder) as profiles:
            play(server.url, profiles, game)
            long_session(server.url, profiles + "/long", page_file)
            without_script(server.url, profiles + "/without")
            for viewport in ("desktop", "phone") if SHOTS else ("phone",):
                queued_paste(server.url, f"{profiles}/queued-{viewport}", viewport, axe)
                phone(server, f"{profiles}/{viewport}", viewport, axe)
        foreign_origin_refused(port)
    except (AssertionError, WebDriverException) as problem:
        log.seek(0)
        print(f"FAIL: {problem}\nwebsocketd said (last lines):\n" + "".join(log.readlines()[-10:]))
        sys.exit(1)
    finally:
        sandbox.stop(server.process, game)
    print("browser play: every answer as expected" + (", and axe-core finds nothing" if axe else ""))
    if not axe:
        # Everything else ran and passed; the test counts as skipped so that
        # the missing check is named at the end of ./test.sh.
        sandbox.skip(f"the accessibility check: axe-core is not installed ({axe_path} is missing; "
                     "./test.sh run as root installs it)")


if __name__ == "__main__":
    main()
