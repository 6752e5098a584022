// Which of the page's two views shows, and the terminal fitted to its room: the terminal is
// always exactly the game's layout, scaled, never resized; the view is the one the player chose
// (the same in every tab of the site), else the terminal where its text is legible and the text
// view elsewhere.

// The terminal view is chosen where the terminal's text would be at least this large.
const legibleTerminalPx = 12;
const terminalFontPx = 16;
const viewKey = 'bootcamp.view';  // the view the player chose, in localStorage

const pageBox = document.getElementById('page');
const topBar = document.getElementById('top');
const about = document.getElementById('about');
const screenBox = document.getElementById('screen-box');
const screen = document.getElementById('screen');
const textView = document.getElementById('text-view');
const viewSwitch = document.getElementById('view-switch');

export let terminal = null;

// The terminal's rows, each exactly as wide as the terminal.
export function screenRows() {
  if (!terminal) return [];
  const buffer = terminal.buffer.active;
  const rows = [];
  for (let y = 0; y < terminal.rows; y += 1) rows.push(buffer.getLine(buffer.viewportY + y).translateToString(false));
  return rows;
}

// The cursor, 1-based as in the escape sequences.
export function cursor() {
  return terminal ? {row: terminal.buffer.active.cursorY + 1, column: terminal.buffer.active.cursorX + 1} : null;
}

// The terminal is exactly the game's layout; it is scaled to the room there is, never resized,
// so the game never sees a terminal too small for it.
export function makeTerminal(columns, rows) {
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
  layOut();
  if (document.fonts) document.fonts.ready.then(() => layOut());
}

let pickedView = null;  // the player's choice, should the device's storage refuse it

export function chosenView() {
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
  return {width: pageBox.clientWidth, height};
}

function terminalScale() {
  const box = terminalBox();
  if (!box) return null;
  const room = roomForScreen();
  return Math.max(0.1, Math.min(room.width / box.width, room.height / box.height, 2));
}

export function terminalTextPx() {
  const scale = terminalScale();
  return scale === null ? null : terminalFontPx * scale;
}

export function shownView() { return document.body.dataset.view; }

// Shows the view chosen (or the page's own choice) and fits the terminal to its room.
export function layOut(view) {
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

// Lays the page out whenever its room changes, the switch is pressed, or another tab of the
// site chose a view.
export function followTheView() {
  new ResizeObserver(() => layOut()).observe(document.documentElement);
  window.addEventListener('resize', () => layOut());
  window.addEventListener('storage', (event) => {
    if (event.key === viewKey || event.key === null) layOut();
  });
  viewSwitch.addEventListener('click', () => choose(shownView() === 'text' ? 'terminal' : 'text'));
  layOut();
}
