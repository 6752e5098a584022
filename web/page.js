// The page around the game: its terminal, the keys by physical key, the touch keys, one game
// after another (each a fresh instance of the module, as a new process would be), and what tests
// and the measuring script read back (window.bootcamp).
'use strict';

(() => {
  const vkEnter = 13;
  const vkQ = 81;
  const vkDigit0 = 48;
  // The key news a game's backend reads (src/platform/backend_web.cpp): kind * 65536 + vk.
  const keyDown = 1;
  const keyUp = 2;
  const focusLost = 3;

  const pageBox = document.getElementById('page');
  const statusLine = document.getElementById('status');
  const screenBox = document.getElementById('screen-box');
  const screen = document.getElementById('screen');
  const touchKeys = document.getElementById('touch-keys');
  const gameOver = document.getElementById('game-over');
  const errorLine = document.getElementById('error');
  const newGameButton = document.getElementById('new-game');

  const stateTexts = {
    loading: 'Loading the game…',
    running: '',
    ended: 'The game is over. ENTER or the button starts a new one.',
    error: 'The game stopped with an error.',
  };

  let terminal = null;
  let game = null;         // the game being played, if any
  let compiled = null;     // the compiled wasm, shared by every game
  let writesInFlight = 0;  // writes the terminal has not parsed yet
  let keyAt = null;        // when the last key went down whose screen update is still to come
  let enterWhileOver = false;

  // What tests and the measuring script read. state: loading, running, ended or error.
  const page = {
    state: 'loading',
    error: '',
    exitStatus: null,
    games: 0,
    letGo: 0,  // times the page let go of every key (focus lost, page hidden)
    terminal: null,
    timings: {firstScreenMs: null, keyToScreenMs: [], keyToFrameMs: []},
    // The terminal's rows, each exactly as wide as the terminal.
    screenRows: () => {
      if (!terminal) return [];
      const buffer = terminal.buffer.active;
      const rows = [];
      for (let y = 0; y < terminal.rows; y += 1) rows.push(buffer.getLine(buffer.viewportY + y).translateToString(false));
      return rows;
    },
    // The cursor, 1-based as in the escape sequences.
    cursor: () => terminal ? {row: terminal.buffer.active.cursorY + 1, column: terminal.buffer.active.cursorX + 1} : null,
    // The game waits for a key with nothing left to take, and the terminal shows all it was given.
    settled: () => writesInFlight === 0 && (game === null ? page.state !== 'loading' : game.waiting && game.news.length === 0),
  };
  window.bootcamp = page;

  function setState(state) {
    page.state = state;
    statusLine.textContent = stateTexts[state];
    statusLine.hidden = !stateTexts[state];
    gameOver.hidden = state !== 'ended' && state !== 'error';
    fit();  // the lines around the screen changed
  }

  // The terminal is exactly the game's layout; it is scaled to the room there is, never resized,
  // so the game never sees a terminal too small for it.
  function makeTerminal(columns, rows) {
    if (terminal) {
      if (terminal.cols !== columns || terminal.rows !== rows) terminal.resize(columns, rows);
      fit();
      return;
    }
    terminal = new Terminal({
      cols: columns,
      rows,
      convertEol: true,  // the game writes "\n" and counts on the terminal driver's CR LF
      disableStdin: true,
      scrollback: 0,
      cursorBlink: false,
      cursorInactiveStyle: 'block',  // the cursor shows where the game left it, as in a terminal
      fontSize: 16,
      fontFamily: '"DejaVu Sans Mono", "Liberation Mono", Menlo, Consolas, monospace',
      theme: {background: '#000000', foreground: '#d8d8d8'},
    });
    terminal.open(screen);
    terminal.focus();  // the terminal shows its cursor only once it has had the focus
    page.terminal = terminal;
    fit();
    new ResizeObserver(fit).observe(pageBox);
    if (document.fonts) document.fonts.ready.then(fit);
  }

  // The page's inner size less everything else shown on it and the gaps between.
  function roomForScreen() {
    const style = getComputedStyle(pageBox);
    const gap = parseFloat(style.rowGap) || 0;
    let height = pageBox.clientHeight - parseFloat(style.paddingTop) - parseFloat(style.paddingBottom);
    const width = pageBox.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
    for (const child of pageBox.children) {
      if (child === screenBox || child.offsetParent === null) continue;  // the screen, or not shown
      height -= child.offsetHeight + gap;
    }
    return {width, height};
  }

  function fit() {
    if (!terminal || !terminal.element) return;
    const element = terminal.element;
    const cells = element.querySelector('.xterm-screen');
    if (!cells || !cells.offsetWidth || !cells.offsetHeight) return;
    // the terminal's own box hugs its cells, whatever room its parent has
    element.style.width = `${cells.offsetWidth}px`;
    element.style.height = `${cells.offsetHeight}px`;
    const width = element.offsetWidth;
    const height = element.offsetHeight;
    const room = roomForScreen();
    const scale = Math.max(0.1, Math.min(room.width / width, room.height / height, 2));
    element.style.transformOrigin = '0 0';
    element.style.transform = `scale(${scale})`;
    screen.style.width = `${width * scale}px`;
    screen.style.height = `${height * scale}px`;
  }

  function writeToTerminal(bytes) {
    writesInFlight += 1;
    const first = page.games === 1 && page.timings.firstScreenMs === null;
    terminal.write(bytes, () => {
      writesInFlight -= 1;
      const now = performance.now();
      if (first) page.timings.firstScreenMs = now;
      if (keyAt !== null) {
        const since = keyAt;
        keyAt = null;
        page.timings.keyToScreenMs.push(now - since);
        requestAnimationFrame(() => page.timings.keyToFrameMs.push(performance.now() - since));
      }
    });
  }

  // One game: what its backend calls (open ... close), where its stdout goes (output), and what
  // the page hands it (key).
  class Game {
    constructor() {
      this.pending = [];  // bytes for the terminal, in the order they were written
      this.errors = [];   // what the game wrote to stderr
      this.news = [];     // key news not yet read
      this.opened = false;
      this.closed = false;
      this.waiting = false;
      this.wake = null;
    }

    open(columns, rows) {
      if (typeof Terminal !== 'function') return 1;
      makeTerminal(columns, rows);
      this.opened = true;
      // Keys held since before the game began are down at its first look, as on a keyboard.
      for (const [vk, sources] of holders) {
        if (sources.size > 0) this.news.push(keyDown * 65536 + vk);
      }
      setState('running');
      return 0;
    }

    columns() { return terminal.cols; }

    rows() { return terminal.rows; }

    output(byte) { this.pending.push(byte); }

    flush() {
      if (this.pending.length === 0 || !terminal) return;
      const bytes = Uint8Array.from(this.pending);
      this.pending = [];
      writeToTerminal(bytes);
    }

    nextKey() { return this.news.length > 0 ? this.news.shift() : -1; }

    keysChanged(timeoutMs) {
      if (this.news.length > 0) return Promise.resolve();
      this.waiting = true;
      return new Promise((resolve) => {
        let timer = null;
        this.wake = () => {
          if (timer !== null) clearTimeout(timer);
          this.wake = null;
          this.waiting = false;
          resolve();
        };
        if (timeoutMs >= 0) timer = setTimeout(this.wake, timeoutMs);
      });
    }

    close() {
      this.flush();
      this.closed = true;
      this.news = [];
    }

    key(kind, vk) {
      if (!this.opened || this.closed) return;
      this.news.push(kind * 65536 + vk);
      if (this.wake) this.wake();
    }
  }

  // The wasm is compiled once; each game instantiates it afresh.
  function compileWasm() {
    if (!compiled) {
      const plain = () => fetch('bootcamp.wasm').then((response) => {
        if (!response.ok) throw new Error(`bootcamp.wasm: ${response.status} ${response.statusText}`);
        return response.arrayBuffer();
      }).then((bytes) => WebAssembly.compile(bytes));
      compiled = WebAssembly.compileStreaming
        ? WebAssembly.compileStreaming(fetch('bootcamp.wasm')).catch(plain)
        : plain();
      compiled.catch(() => { compiled = null; });  // a later game tries again
    }
    return compiled;
  }

  function describe(problem) {
    if (problem && problem.message) return problem.message;
    return String(problem);
  }

  function startGame() {
    if (game) return;
    const current = new Game();
    game = current;
    page.games += 1;
    page.error = '';
    page.exitStatus = null;
    errorLine.hidden = true;
    enterWhileOver = false;
    setState('loading');
    if (typeof createBootcamp !== 'function') {
      finish(current, null, 'the game\'s script (bootcamp.js) did not load');
      return;
    }
    createBootcamp({
      bootcampHost: current,
      stdout: (byte) => current.output(byte),
      stderr: (byte) => current.errors.push(byte),
      print: (text) => console.log(text),
      printErr: (text) => console.warn(text),
      instantiateWasm: (imports, receive) => {
        compileWasm()
          .then((module) => WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module)))
          .catch((problem) => finish(current, null, `the game could not be loaded: ${describe(problem)}`));
        return {};
      },
      onAbort: (what) => finish(current, null, `the game stopped: ${describe(what)}`),
    })
      .then((instance) => instance.ccall('main', 'number', ['number', 'number'], [0, 0], {async: true}))
      .then((status) => finish(current, status, ''),
        (problem) => {
          // an exit of its own (std::_Exit) ends the game with that status
          if (problem && problem.name === 'ExitStatus') finish(current, problem.status, '');
          else finish(current, null, describe(problem));
        });
  }

  // The game has ended, one way or another: what it said on stderr, or what went wrong, reaches
  // the page; then a new game is offered.
  function finish(current, status, problem) {
    if (current !== game) return;
    current.flush();
    current.closed = true;
    game = null;
    const said = new TextDecoder().decode(Uint8Array.from(current.errors)).trim();
    let text = [said, problem].filter(Boolean).join('\n');
    if (!text && status !== 0) text = `the game ended with status ${status}`;
    page.exitStatus = status;
    page.error = text;
    errorLine.textContent = text;
    errorLine.hidden = !text;
    setState(text ? 'error' : 'ended');
  }

  // --- Keys. What holds each key down: keys of the keyboard by their code, fingers or the mouse
  // on the touch keys. A key goes down for the game when the first holds it and up when the last
  // lets go.
  const holders = new Map();     // vk -> set of sources
  const keySources = new Map();  // keyboard source -> vk, for keys now down

  function hold(vk, source, at) {
    let sources = holders.get(vk);
    if (!sources) {
      sources = new Set();
      holders.set(vk, sources);
    }
    if (sources.has(source)) return;
    sources.add(source);
    if (sources.size > 1) return;
    if (game) {
      keyAt = at;
      game.key(keyDown, vk);
    } else if (vk === vkEnter) {
      enterWhileOver = true;
    }
  }

  function release(vk, source) {
    const sources = holders.get(vk);
    if (!sources || !sources.delete(source) || sources.size > 0) return;
    if (game) {
      game.key(keyUp, vk);
    } else if (vk === vkEnter && enterWhileOver) {
      enterWhileOver = false;
      startGame();  // on the release, so the new game does not find ENTER held
    }
  }

  // The focus gone, or the page hidden: no release will come for keys held now, so every key
  // counts as released.
  function letGoOfEverything() {
    page.letGo += 1;
    const anyHeld = [...holders.values()].some((sources) => sources.size > 0);
    holders.clear();
    keySources.clear();
    for (const fingers of fingersOn.values()) fingers.clear();
    for (const button of fingersOn.keys()) button.classList.remove('down');
    enterWhileOver = false;
    if (anyHeld && game) game.key(focusLost, 0);
  }

  // The game's key for a keyboard event, or null. Digits and Enter by the physical key (the
  // keypad's digits never count); Q by the letter it types, and by the key where Q sits when the
  // layout types no Latin letters there.
  function vkOf(event) {
    const digit = /^Digit([0-9])$/.exec(event.code);
    if (digit) return vkDigit0 + Number(digit[1]);
    if (event.code === 'Enter' || event.code === 'NumpadEnter') return vkEnter;
    if (event.key === 'q' || event.key === 'Q') return vkQ;
    if (event.code === 'KeyQ' && /^\p{L}$/u.test(event.key) && !/^\p{Script=Latin}$/u.test(event.key)) return vkQ;
    if (!event.code) {
      // on-screen keyboards that name no physical key
      if (event.key === 'Enter') return vkEnter;
      if (/^[0-9]$/.test(event.key)) return vkDigit0 + Number(event.key);
    }
    return null;
  }

  function keySource(event) { return `key ${event.code || event.key}`; }

  window.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.altKey || event.metaKey) return;  // the browser's: reload, close, zoom
    const source = keySource(event);
    if (keySources.has(source)) {  // auto-repeat is not a new press
      event.preventDefault();
      return;
    }
    const vk = vkOf(event);
    if (vk === null) return;
    event.preventDefault();
    if (event.repeat) return;  // held since before the page had the focus: not seen going down
    keySources.set(source, vk);
    hold(vk, source, event.timeStamp);
  }, true);

  window.addEventListener('keyup', (event) => {
    const source = keySource(event);
    const vk = keySources.get(source);
    if (vk === undefined) return;
    event.preventDefault();
    keySources.delete(source);
    release(vk, source);
  }, true);

  window.addEventListener('blur', (event) => {
    if (event.target === window) letGoOfEverything();
  });
  document.addEventListener('visibilitychange', () => {
    if (document.hidden) letGoOfEverything();
  });
  window.addEventListener('pagehide', letGoOfEverything);

  // --- The touch keys: each is down while a finger (or the mouse) holds it, up when it lifts or
  // the browser cancels the touch.
  const fingersOn = new Map();  // button -> pointer ids holding it
  if (new URLSearchParams(location.search).has('touch')) touchKeys.classList.add('shown');
  for (const button of touchKeys.querySelectorAll('button[data-vk]')) {
    const vk = Number(button.dataset.vk);
    const fingers = new Set();
    fingersOn.set(button, fingers);
    button.addEventListener('pointerdown', (event) => {
      if (event.pointerType === 'mouse' && event.button !== 0) return;
      event.preventDefault();  // no focus, no selection
      try {
        button.setPointerCapture(event.pointerId);  // a finger sliding off still holds the key
      } catch (ignored) {
        // the pointer is already gone: its up or cancel follows
      }
      fingers.add(event.pointerId);
      button.classList.add('down');
      hold(vk, `pointer ${event.pointerId}`, event.timeStamp);
    });
    const lift = (event) => {
      if (!fingers.delete(event.pointerId)) return;
      if (fingers.size === 0) button.classList.remove('down');
      release(vk, `pointer ${event.pointerId}`);
    };
    for (const type of ['pointerup', 'pointercancel', 'lostpointercapture']) button.addEventListener(type, lift);
    button.addEventListener('contextmenu', (event) => event.preventDefault());
  }

  newGameButton.addEventListener('click', () => startGame());

  compileWasm();
  startGame();
})();
