// The text view: what the terminal shows, read off its screen, as text that wraps to the page;
// each change of the screen said once to screen readers; the game's keys as buttons (the answers,
// ENTER saying what it does now, Q), the chosen answer marked where the game's cursor rests.
//
// The Event's side and the effects line are one polite live region, changed only where the
// screen changed: from the first row that changed on, every line is new (a new Event with its
// answers, an outcome with its effects line, an ending, the intro). Those lines go in as one
// paragraph, in one insertion: a screen reader says it once, whole and in reading order (several
// nodes at once are said in any order, or some not at all). A wipe removes lines and says
// nothing; the lines above the change stay and are not said again. The game's keys and the
// gauges are outside it, to be read on request.
import {showGauges} from './gauges.js';

const textView = document.getElementById('text-view');
const story = document.getElementById('story');
const gameKeys = document.getElementById('game-keys');

let shownRows = [];   // the Event's side as the text view shows it, row by row
let shownEffects = '';
let lastScreen = 'none';  // what the last screen was: none, intro, turn or ending

// The screen as the text view's parts: the Event's side row by row, the effects line, the
// panel's title and its gauges (each the text line of a condition and the value it reads).
function readScreen(rows, layout) {
  const {panelColumn, effectsRow} = layout;
  const storyRows = rows.map((row) => row.slice(0, panelColumn).trimEnd());
  const effects = (rows[effectsRow] || '').slice(panelColumn).trim();
  let title = '';
  const gauges = [];
  for (const row of rows.slice(0, effectsRow)) {
    const text = row.slice(panelColumn).trim();
    const gauge = /^\S.*:\s+(-?\d+)$/.exec(text);  // a condition's name and its value
    if (gauge) gauges.push({text, value: Number(gauge[1])});
    else if (text && !/^\[.*\]$/.test(text) && !title) title = text;  // a bar shows as its meter
  }
  return {story: storyRows, effects, title, gauges};
}

// An answer's row: its digit, a parenthesis, its label.
function answerOf(text) {
  const found = /^([0-9])\)/.exec(text);
  return found ? found[1] : null;
}

// A line of the screen, after what parts it from the line before (a blank row between two
// lines stays one blank line).
function line(text, row, parting, className) {
  const span = document.createElement('span');
  span.dataset.row = String(row);
  if (className) span.className = className;
  span.textContent = parting + text;
  return span;
}

// The effects line, each condition's change kept whole (a line wraps between them, never inside).
function effectsLine(text) {
  const span = document.createElement('span');
  span.className = 'effects';
  const changes = text.match(/\S.*?\s[+-]?\d+(?=\s|$)/g) || [text];
  changes.forEach((change, i) => {
    if (i > 0) span.append(' ');
    const each = document.createElement('span');
    each.className = 'effect';
    each.textContent = change.trim();
    span.append(each);
  });
  return span;
}

// The rows from `first` on, and the effects line, as one paragraph: a line a span. The answers
// are there for screen readers, out of sight (they show as buttons), each after a blank that no
// browser drops (a line break would show as an empty line, and one inside them Firefox does not
// tell).
function paragraph(rows, first, effects, answering) {
  const block = document.createElement('p');
  block.dataset.first = String(first);
  let lines = 0;
  rows.forEach((text, row) => {
    if (row < first || !text) return;
    const answer = answering && answerOf(text) !== null;
    let parting = lines === 0 ? '' : (!rows[row - 1] ? '\n\n' : '\n');
    if (answer && lines > 0) {
      block.append('\u00a0');
      parting = '';
    }
    block.append(line(text, row, parting, answer ? 'answer' : ''));
    lines += 1;
  });
  if (effects) {
    if (lines > 0) block.append('\n');
    block.append(effectsLine(effects));
  }
  return block;
}

function showStory(rows, effects, answering) {
  let first = rows.findIndex((text, row) => text !== (shownRows[row] || ''));
  if (first < 0 && effects === shownEffects) return false;
  if (first < 0) first = rows.length;  // the effects line alone
  // a paragraph that the change reaches into goes whole, and comes back with the change
  for (const block of [...story.children]) {
    const rowsOf = [...block.querySelectorAll('[data-row]')].map((span) => Number(span.dataset.row));
    const last = rowsOf.length ? Math.max(...rowsOf) : Number(block.dataset.first);
    if (last >= first || block.querySelector('.effects')) {
      first = Math.min(first, Number(block.dataset.first));
      block.remove();
    }
  }
  if (rows.slice(first).some(Boolean) || effects) story.append(paragraph(rows, first, effects, answering));
  shownRows = rows;
  shownEffects = effects;
  return true;
}

function keyButton(key) { return gameKeys.querySelector(`button[data-key="${key}"]`); }

// What ENTER does on each screen.
const enterDoes = {intro: 'ENTER: start', outcome: 'ENTER: go on', ending: 'ENTER: play again'};

// The game's keys for the screen shown: the answers while they can be chosen (and, once one is,
// with the chosen one marked: the row the game's cursor rests on), ENTER where it does
// something, Q on the end screen. A key that hides with the focus on it hands the focus to the
// first key shown; an answer that can no longer be chosen keeps it (ENTER there is the game's).
function showKeys(screen, answers, chosenRow) {
  const focused = gameKeys.contains(document.activeElement) ? document.activeElement : null;
  const answered = screen === 'outcome';
  for (const button of gameKeys.querySelectorAll('button[data-key]')) {
    const {key} = button.dataset;
    let label = null;
    if (/^[0-9]$/.test(key)) label = answers.has(key) ? answers.get(key).text : null;
    else if (key === 'enter') label = enterDoes[screen] || null;
    else if (key === 'q') label = screen === 'ending' ? 'Q: quit' : null;
    button.hidden = label === null;
    if (label === null) continue;
    if (button.textContent !== label) button.textContent = label;
    const chosen = answered && /^[0-9]$/.test(key) && answers.get(key).row === chosenRow;
    if (chosen) button.setAttribute('aria-current', 'true');
    else button.removeAttribute('aria-current');
    if (answered && /^[0-9]$/.test(key)) button.setAttribute('aria-disabled', 'true');
    else button.removeAttribute('aria-disabled');
  }
  if (focused && focused.hidden) {
    const next = gameKeys.querySelector('button[data-key]:not([hidden])');
    if (next) next.focus();
  }
}

// Which screen the game shows: a turn (the panel is there) waiting for an answer or showing its
// outcome, else the intro or, right after a turn, an ending.
function screenOf(read) {
  if (read.gauges.length > 0) return read.effects ? 'outcome' : 'answering';
  if (!read.story.some(Boolean)) return 'blank';
  return lastScreen === 'turn' ? 'ending' : 'intro';
}

let shownScreen = 'blank';

// The text view drawn again from the terminal's rows and cursor (0-based row) as the game's
// layout reads them.
export function updateTextView(rows, cursorRow, layout) {
  const read = readScreen(rows, layout);
  const answers = new Map();
  if (read.gauges.length > 0) {
    read.story.forEach((text, row) => {
      const key = answerOf(text);
      if (key !== null) answers.set(key, {text, row});
    });
  }
  const changed = showStory(read.story, read.effects, answers.size > 0);
  if (changed) {
    shownScreen = screenOf(read);
    if (shownScreen === 'answering' || shownScreen === 'outcome') lastScreen = 'turn';
    else if (shownScreen !== 'blank') lastScreen = shownScreen;
  }
  showKeys(shownScreen, answers, cursorRow);
  showGauges(read.title, read.gauges, layout);
}

// The game is over: no keys of its to press.
export function hideKeys() {
  showKeys('blank', new Map(), -1);
}

// A new game starts with the text view empty.
export function clearTextView() {
  story.replaceChildren();
  shownRows = [];
  shownEffects = '';
  lastScreen = 'none';
  shownScreen = 'blank';
}

// Where the focus goes when the control that had it goes away: the game in the text view.
export function focusTheGame() {
  textView.focus();
}
