"use strict";
// The game runs on the server, in a process of its own that outlives any one
// WebSocket: the page talks to it in the frames of docs/web-protocol.md, so
// that a connection that drops (a phone switching apps, a reload, the
// server's web service restarting) costs nothing: the page reconnects and
// the game goes on where it was. What the game prints is shown as it comes;
// each line sent is shown after the game's prompt. Everything is inserted as
// text, never as HTML.
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
  address.search = "";

  // How a game ended, as its server says (the end frame's word), or why the
  // page has none.
  const endings = {
    ended: "The game has ended. New game (or Enter) starts another.",
    stopped: "The game stopped unexpectedly on the server. New game (or Enter) starts another.",
    full: "No game could be started: the server is full. New game (or Enter) tries again.",
    expired: "This game cannot be resumed: it waited too long for you, or the server was restarted. New game " +
      "(or Enter) starts another.",
    elsewhere: "This game goes on in another window. New game (or Enter) starts another one here.",
    unstarted: "No game could be started: the server cannot be reached. New game (or Enter) tries again.",
    lost: "The connection to the game was lost, and this server does not keep games. New game (or Enter) starts " +
      "another.",
    gone: "The connection to the game was lost and could not be restored in time. New game (or Enter) starts " +
      "another.",
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

  // A line goes to the game at once if it can, and in any case waits in the
  // game's list of unreceived lines until the server says it has it: a line
  // sent just before a connection dropped goes again on the next one only
  // if it did not arrive.
  function sendLine(text) {
    const bytes = encoder.encode(text + "\n");
    game.sent += bytes.length;
    game.shownInput = game.sent;
    game.unreceived.push({bytes: bytes, end: game.sent});
    if (game.greeted) {
      game.socket.send(bytes);
      watchReceipt(game);
    }
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
    if (pasted.length > 0 && game.greeted && game.tail.endsWith("\n" + PROMPT)) {
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

  const TOKEN = "weekend.token"; // the game's token in sessionStorage: per tab, kept across a reload
  const stallSeen = 3000; // ms without the server's receipt for a line before the page says so
  const stallGiveUp = 10000; // and before it tries a new connection

  // The game's output, as text: shown, and the pasted lines sent at its prompt.
  function fromGame(g, text) {
    if (text === "") {
      return;
    }
    g.tail = (g.tail + text).slice(-PROMPT.length - 1);
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

  // A game, new or (with a token) one to resume, and its first connection.
  function start(token) {
    game = {
      token: token, // null until the server names the game
      seen: 0, // the game's output bytes shown so far
      sent: 0, // the input bytes sent in all
      shownInput: 0, // the input bytes shown on the screen as typed lines
      unreceived: [], // lines sent that the server has not confirmed: bytes, and the count after them
      // Seconds the server keeps the game for its player; until it says, a
      // page that comes back with a token tries for a minute.
      hold: token ? 60 : 0,
      decoder: new TextDecoder("utf-8"), // a character cut between frames or connections waits for the rest
      fresh: true, // the game's screen clear (a run of line ends) is still to come
      tail: "", // the last characters the game printed
      socket: null,
      greeted: false, // this connection's hello came
      connected: false, // some connection ever had its hello
      over: false,
      leaving: false, // the page closed the connection itself, to be kept by the browser
      lostAt: 0,
      tries: 0,
      retry: 0,
      stall: 0,
    };
    connect(game);
  }

  function connect(g) {
    clearTimeout(g.retry);
    g.retry = 0;
    const socket = new WebSocket(address.href);
    socket.binaryType = "arraybuffer";
    g.socket = socket;
    g.greeted = false;
    g.frames = new Uint8Array(0);
    socket.addEventListener("open", function () {
      socket.send(encoder.encode(g.token ? "weekend/1 resume " + g.token + " " + g.seen + "\n" : "weekend/1 new\n"));
    });
    socket.addEventListener("message", function (event) {
      if (g.socket === socket) {
        received(g, new Uint8Array(event.data));
      }
    });
    socket.addEventListener("close", function () {
      if (g.socket === socket) {
        closed(g);
      }
    });
  }

  // Frames: a type letter, the payload's length in 4 bytes, the payload. A
  // frame cut across messages waits for its end.
  function received(g, bytes) {
    let frames = bytes;
    if (g.frames.length > 0) {
      frames = new Uint8Array(g.frames.length + bytes.length);
      frames.set(g.frames);
      frames.set(bytes, g.frames.length);
    }
    let at = 0;
    while (frames.length - at >= 5 && g.socket) {
      const size = frames[at + 1] * 16777216 + frames[at + 2] * 65536 + frames[at + 3] * 256 + frames[at + 4];
      if (frames.length - at - 5 < size) {
        break;
      }
      frame(g, String.fromCharCode(frames[at]), frames.subarray(at + 5, at + 5 + size));
      at += 5 + size;
    }
    g.frames = frames.slice(at);
  }

  function frame(g, kind, payload) {
    if (kind === "O") {
      g.seen += payload.length;
      fromGame(g, g.decoder.decode(payload, {stream: true}));
    } else if (kind === "I") {
      // A line the player typed, sent again with the output around it: shown
      // unless this page showed it when it was sent (after a reload, or in
      // another tab, it did not).
      const text = new TextDecoder().decode(payload);
      const input = Number(text.slice(0, text.indexOf(" ")));
      if (input > g.shownInput) {
        g.shownInput = input;
        g.tail = "";
        showTyped(text.slice(text.indexOf(" ") + 1));
      }
    } else if (kind === "A") {
      receipt(g, Number(new TextDecoder().decode(payload)));
    } else if (kind === "H") {
      hello(g, JSON.parse(new TextDecoder().decode(payload)));
    } else if (kind === "E") {
      g.socket.close();
      over(g, new TextDecoder().decode(payload));
    }
  }

  // The game is there: kept under its token, it goes on from what the page
  // has shown, and gets again whatever the server had not received.
  function hello(g, said) {
    g.token = said.token;
    sessionStorage.setItem(TOKEN, g.token);
    if (said.output > g.seen) {
      notice(g.seen === 0 ? "The game goes on; its earlier text is no longer kept." :
        "Some of the game's text was lost on the way; it goes on below.");
    }
    if (said.output > 0) {
      g.fresh = false;
    }
    g.seen = said.output;
    g.hold = said.hold;
    g.greeted = true;
    g.connected = true;
    g.lostAt = 0;
    g.tries = 0;
    if (g.unreceived.length === 0) {
      g.sent = said.input;
    }
    receipt(g, said.input);
    for (const waiting of g.unreceived) {
      const start = waiting.end - waiting.bytes.length;
      g.socket.send(said.input > start ? waiting.bytes.subarray(said.input - start) : waiting.bytes);
    }
    watchReceipt(g);
    line.placeholder = "";
    say("");
    sendPasted();
  }

  // The server has received count bytes of input in all.
  function receipt(g, count) {
    while (g.unreceived.length > 0 && g.unreceived[0].end <= count) {
      g.unreceived.shift();
    }
    if (g.unreceived.length === 0 && g.stall) {
      clearTimeout(g.stall);
      g.stall = 0;
      say("");
    }
  }

  // A line that gets no receipt (a link that went silent: answers stop, and
  // nothing closes) is said to wait, and then tried again on a new connection.
  function watchReceipt(g) {
    if (g.stall || g.unreceived.length === 0) {
      return;
    }
    g.stall = setTimeout(function () {
      say("No answer from the server yet...");
      g.stall = setTimeout(function () {
        g.stall = 0;
        if (g.socket && g.unreceived.length > 0) {
          g.socket.close();
          closed(g);
        }
      }, stallGiveUp - stallSeen);
    }, stallSeen);
  }

  // A connection closed without an end frame: the game waits on the server
  // for its player, and the page comes back to it, at once and then with a
  // growing pause, and again as soon as the page is seen or the browser is
  // online.
  function closed(g) {
    g.socket = null;
    g.greeted = false;
    clearTimeout(g.stall);
    g.stall = 0;
    if (g.over || g.leaving) {
      return;
    }
    if (!g.connected && !g.token) {
      over(g, "unstarted");
      return;
    }
    if (g.hold === 0) {
      over(g, "lost");
      return;
    }
    const now = Date.now();
    g.lostAt = g.lostAt || now;
    if (now - g.lostAt > g.hold * 1000) {
      over(g, "gone");
      return;
    }
    say("The connection was lost: reconnecting...");
    g.retry = setTimeout(function () {
      connect(g);
    }, Math.min(15000, 250 * Math.pow(2, g.tries++)));
  }

  function reconnectNow() {
    if (game && !game.over && !game.socket && (game.connected || game.token)) {
      game.leaving = false;
      connect(game);
    }
  }
  document.addEventListener("visibilitychange", function () {
    if (document.visibilityState === "visible") {
      reconnectNow();
    }
  });
  window.addEventListener("online", reconnectNow);

  // Leaving the page closes its connection, so that the browser may keep the
  // page for Back and Forward; the game waits on the server, and the page
  // that comes back, or the tab restored, resumes it.
  window.addEventListener("pagehide", function () {
    if (game && game.socket) {
      game.leaving = true;
      game.socket.close();
      game.socket = null;
    }
  });
  window.addEventListener("pageshow", function (event) {
    if (event.persisted) {
      reconnectNow();
    }
  });

  function over(g, kind) {
    g.over = true;
    g.socket = null;
    clearTimeout(g.retry);
    fromGame(g, g.decoder.decode());
    if (kind !== "full" && kind !== "unstarted") {
      sessionStorage.removeItem(TOKEN);
    }
    ended(endings[kind] ? kind : "stopped");
  }

  function ended(kind) {
    pasted = [];
    showQueue();
    say("");
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

  function newGame(token) {
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
    start(typeof token === "string" ? token : null);
  }

  // --- The player's keys and buttons ---

  byId("input").addEventListener("submit", function (event) {
    event.preventDefault();
    if (!game.connected) {
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
    if (lines.length < 2 || game.over) {
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
    if (event.key === "Enter" && game.over && event.target.tagName !== "BUTTON") {
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

  // A reload, or a tab restored, comes back to the tab's game.
  newGame(sessionStorage.getItem(TOKEN));
})();
