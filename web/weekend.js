"use strict";
// The game runs on the server, one process per WebSocket: whatever it prints
// arrives as binary frames and is shown as it comes; each line sent is shown
// after the game's prompt. Everything is inserted as text, never as HTML.
// The screen (a log) holds text nodes of the game's output, the prompts and
// the player's lines after them (hidden from screen readers: the player has
// just typed the line, and the field's sign stands for the prompt), and the
// page's own notices in [brackets].
(function () {
  const PROMPT = "> "; // the engine's one prompt, at the start of a line
  const byId = document.getElementById.bind(document);
  const screen = byId("screen");
  const line = byId("line");
  const again = byId("again");
  const below = byId("below");
  const status = byId("status");
  const encoder = new TextEncoder();
  const keptCharacters = 500000; // older output is dropped beyond this
  let shownCharacters = 0;
  const history = []; // the lines sent, for the page's life
  let historyAt = 0;
  let draft = ""; // the half-typed line while walking the history
  let pasted = []; // lines of a paste that wait for the game's next prompt
  let following = true; // the view shows the newest text
  let ownScrollTop = -1; // where the page itself last scrolled the screen to
  let game = null;

  const address = new URL("./", window.location.href);
  address.protocol = address.protocol === "https:" ? "wss:" : "ws:";
  address.hash = "";

  // How a game's WebSocket came to close. websocketd closes it the same way
  // whatever happened (code 1006, no close frame), and the game's bytes stay
  // as they are, so the page judges from what it saw itself:
  function ending(g, now) {
    // Never opened, or not a byte came: the server was full or unreachable.
    if (!g.opened || !g.received) {
      return "unstarted";
    }
    // A line sent and nothing since: the game ends at quit and exit without
    // a word; after any other line the connection broke before the answer.
    if (g.lineSinceOutput) {
      return /^(quit|exit)$/.test(g.lastLine) ? "over" : "lost";
    }
    // The game had printed its prompt: it was waiting for its player.
    if (g.tail === "\n" + PROMPT) {
      return "lost";
    }
    // Ending by itself (kill me, the idle farewell), a game closes right
    // after its last words; one silent for long at another question (the
    // format command's Y/N) lost its connection.
    return now - g.outputAt < 3000 ? "over" : "lost";
  }
  const endings = {
    over: "The game has ended. New game (or Enter) starts another.",
    lost: "The connection to the game was lost (network or server trouble). New game (or Enter) starts another.",
    unstarted: "No game could be started: the server is full or cannot be reached. New game (or Enter) tries again.",
  };

  function add(node) {
    screen.appendChild(node);
    shownCharacters += node.textContent.length;
    trim();
    follow();
  }

  function trim() {
    while (shownCharacters > keptCharacters && screen.firstChild !== screen.lastChild) {
      shownCharacters -= screen.firstChild.textContent.length;
      screen.removeChild(screen.firstChild);
    }
  }

  function element(tag, kind, text, hidden) {
    const node = document.createElement(tag);
    node.className = kind;
    node.textContent = text;
    if (hidden) {
      node.setAttribute("aria-hidden", "true");
    }
    return node;
  }

  // The game's output. A prompt at the end goes into a span of its own,
  // which the input row's sign stands for while it is the last thing shown.
  function showOutput(text) {
    let last = screen.lastChild;
    if (last && last.className === "prompt") {
      // The game went on without a line: its prompt is plain text after all.
      screen.removeChild(last);
      shownCharacters -= PROMPT.length;
      text = PROMPT + text;
      last = screen.lastChild;
    }
    if (last && last.nodeType === Node.TEXT_NODE) {
      last.appendData(text);
      shownCharacters += text.length;
      trim();
    } else {
      last = document.createTextNode(text);
      add(last);
    }
    if (last.data === PROMPT || last.data.endsWith("\n" + PROMPT)) {
      const prompt = last.splitText(last.data.length - PROMPT.length);
      screen.replaceChild(element("span", "prompt", PROMPT, true), prompt);
    }
    follow();
  }

  function notice(text, kind) {
    add(element("div", kind || "status", "[" + text + "]"));
  }

  function say(text) {
    status.textContent = text;
  }

  // Keeps the newest text in view, or offers the way down to it.
  function follow() {
    if (following) {
      screen.scrollTop = screen.scrollHeight;
      ownScrollTop = screen.scrollTop;
    } else {
      below.hidden = false;
    }
  }

  function toBottom() {
    following = true;
    below.hidden = true;
    follow();
  }

  function start() {
    if (game) {
      notice("New game", "status separator");
    }
    const g = {
      socket: new WebSocket(address.href),
      decoder: new TextDecoder("utf-8"), // unfinished characters wait for the next frame
      opened: false,
      received: false,
      fresh: true, // the game's screen clear (a run of line ends) is still to come
      tail: "", // the last characters the game printed
      outputAt: 0,
      lastLine: "",
      lineSinceOutput: false,
    };
    game = g;
    pasted = [];
    g.socket.binaryType = "arraybuffer";
    g.socket.addEventListener("open", function () {
      g.opened = true;
      line.placeholder = "";
      say("");
    });
    g.socket.addEventListener("message", function (event) {
      received(g, typeof event.data === "string" ? event.data : g.decoder.decode(new Uint8Array(event.data), {
        stream: true
      }));
    });
    g.socket.addEventListener("close", function () {
      pasted = [];
      received(g, g.decoder.decode());
      g.socket = null;
      notice(endings[ending(g, Date.now())]);
      document.body.classList.add("ended");
      again.hidden = false;
      // The button takes the focus from the field, not from elsewhere.
      if (document.activeElement === line || document.activeElement === document.body) {
        again.focus();
      }
      line.disabled = true;
      line.placeholder = "";
    });
    document.body.classList.remove("ended");
    again.hidden = true;
    line.disabled = false;
    line.placeholder = "connecting...";
    line.focus();
  }

  function received(g, text) {
    if (text === "") {
      return;
    }
    g.received = true;
    g.tail = (g.tail + text).slice(-PROMPT.length - 1);
    g.outputAt = Date.now();
    g.lineSinceOutput = false;
    if (g.fresh) {
      text = text.replace(/^\n+/, "");
      g.fresh = text === "";
    }
    if (text !== "") {
      showOutput(text);
    }
    if (g.tail.endsWith("\n" + PROMPT) && pasted.length > 0) {
      send(pasted.shift());
    }
  }

  function send(text) {
    game.socket.send(encoder.encode(text + "\n"));
    game.lastLine = text;
    game.lineSinceOutput = true;
    game.tail = "";
    add(element("span", "typed", text + "\n", true));
    if (history[history.length - 1] !== text) {
      history.push(text);
    }
    historyAt = history.length;
    say("");
  }

  byId("input").addEventListener("submit", function (event) {
    event.preventDefault();
    if (!game.socket || game.socket.readyState !== WebSocket.OPEN) {
      say("The game is still starting: wait a moment.");
    } else if (line.value === "") {
      // An empty line would end the game, as at a terminal; here Enter on an
      // empty field is too easy a slip.
      say("Nothing was sent: an empty line would end the game. To end it, type quit.");
    } else {
      send(line.value);
      line.value = "";
      draft = "";
      toBottom();
    }
  });

  // A paste of several lines sends them one by one, each at the game's next
  // prompt; what follows the last line end stays in the field. Blank lines
  // would end the game and are left out.
  line.addEventListener("paste", function (event) {
    const lines = (event.clipboardData ? event.clipboardData.getData("text/plain") : "").split(/\r\n|\r|\n/);
    if (lines.length < 2 || !game.socket) {
      return;
    }
    event.preventDefault();
    const before = line.value.slice(0, line.selectionStart);
    const after = line.value.slice(line.selectionEnd);
    line.value = lines.pop() + after;
    lines[0] = before + lines[0];
    pasted = pasted.concat(lines.filter(function (text) {
      return text.trim() !== "";
    }));
    line.setSelectionRange(line.value.length - after.length, line.value.length - after.length);
    toBottom();
    if (game.tail.endsWith("\n" + PROMPT) && pasted.length > 0 && game.socket.readyState === WebSocket.OPEN) {
      send(pasted.shift());
    }
  });

  // Up and Down walk through the lines sent before; Down past the newest
  // gives back the line that was being typed.
  line.addEventListener("keydown", function (event) {
    if (event.key !== "ArrowUp" && event.key !== "ArrowDown" || event.altKey || event.ctrlKey || event.metaKey) {
      return;
    }
    event.preventDefault();
    if (historyAt === history.length) {
      draft = line.value;
    }
    historyAt = Math.max(0, Math.min(history.length, historyAt + (event.key === "ArrowUp" ? -1 : 1)));
    line.value = historyAt < history.length ? history[historyAt] : draft;
  });

  // After an ending, Enter anywhere but on another button starts a new game.
  document.addEventListener("keydown", function (event) {
    if (event.key === "Enter" && !game.socket && event.target.tagName !== "BUTTON") {
      event.preventDefault();
      start();
    }
  });
  again.addEventListener("click", start);

  screen.addEventListener("scroll", function () {
    // The page's own scroll keeps it following, even when the screen has
    // grown shorter (a keyboard opening) before this event came.
    following = screen.scrollTop === ownScrollTop ||
      screen.scrollTop + screen.clientHeight >= screen.scrollHeight - 8;
    if (following) {
      below.hidden = true;
    }
  });
  below.addEventListener("click", function () {
    toBottom();
    (line.disabled ? again : line).focus();
  });
  // A phone's keyboard opening makes the view shorter: keep the newest text
  // in it. Where the keyboard only covers the page (the visual viewport
  // shrinks, the layout does not), the page takes the visible height.
  new ResizeObserver(function () {
    if (following) {
      follow();
    }
  }).observe(screen);
  if (window.visualViewport) {
    window.visualViewport.addEventListener("resize", function () {
      const viewport = window.visualViewport;
      document.body.style.height = viewport.scale > 1.01 ? "" : viewport.height + "px";
    });
  }

  screen.addEventListener("click", function () {
    if (!line.disabled && window.getSelection().isCollapsed) {
      line.focus();
    }
  });

  // The transcript: the screen's text with the player's lines after their
  // prompts and the page's notices on lines of their own, in brackets.
  function transcript() {
    let text = "weekend, played at " + address.host + "; saved " + new Date().toString() + ".\n" +
      "Lines in [brackets] are notices of the web page, not of the game.\n\n";
    for (const node of screen.childNodes) {
      if (node.nodeType === Node.ELEMENT_NODE && node.tagName === "DIV") {
        text += (text.endsWith("\n") ? "" : "\n") + node.textContent + "\n";
      } else {
        text += node.textContent;
      }
    }
    return text;
  }
  byId("save").addEventListener("click", function () {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([transcript()], {type: "text/plain;charset=utf-8"}));
    link.download = "weekend-" + new Date().toISOString().slice(0, 16).replace(/[T:]/g, "-") + ".txt";
    link.click();
    setTimeout(function () {
      URL.revokeObjectURL(link.href);
    }, 60000);
  });

  // Leaving the page ends the game at once instead of leaving it waiting.
  window.addEventListener("pagehide", function () {
    if (game.socket) {
      game.socket.close();
    }
  });

  start();
})();
