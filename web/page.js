// The page around the game, put together from its parts (each a module of one job: the view,
// the text view, the gauges, one game's life, the keys, the offline copy), and what tests and
// the measuring script read back (window.bootcamp).
import {chosenView, cursor, followTheView, screenRows, shownView, terminal, terminalTextPx} from './view.js';
import {compileWasm, describe, games, playTheKeys, startGame} from './game.js';
import {keyCounts, listenForKeys} from './keys.js';
import {keepForOffline, offline} from './offline.js';

const touchKeys = document.getElementById('touch-keys');

window.bootcamp = {
  get state() { return games.state; },
  get error() { return games.error; },
  get exitStatus() { return games.exitStatus; },
  get games() { return games.started; },
  get letGo() { return keyCounts.letGo; },  // times the page let go of every key
  get terminal() { return terminal; },
  get offline() { return offline.kept; },
  timings: games.timings,
  wasm: games.wasm,  // where the game's wasm comes from
  // The terminal's rows, each exactly as wide as the terminal, and its cursor (1-based).
  screenRows,
  cursor,
  settled: games.settled,
  // Which view shows, which one the player chose (null: the page's own choice), and the size
  // in CSS px the terminal's text has (or would have) in the terminal view.
  view: () => ({shown: shownView(), chosen: chosenView(), terminalTextPx: terminalTextPx()}),
};

if (new URLSearchParams(location.search).has('touch')) touchKeys.classList.add('shown');
followTheView();
listenForKeys(touchKeys);
playTheKeys();
keepForOffline(describe);
compileWasm();
startGame();
