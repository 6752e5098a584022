// The page around the game: its terminal and the text view read off it, which of the two shows,
// what is said to screen readers, the keys by physical key, the touch keys, one game after
// another (each a fresh instance of the module, as a new process would be), and what tests and
// the measuring script read back (window.bootcamp).
'use strict';

(() => {
  const vkEnter = 13;
  const vkQ = 81;
  const vkDigit0 = 48;
  // The key news a game's backend reads (src/platform/backend_web.cpp): kind * 65536 + vk.
  const keyDown = 1;
  const keyUp = 2;
  const focusLost = 3;

  // The terminal view is chosen where the terminal's text would be at least this large.
  const legibleTerminalPx = 12;
  const terminalFontPx = 16;
  const viewKey = 'bootcamp.view';   // the view the player chose, in localStorage

  const pageBox = document.getElementById('page');
  const topBar = document.getElementById('top');
  const about = document.getElementById('about');
  const statusLine = document.getElementById('status');
  const screenBox = document.getElementById('screen-box');
  const screen = document.getElementById('screen');
  const textView = document.getElementById('text-view');
  const story = document.getElementById('story');
  const gauges = document.getElementById('gauges');
  const gaugesTitle = document.getElementById('gauges-title');
  const gaugeList = document.getElementById('gauge-list');
  const viewSwitch = document.getElementById('view-switch');
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
  let screenLayout = null;  // where the game puts what, as its backend tells when it opens
  let game = null;         // the game being played, if any
  let compiled = null;     // the compiled wasm, shared by every game
  let writesInFlight = 0;  // writes the terminal has not parsed yet
  let keyAt = null;        // when the last key went down whose screen update is still to come
  let enterWhileOver = false;

  // The last figures of a kind, for the measuring script: a page played for hours keeps no more.
  class RecentFigures extends Array {
    push(...figures) {
      super.push(...figures);
      if (this.length > 1000) this.splice(0, this.length - 1000);
      return this.length;
    }
  }

  // What tests and the measuring script read. state: loading, running, ended or error.
  const page = {
    state: 'loading',
    error: '',
    exitStatus: null,
    games: 0,
    letGo: 0,  // times the page let go of every key (left, come back to, Meta up)
    terminal: null,
    timings: {firstScreenMs: null, keyToScreenMs: new RecentFigures(), keyToFrameMs: new RecentFigures()},
    offline: false,  // the site is kept for playing without the network (its service worker is active)
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
    // Which view shows, which one the player chose (null: the page's own choice), and the size
    // in CSS px the terminal's text has (or would have) in the terminal view.
    view: () => ({shown: document.body.dataset.view, chosen: chosenView(), terminalTextPx: terminalTextPx()}),
  };
  window.bootcamp = page;

  function setState(state) {
    page.state = state;
    statusLine.textContent = stateTexts[state];
    statusLine.hidden = !stateTexts[state];
    gameOver.hidden = state !== 'ended' && state !== 'error';
    layOut();  // the lines around the screen changed
  }

  // The terminal is exactly the game's layout; it is scaled to the room there is, never resized,
  // so the game never sees a terminal too small for it.
  function makeTerminal(columns, rows) {
    if (terminal) {
      if (terminal.cols !== columns || terminal.rows !== rows) terminal.resize(columns, rows);
      layOut();
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
      fontSize: terminalFontPx,
      fontFamily: '"DejaVu Sans Mono", "Liberation Mono", Menlo, Consolas, monospace',
      theme: {background: '#000000', foreground: '#d8d8d8'},
    });
    // The page's key listeners take the game's keys; the terminal takes none, so Tab moves on.
    terminal.attachCustomKeyEventHandler(() => false);
    terminal.open(screen);
    // xterm.js shows the cursor once the terminal has had the focus or changed screens. It never
    // has the focus here, so it goes to the other screen and back before the game writes a byte.
    terminal.write('\x1b[?1047h\x1b[?1047l');
    page.terminal = terminal;
    layOut();
    if (document.fonts) document.fonts.ready.then(() => layOut());
  }

  // --- Which view shows: the one the player chose, else the terminal where its text is
  // legible and the text view elsewhere.

  let pickedView = null;  // the player's choice, should the device's storage refuse it

  function chosenView() {
    try {
      const view = localStorage.getItem(viewKey);
      return view === 'text' || view === 'terminal' ? view : null;
    } catch (ignored) {
      return pickedView;  // storage refused: the choice holds until the page is left
    }
  }

  function choose(view) {
    // a choice the page would make itself is no choice to remember
    pickedView = view === ownChoice() ? null : view;
    try {
      if (pickedView) localStorage.setItem(viewKey, pickedView);
      else localStorage.removeItem(viewKey);
    } catch (ignored) {
      // storage refused: pickedView holds the choice
    }
    layOut(view);
  }

  function ownChoice() {
    const size = terminalTextPx();
    return size !== null && size >= legibleTerminalPx ? 'terminal' : 'text';
  }

  // The terminal's size unscaled, with its padding; null until it has been laid out.
  function terminalBox() {
    if (!terminal || !terminal.element) return null;
    const element = terminal.element;
    const cells = element.querySelector('.xterm-screen');
    if (!cells || !cells.offsetWidth || !cells.offsetHeight) return null;
    // the terminal's own box hugs its cells, whatever room its parent has
    element.style.width = `${cells.offsetWidth}px`;
    element.style.height = `${cells.offsetHeight}px`;
    return {width: element.offsetWidth, height: element.offsetHeight};
  }

  // The room the terminal view leaves the terminal: the window less everything else it shows
  // and the gaps between. The same in either view, so the choice does not depend on itself.
  function roomForScreen() {
    const bodyStyle = getComputedStyle(document.body);
    const pageStyle = getComputedStyle(pageBox);
    const others = [...pageBox.children].filter((child) =>
      child !== screenBox && child !== textView && child.offsetParent !== null);
    let height = document.documentElement.clientHeight
      - parseFloat(bodyStyle.paddingTop) - parseFloat(bodyStyle.paddingBottom)
      - topBar.offsetHeight - about.offsetHeight - 2 * (parseFloat(bodyStyle.rowGap) || 0);
    for (const child of others) height -= child.offsetHeight + (parseFloat(pageStyle.rowGap) || 0);
    const width = pageBox.clientWidth;
    return {width, height};
  }

  function terminalScale() {
    const box = terminalBox();
    if (!box) return null;
    const room = roomForScreen();
    return Math.max(0.1, Math.min(room.width / box.width, room.height / box.height, 2));
  }

  function terminalTextPx() {
    const scale = terminalScale();
    return scale === null ? null : terminalFontPx * scale;
  }

  // Shows the view chosen (or the page's own choice) and fits the terminal to its room.
  function layOut(view) {
    const shown = view || chosenView() || ownChoice();
    if (document.body.dataset.view !== shown) document.body.dataset.view = shown;
    viewSwitch.setAttribute('aria-pressed', String(shown === 'text'));
    const scale = terminalScale();
    if (scale === null) return;
    const element = terminal.element;
    element.style.transformOrigin = '0 0';
    element.style.transform = `scale(${scale})`;
    screen.style.width = `${element.offsetWidth * scale}px`;
    screen.style.height = `${element.offsetHeight * scale}px`;
  }

  new ResizeObserver(() => layOut()).observe(document.documentElement);
  window.addEventListener('resize', () => layOut());
  viewSwitch.addEventListener('click', () => choose(document.body.dataset.view === 'text' ? 'terminal' : 'text'));

  // --- The text view: what the terminal shows, read off its screen. The game tells where its
  // Event's side ends and its panel begins (screenLayout); the texts are the screen's own.
  //
  // The Event's side and the effects line are one polite live region, changed only where the
  // screen changed: from the first row that changed on, every line is new (a new Event with its
  // answers, an outcome, an ending, the intro), and so is a new effects line. A screen reader
  // says what is added, once; a wipe removes lines and says nothing; the unchanged lines above
  // stay as they are and are not said again. The gauges are outside it, to be read on request.

  let shownRows = [];   // the Event's side as the text view shows it, row by row
  let shownEffects = '';

  // The screen as the text view's parts: the Event's side row by row, the effects line, the
  // panel's title and its gauges (each the text line of a condition and the value it reads).
  function readScreen() {
    const rows = page.screenRows();
    const {panelColumn, effectsRow} = screenLayout;
    const storyRows = rows.map((row) => row.slice(0, panelColumn).trimEnd());
    const effects = (rows[effectsRow] || '').slice(panelColumn).trim();
    let title = '';
    const found = [];
    for (const row of rows.slice(0, effectsRow)) {
      const text = row.slice(panelColumn).trim();
      const gauge = /^\S.*:\s+(-?\d+)$/.exec(text);  // a condition's name and its value
      if (gauge) found.push({text, value: Number(gauge[1])});
      else if (text && !/^\[.*\]$/.test(text) && !title) title = text;  // a bar shows as its meter
    }
    return {story: storyRows, effects, title, gauges: found};
  }

  function showStory(rows, effects) {
    const first = rows.findIndex((text, row) => text !== (shownRows[row] || ''));
    let effectsShown = document.getElementById('effects');
    if (first >= 0) {
      for (const line of [...story.querySelectorAll('p[data-row]')]) {
        if (Number(line.dataset.row) >= first) line.remove();
      }
      rows.forEach((text, row) => {
        if (row < first || !text) return;
        const line = document.createElement('p');
        line.dataset.row = String(row);
        // a blank row above, under other text, parts the text as it does on the screen
        if (row > 0 && !rows[row - 1] && rows.slice(0, row).some(Boolean)) line.className = 'parted';
        line.textContent = text;
        story.insertBefore(line, effectsShown);
      });
    }
    if (effects !== shownEffects) {
      if (effectsShown) effectsShown.remove();
      if (effects) {
        effectsShown = document.createElement('p');
        effectsShown.id = 'effects';
        effectsShown.textContent = effects;
        story.append(effectsShown);
      }
    }
    shownRows = rows;
    shownEffects = effects;
  }

  function showGauges(title, found) {
    gauges.hidden = found.length === 0;
    gaugesTitle.textContent = title;
    while (gaugeList.children.length > found.length) gaugeList.lastChild.remove();
    found.forEach((gauge, i) => {
      let item = gaugeList.children[i];
      if (!item) {
        item = document.createElement('li');
        const label = document.createElement('label');
        const meter = document.createElement('meter');
        meter.id = label.htmlFor = `gauge-${i}`;
        meter.min = 0;
        item.append(label, meter);
        gaugeList.append(item);
      }
      const [label, meter] = item.children;
      if (label.textContent !== gauge.text) label.textContent = gauge.text;
      meter.max = screenLayout.gaugeMax;
      meter.value = gauge.value;
      meter.textContent = String(gauge.value);
    });
  }

  function updateTextView() {
    if (!screenLayout) return;
    const now = readScreen();
    showStory(now.story, now.effects);
    showGauges(now.title, now.gauges);
  }

  function writeToTerminal(bytes) {
    writesInFlight += 1;
    const first = page.games === 1 && page.timings.firstScreenMs === null;
    terminal.write(bytes, () => {
      updateTextView();
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

    // The text view reads the Event's side left of panelColumn, the panel above effectsRow and
    // each condition's value out of gaugeMax.
    open(columns, rows, panelColumn, effectsRow, gaugeMax) {
      if (typeof Terminal !== 'function') return 1;
      screenLayout = {panelColumn, effectsRow, gaugeMax};
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

  // A key of an input method's composition is no key of the game's, nor is the Enter that ends
  // one (WebKit sends it after the composition has ended, with keyCode 229).
  function composing(event) { return event.isComposing || event.keyCode === 229; }

  function metaKey(event) { return event.key === 'Meta' || /^(Meta|OS)(Left|Right)$/.test(event.code); }

  window.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.altKey || event.metaKey) return;  // the browser's: reload, close, zoom
    if (composing(event)) return;  // the input method's
    const source = keySource(event);
    if (keySources.has(source)) {
      if (event.repeat) {  // auto-repeat is not a new press
        event.preventDefault();
        return;
      }
      // Down again without having come up: its keyup was lost (macOS sends none for a key
      // released while Cmd is held). It was released, and is pressed again now.
      const held = keySources.get(source);
      keySources.delete(source);
      release(held, source);
    }
    const vk = vkOf(event);
    if (vk === null) return;
    event.preventDefault();
    if (event.repeat) return;  // held since before the page had the focus: not seen going down
    keySources.set(source, vk);
    hold(vk, source, event.timeStamp);
  }, true);

  window.addEventListener('keyup', (event) => {
    if (metaKey(event)) {  // keys released while Meta was down may have sent no keyup
      letGoOfEverything();
      return;
    }
    const source = keySource(event);
    const vk = keySources.get(source);
    if (vk === undefined) return;
    event.preventDefault();
    keySources.delete(source);
    release(vk, source);
  }, true);

  // Leaving the page and coming back both let go: a browser may tell only one of them (Chromium,
  // when the page's own window.open puts a tab in front, tells only the return).
  window.addEventListener('blur', (event) => {
    if (event.target === window) letGoOfEverything();
  });
  window.addEventListener('focus', (event) => {
    if (event.target === window) letGoOfEverything();
  });
  document.addEventListener('visibilitychange', letGoOfEverything);
  window.addEventListener('pagehide', letGoOfEverything);
  window.addEventListener('pageshow', (event) => {
    if (event.persisted) letGoOfEverything();  // back from the browser's page cache
  });

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

  // The site kept whole for playing offline, one version at a time (sw.js). Not from file://,
  // where there are no service workers.
  function keepForOffline() {
    if (!('serviceWorker' in navigator) || !/^https?:$/.test(location.protocol)) return;
    navigator.serviceWorker.register('sw.js').catch((problem) => console.warn(`not kept for offline play: ${describe(problem)}`));
    navigator.serviceWorker.ready.then(() => { page.offline = true; });
  }
  keepForOffline();

  compileWasm();
  startGame();
})();
