"use strict";
// The game runs on the server, one process per WebSocket: whatever it prints
// arrives as binary frames and is shown as it comes; each line sent is shown
// after the game's prompt. Everything is inserted as text, never as HTML.
// The log (inside the scrolling screen) holds blocks of the game's output,
// each with the prompt it ended at and the player's line after it (both
// hidden from screen readers: the player has just typed the line, and the
// field's sign stands for the prompt), and the page's own notices in
// [brackets].
(function () {
  const PROMPT = "> "; // the engine's one prompt, at the start of a line
  const byId = document.getElementById.bind(document);
  const screen = byId("screen");
  const log = byId("log");
  const line = byId("line");
  const again = byId("again");
  const below = byId("below");
  const status = byId("status");
  const queue = byId("queue");
  const encoder = new TextEncoder();
  // The output goes into blocks of a few thousand characters, cut at line
  // ends: new text lays out a block of its own and leaves the ones above
  // alone, and blocks out of view are not laid out at all (weekend.css), so
  // an answer takes as long after hours of play as at the start. Beyond a
  // million characters the oldest blocks go, and a notice at the top says
  // so (in the transcript too).
  const blockCharacters = 4000;
  const keptCharacters = 1000000;
  let shownCharacters = 0;
  let block = null; // the block the game's output goes on in, if any
  let cut = null; // the notice that older text was dropped
  const historyLines = 100; // the lines sent that Up and Down walk through
  const history = [];
  let historyAt = 0;
  let draft = ""; // the half-typed line while walking the history
  let pasted = []; // lines of a paste that wait for the game's next prompt
  let following = true; // the view shows the newest text
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

  // --- The screen ---

  function element(tag, kind, text, hidden) {
    const node = document.createElement(tag);
    node.className = kind;
    node.textContent = text;
    if (hidden) {
      node.setAttribute("aria-hidden", "true");
    }
    return node;
  }

  // Counts what was put on the screen, drops the oldest blocks beyond the
  // limit, and offers the way down to new text when the view is elsewhere.
  function shown(characters) {
    shownCharacters += characters;
    if (shownCharacters > keptCharacters) {
      if (!cut) {
        cut = log.insertBefore(element("div", "status", "[Older text is no longer kept here.]"), log.firstChild);
      }
      while (shownCharacters > keptCharacters && cut.nextSibling && cut.nextSibling !== block) {
        shownCharacters -= cut.nextSibling.textContent.length;
        log.removeChild(cut.nextSibling);
      }
    }
    if (!following) {
      below.hidden = false;
    }
  }

  function openBlock() {
    if (!block) {
      block = log.appendChild(element("div", "out", ""));
    }
    return block;
  }

  function appendText(text) {
    const last = openBlock().lastChild;
    if (last && last.nodeType === Node.TEXT_NODE) {
      last.appendData(text);
    } else {
      block.appendChild(document.createTextNode(text));
    }
    shown(text.length);
  }

  // The game's output. A prompt at the end goes into a span of its own,
  // which the input row's sign stands for while it is the last thing shown.
  function showOutput(text) {
    const prompt = block && block.lastChild;
    if (prompt && prompt.className === "prompt") {
      // The game went on without a line: its prompt is plain text after all.
      block.removeChild(prompt);
      shownCharacters -= PROMPT.length;
      text = PROMPT + text;
    }
    while (text !== "") {
      // A full block takes the rest of its line, then the next one begins.
      const end = text.indexOf("\n", Math.max(0, blockCharacters - blockLength() - 1)) + 1;
      appendText(end > 0 ? text.slice(0, end) : text);
      text = end > 0 ? text.slice(end) : "";
      if (end > 0 && blockLength() >= blockCharacters) {
        closeBlock();
      }
    }
    const last = block && block.lastChild;
    if (last && (last.data === PROMPT || last.data.endsWith("\n" + PROMPT))) {
      block.replaceChild(element("span", "prompt", PROMPT, true), last.splitText(last.data.length - PROMPT.length));
    }
  }

  function blockLength() {
    return block ? block.textContent.length : 0;
  }

  // The height of a finished block out of view, until it is drawn once, is
  // guessed from its lines (1.4: the line height).
  function closeBlock() {
    if (block) {
      block.style.containIntrinsicSize = "auto " + 1.4 * block.textContent.split("\n").length + "em";
      block = null;
    }
  }

  // A line the player sent, after the prompt it answers; the game's answer
  // begins a new block.
  function showTyped(text) {
    openBlock().appendChild(element("span", "typed", text + "\n", true));
    closeBlock();
    shown(text.length + 1);
  }

  function notice(text, kind) {
    closeBlock();
    log.appendChild(element("div", kind || "status", "[" + text + "]"));
    shown(text.length + 2);
  }

  function say(text) {
    status.textContent = text;
  }

  // The screen scrolls from its end (see weekend.css): while the view is at
  // the newest text it stays there by itself, as text comes and as the
  // screen grows shorter. The page only notes whether the player has
  // scrolled away from it, and brings the view back.
  function atNewest() {
    return log.getBoundingClientRect().bottom <= screen.getBoundingClientRect().bottom + 8;
  }

  function toNewest() {
    following = true;
    below.hidden = true;
    screen.scrollTop = screen.scrollHeight; // as far toward the newest text as it goes
  }

  // --- Lines sent ---

  function sendLine(text) {
    game.socket.send(encoder.encode(text + "\n"));
    game.lastLine = text;
    game.lineSinceOutput = true;
    game.tail = "";
    showTyped(text);
    if (history[history.length - 1] !== text) {
      history.push(text);
      if (history.length > historyLines) {
        history.shift();
      }
    }
    historyAt = history.length;
    say("");
  }

  // A pasted line goes at the game's prompt, not at another question (the
  // format command's Y/N): the player answers that one.
  function sendPasted() {
    if (pasted.length > 0 && game.socket && game.socket.readyState === WebSocket.OPEN &&
        game.tail.endsWith("\n" + PROMPT)) {
      sendLine(pasted.shift());
    }
    showQueue();
  }

  // How many pasted lines wait, and the button that drops them. The count
  // is a status for screen readers: it changes only when the number does.
  function showQueue() {
    const waiting = byId("waiting");
    const text = pasted.length === 1 ? "1 pasted line waits for the game's prompt." :
      pasted.length + " pasted lines wait for the game's prompt.";
    queue.hidden = pasted.length === 0;
    if (waiting.textContent !== text) {
      waiting.textContent = text;
    }
  }

  // --- The connection and its game ---

  // The game's output, in bytes; a character cut across frames waits for
  // the rest. Called without data when the connection has closed.
  function fromGame(g, data) {
    let text;
    if (data === undefined) {
      text = g.decoder.decode();
    } else if (typeof data === "string") {
      text = data;
    } else {
      text = g.decoder.decode(new Uint8Array(data), {stream: true});
    }
    if (text === "") {
      return;
    }
    g.received = true;
    g.tail = (g.tail + text).slice(-PROMPT.length - 1);
    g.outputAt = Date.now();
    g.lineSinceOutput = false;
    let rest = text;
    if (g.fresh) {
      rest = rest.replace(/^\n+/, "");
      g.fresh = rest === "";
    }
    if (rest !== "") {
      showOutput(rest);
    }
    sendPasted();
  }

  function connect() {
    const g = {
      socket: new WebSocket(address.href),
      decoder: new TextDecoder("utf-8"),
      opened: false,
      received: false,
      fresh: true, // the game's screen clear (a run of line ends) is still to come
      tail: "", // the last characters the game printed
      outputAt: 0,
      lastLine: "",
      lineSinceOutput: false,
    };
    game = g;
    g.socket.binaryType = "arraybuffer";
    g.socket.addEventListener("open", function () {
      g.opened = true;
      line.placeholder = "";
      say("");
    });
    g.socket.addEventListener("message", function (event) {
      fromGame(g, event.data);
    });
    g.socket.addEventListener("close", function () {
      fromGame(g);
      g.socket = null;
      ended(ending(g, Date.now()));
    });
  }

  function ended(kind) {
    pasted = [];
    showQueue();
    notice(endings[kind]);
    document.body.classList.add("ended");
    again.hidden = false;
    // The button takes the focus from the field, not from elsewhere.
    if (document.activeElement === line || document.activeElement === document.body) {
      again.focus();
    }
    line.disabled = true;
    line.placeholder = "";
  }

  function newGame() {
    if (game) {
      notice("New game", "status separator");
    }
    pasted = [];
    showQueue();
    document.body.classList.remove("ended");
    again.hidden = true;
    line.disabled = false;
    line.placeholder = "connecting...";
    line.focus();
    connect();
  }

  // --- The player's keys and buttons ---

  byId("input").addEventListener("submit", function (event) {
    event.preventDefault();
    if (!game.socket || game.socket.readyState !== WebSocket.OPEN) {
      say("The game is still starting: wait a moment.");
    } else if (line.value === "") {
      // An empty line would end the game, as at a terminal; here Enter on an
      // empty field is too easy a slip.
      say("Nothing was sent: an empty line would end the game. To end it, type quit.");
    } else {
      sendLine(line.value);
      line.value = "";
      draft = "";
      toNewest();
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
    toNewest();
    sendPasted();
  });
  byId("drop").addEventListener("click", function () {
    pasted = [];
    showQueue();
    line.focus();
  });

  // Up and Down walk through the lines sent before; Down past the newest
  // gives back the line that was being typed. While an input method
  // composes a word, the keys are its own.
  line.addEventListener("keydown", function (event) {
    if (event.key !== "ArrowUp" && event.key !== "ArrowDown" || event.altKey || event.ctrlKey || event.metaKey ||
        event.isComposing || event.keyCode === 229) {
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
      newGame();
    }
  });
  again.addEventListener("click", newGame);

  screen.addEventListener("scroll", function () {
    following = atNewest();
    if (following) {
      below.hidden = true;
    }
  });
  below.addEventListener("click", function () {
    toNewest();
    (line.disabled ? again : line).focus();
  });

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
    for (const node of log.children) {
      if (node.className === "out") {
        text += node.textContent;
      } else {
        text += (text.endsWith("\n") ? "" : "\n") + node.textContent + "\n";
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

  newGame();
})();
