// Firefox for the rig's browser session (browser_session.py): puppeteer-core over WebDriver BiDi,
// driven by one JSON request a line on stdin, each answered by one line on stdout:
// {"id": n, "value": ...} or {"id": n, "error": "..."}. It ends with its browser when stdin closes.
'use strict';

const readline = require('readline');
const puppeteer = require('puppeteer-core');

let browser = null;
let page = null;   // the game's page
let other = null;  // a tab in front of it, while the focus is away
let logs = [];     // what the page wrote to its console since last asked

function watch(target) {
  target.on('console', (message) => logs.push({
    level: message.type() === 'error' ? 'SEVERE' : message.type().toUpperCase(), message: message.text()}));
  target.on('pageerror', (error) => logs.push({level: 'SEVERE', message: String(error)}));
}

const ops = {
  async launch({executable, profile, width, height, headless}) {
    browser = await puppeteer.launch({
      browser: 'firefox', executablePath: executable, headless, userDataDir: profile,
      defaultViewport: {width, height}, args: [`--width=${width}`, `--height=${height}`],
      extraPrefsFirefox: {'dom.disable_open_during_load': false},
    });
    [page] = await browser.pages();
    if (!page) page = await browser.newPage();
    watch(page);
    return browser.process() ? browser.process().pid : null;
  },
  async preload({script}) { await page.evaluateOnNewDocument(script); },
  // The page's tab closed, a new one opened: the next visit (a page kept in the browser's page
  // cache after a navigation is still one of the site's).
  async revisit() {
    const fresh = await browser.newPage();
    watch(fresh);
    await page.close();
    page = fresh;
  },
  async goto({url}) { await page.goto(url, {waitUntil: 'load'}); },
  // A script as WebDriver's execute_script takes it: a function body reading `arguments`; a
  // promise it returns is waited for.
  async eval({script, args}) {
    return page.evaluate((body, values) => new Function(body).apply(null, values), script, args);
  },
  // Keys and the mouse go to the tab in front, as a user's do.
  async key({action, key}) { await (other || page).keyboard[action](key); },
  async mouse({action, x, y}) {
    const target = other || page;
    if (action === 'move') await target.mouse.move(x, y);
    else await target.mouse[action]({button: 'left'});
  },
  async away() {
    other = await browser.newPage();
    await other.bringToFront();
  },
  async back() {
    if (other) await other.close();
    other = null;
    await page.bringToFront();
    // WebDriver keeps a key pressed in the page's tab while it went up in the other: without
    // this the next press of it would be sent as a repeat, as no keyboard sends it
    await page.mouse.reset();
  },
  async screenshot({path}) { await page.screenshot({path}); },
  async logs() {
    const taken = logs;
    logs = [];
    return taken;
  },
  async close() {
    if (browser) await browser.close();
    browser = null;
  },
};

const lines = readline.createInterface({input: process.stdin});
let queue = Promise.resolve();
lines.on('line', (line) => {
  const request = JSON.parse(line);
  queue = queue.then(() => ops[request.op](request))
    .then((value) => ({id: request.id, value: value === undefined ? null : value}),
      (error) => ({id: request.id, error: String(error && error.stack || error)}))
    .then((answer) => process.stdout.write(`${JSON.stringify(answer)}\n`));
});
lines.on('close', () => queue.then(() => ops.close()).finally(() => process.exit(0)));
