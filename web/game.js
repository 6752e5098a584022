// One game's life on the page: a fresh instance of the module, as a new process would be, that
// opens on the page's terminal with its layout and its key codes, takes the keys the page hands
// it, writes to the terminal, and ends; then a new game is offered (ENTER or New game).
import {cursor, layOut, makeTerminal, screenRows, terminal} from './view.js';
import {clearTextView, focusTheGame, hideKeys, updateTextView} from './text_view.js';
import {heldKeys, sendKeysTo} from './keys.js';

const statusLine = document.getElementById('status');
const gameOver = document.getElementById('game-over');
const errorLine = document.getElementById('error');
const newGameButton = document.getElementById('new-game');
const viewSwitch = document.getElementById('view-switch');

const stateTexts = {
  loading: 'Loading the game…',
  running: '',
  ended: 'The game is over. ENTER or the button starts a new one.',
  error: 'The game stopped with an error.',
};

// The last figures of a kind, for the measuring script: a page played for hours keeps no more.
class RecentFigures extends Array {
  push(...figures) {
    super.push(...figures);
    if (this.length > 1000) this.splice(0, this.length - 1000);
    return this.length;
  }
}

// What tests and the measuring script read of the games. state: loading, running, ended or error.
export const games = {
  state: 'loading',
  error: '',
  exitStatus: null,
  started: 0,
  timings: {firstScreenMs: null, keyToScreenMs: new RecentFigures(), keyToFrameMs: new RecentFigures()},
  wasm: new URL(import.meta.resolve ? import.meta.resolve('./bootcamp.wasm') : 'bootcamp.wasm', document.baseURI).href,
  // The game waits for a key with nothing left to take, and the terminal shows all it was given.
  settled: () => writesInFlight === 0 && (game === null ? games.state !== 'loading' : game.waiting && game.news.length === 0),
};

let game = null;         // the game being played, if any
let compiled = null;     // the compiled wasm, shared by every game
let writesInFlight = 0;  // writes the terminal has not parsed yet
let keyAt = null;        // when the last key went down whose screen update is still to come
let enterWhileOver = false;

function setState(state) {
  games.state = state;
  statusLine.textContent = stateTexts[state];
  statusLine.hidden = !stateTexts[state];
  gameOver.hidden = state !== 'ended' && state !== 'error';
  if (state !== 'running') hideKeys();
  layOut();  // the lines around the screen changed
}

function writeToTerminal(bytes, layout) {
  writesInFlight += 1;
  const first = games.started === 1 && games.timings.firstScreenMs === null;
  terminal.write(bytes, () => {
    updateTextView(screenRows(), cursor().row - 1, layout);
    writesInFlight -= 1;
    const now = performance.now();
    if (first) games.timings.firstScreenMs = now;
    if (keyAt !== null) {
      const since = keyAt;
      keyAt = null;
      games.timings.keyToScreenMs.push(now - since);
      requestAnimationFrame(() => games.timings.keyToFrameMs.push(performance.now() - since));
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
    this.layout = null;
    this.codes = null;
    this.closed = false;
    this.waiting = false;
    this.wake = null;
  }

  // The terminal's columns and rows; the text view reads the Event's side left of panelColumn,
  // the panel above effectsRow, each condition's value out of gaugeMax (bit i of
  // gaugesEndingHigh: condition i ends the run at gaugeMax, else at 0). Then the game's key codes:
  // those of ENTER, Q and the digit 0 (the digits follow it), and the kinds of key news (a key
  // down, up, the focus lost), handed back as kind * kindScale + code.
  open(columns, rows, panelColumn, effectsRow, gaugeMax, gaugesEndingHigh, enter, q, digit0, keyDown, keyUp,
    focusLost, kindScale) {
    if (typeof Terminal !== 'function') return 1;
    const layout = {columns, rows, panelColumn, effectsRow, gaugeMax, gaugesEndingHigh};
    this.layout = layout;
    this.codes = {vk: {enter, q, digit0}, kinds: {keyDown, keyUp, focusLost}, kindScale};
    makeTerminal(layout.columns, layout.rows);
    // Keys held since before the game began are down at its first look, as on a keyboard.
    for (const key of heldKeys()) this.key('keyDown', key);
    setState('running');
    return 0;
  }

  columns() { return terminal.cols; }

  rows() { return terminal.rows; }

  output(byte) { this.pending.push(byte); }

  flush() {
    if (this.pending.length === 0 || !terminal || !this.layout) return;
    const bytes = Uint8Array.from(this.pending);
    this.pending = [];
    writeToTerminal(bytes, this.layout);
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

  // kind: keyDown, keyUp or focusLost; key: the page's name of a key (none for focusLost).
  key(kind, key) {
    if (!this.codes || this.closed) return;
    const {vk, kinds, kindScale} = this.codes;
    let code = 0;
    if (key === 'enter') code = vk.enter;
    else if (key === 'q') code = vk.q;
    else if (key !== undefined) code = vk.digit0 + Number(key);
    this.news.push(kinds[kind] * kindScale + code);
    if (this.wake) this.wake();
  }
}

// The wasm is compiled once; each game instantiates it afresh.
export function compileWasm() {
  if (!compiled) {
    const plain = () => fetch(games.wasm).then((response) => {
      if (!response.ok) throw new Error(`bootcamp.wasm: ${response.status} ${response.statusText}`);
      return response.arrayBuffer();
    }).then((bytes) => WebAssembly.compile(bytes));
    compiled = WebAssembly.compileStreaming
      ? WebAssembly.compileStreaming(fetch(games.wasm)).catch(plain)
      : plain();
    compiled.catch(() => { compiled = null; });  // a later game tries again
  }
  return compiled;
}

export function describe(problem) {
  if (problem && problem.message) return problem.message;
  return String(problem);
}

export function startGame() {
  if (game) return;
  const current = new Game();
  game = current;
  games.started += 1;
  games.error = '';
  games.exitStatus = null;
  errorLine.hidden = true;
  enterWhileOver = false;
  // New game hides: the focus it had goes to the game
  if (gameOver.contains(document.activeElement)) {
    if (document.body.dataset.view === 'text') focusTheGame();
    else viewSwitch.focus();
  }
  clearTextView();
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
  games.exitStatus = status;
  games.error = text;
  errorLine.textContent = text;
  errorLine.hidden = !text;
  setState(text ? 'error' : 'ended');
}

// The keys go to the game being played; with none, ENTER starts a new one (on its release, so
// that the new game does not find it held).
export function playTheKeys() {
  sendKeysTo({
    down(key, at) {
      if (game) {
        keyAt = at;
        game.key('keyDown', key);
      } else if (key === 'enter') {
        enterWhileOver = true;
      }
    },
    up(key) {
      if (game) {
        game.key('keyUp', key);
      } else if (key === 'enter' && enterWhileOver) {
        enterWhileOver = false;
        startGame();
      }
    },
    letGo(anyHeld) {
      enterWhileOver = false;
      if (anyHeld && game) game.key('focusLost');
    },
  });
  newGameButton.addEventListener('click', () => startGame());
}
