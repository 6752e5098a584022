// The game's keys as the page gets them: from the keyboard by physical key, from the touch keys
// held by fingers or the mouse, from a click on any of the game's keys (a screen reader's, a
// switch's or a voice's press), and let go of when the page loses the focus. Keys are named
// here ('0' to '9', 'enter', 'q'); the game's own codes for them are the game's (game.js).

// What holds each key down: keys of the keyboard by their code, fingers or the mouse on the
// touch keys, a click. A key goes down for the game when the first holds it and up when the last
// lets go.
const holders = new Map();     // key -> set of sources
const keySources = new Map();  // keyboard source -> key, for keys now down
const fingersOn = new Map();   // touch key -> pointer ids holding it
export const keyCounts = {letGo: 0};  // times the page let go of every key (left, come back to, Meta up)

let listener = {down() {}, up() {}, letGo() {}};

// Who hears the keys: down(key, at) as the first source holds it (at: the event's time),
// up(key) as the last lets go, letGo(held) when every key counts as released at once.
export function sendKeysTo(keysListener) { listener = keysListener; }

// The keys held now.
export function heldKeys() {
  return [...holders].filter(([, sources]) => sources.size > 0).map(([key]) => key);
}

function hold(key, source, at) {
  let sources = holders.get(key);
  if (!sources) {
    sources = new Set();
    holders.set(key, sources);
  }
  if (sources.has(source)) return;
  sources.add(source);
  if (sources.size === 1) listener.down(key, at);
}

function release(key, source) {
  const sources = holders.get(key);
  if (!sources || !sources.delete(source) || sources.size > 0) return;
  listener.up(key);
}

// The focus gone, or the page hidden: no release will come for keys held now, so every key
// counts as released.
function letGoOfEverything() {
  keyCounts.letGo += 1;
  const anyHeld = heldKeys().length > 0;
  holders.clear();
  keySources.clear();
  for (const fingers of fingersOn.values()) fingers.clear();
  for (const button of fingersOn.keys()) button.classList.remove('down');
  listener.letGo(anyHeld);
}

// The game's key for a keyboard event, or null. Digits and Enter by the physical key (the
// keypad's digits never count); Q by the letter it types, and by the key where Q sits when the
// layout types no Latin letters there.
function keyOf(event) {
  const digit = /^Digit([0-9])$/.exec(event.code);
  if (digit) return digit[1];
  if (event.code === 'Enter' || event.code === 'NumpadEnter') return 'enter';
  if (event.key === 'q' || event.key === 'Q') return 'q';
  if (event.code === 'KeyQ' && /^\p{L}$/u.test(event.key) && !/^\p{Script=Latin}$/u.test(event.key)) return 'q';
  if (!event.code) {
    // on-screen keyboards that name no physical key
    if (event.key === 'Enter') return 'enter';
    if (/^[0-9]$/.test(event.key)) return event.key;
  }
  return null;
}

function keySource(event) { return `key ${event.code || event.key}`; }

// A key of an input method's composition is no key of the game's, nor is the Enter that ends
// one (WebKit sends it after the composition has ended, with keyCode 229).
function composing(event) { return event.isComposing || event.keyCode === 229; }

function metaKey(event) { return event.key === 'Meta' || /^(Meta|OS)(Left|Right)$/.test(event.code); }

// ENTER or Space on one of the page's controls presses that control, as everywhere on the web;
// the game's keys work everywhere else, and on a control that cannot be pressed now (an answer
// once one is chosen).
function pressesControl(event) {
  const pressing = /^(Enter|NumpadEnter|Space)$/.test(event.code) || event.key === 'Enter' || event.key === ' ';
  const control = event.target instanceof Element &&
    event.target.closest('button, a[href], input, select, textarea, summary, [role="button"]');
  return pressing && Boolean(control) && control.getAttribute('aria-disabled') !== 'true';
}

function onKeyDown(event) {
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
  if (pressesControl(event)) return;
  const key = keyOf(event);
  if (key === null) return;
  event.preventDefault();
  if (event.repeat) return;  // held since before the page had the focus: not seen going down
  keySources.set(source, key);
  hold(key, source, event.timeStamp);
}

function onKeyUp(event) {
  if (metaKey(event)) {  // keys released while Meta was down may have sent no keyup
    letGoOfEverything();
    return;
  }
  const source = keySource(event);
  const key = keySources.get(source);
  if (key === undefined) return;
  event.preventDefault();
  keySources.delete(source);
  release(key, source);
}

// A touch key is down while a finger (or the mouse) holds it, up when it lifts or the browser
// cancels the touch. The click that follows a lift was that press already.
function holdByPointer(button) {
  const key = button.dataset.key;
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
    delete button.dataset.lifted;
    hold(key, `pointer ${event.pointerId}`, event.timeStamp);
  });
  const lift = (event) => {
    if (!fingers.delete(event.pointerId)) return;
    if (fingers.size === 0) button.classList.remove('down');
    if (event.type === 'pointerup') button.dataset.lifted = 'true';
    release(key, `pointer ${event.pointerId}`);
  };
  for (const type of ['pointerup', 'pointercancel', 'lostpointercapture']) button.addEventListener(type, lift);
  button.addEventListener('contextmenu', (event) => event.preventDefault());
}

// A click on any of the game's keys (button[data-key]) is a press and a release, unless it is
// the pointer's own click after it held that key (a click that no pointer made, from the
// keyboard or assistive technology, has no count of clicks).
function onClick(event) {
  const button = event.target instanceof Element ? event.target.closest('button[data-key]') : null;
  if (!button) return;
  const held = button.dataset.lifted && event.detail > 0;
  delete button.dataset.lifted;
  if (held) return;
  if (button.getAttribute('aria-disabled') === 'true') return;
  hold(button.dataset.key, 'click', event.timeStamp);
  release(button.dataset.key, 'click');
}

export function listenForKeys(touchKeys) {
  window.addEventListener('keydown', onKeyDown, true);
  window.addEventListener('keyup', onKeyUp, true);
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
  for (const button of touchKeys.querySelectorAll('button[data-key]')) holdByPointer(button);
  document.addEventListener('click', onClick);
}
