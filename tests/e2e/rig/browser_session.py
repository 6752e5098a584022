"""The built site played in a headless Chromium: real key and pointer events, the screen read back.

A BrowserSession serves the site (build-web/site) on 127.0.0.1, on a free port and under a
sub-path, starts Debian's chromium through chromium-driver with a fresh profile, opens the page,
and then offers:

- keys by their DOM code, sent as the browser's own input (CDP Input.dispatchKeyEvent, so the page
  sees trusted keydown/keyup events): key_down(code), key_up(code), tap(code); the key a code
  types comes from KEYS, or is given (key_down('KeyQ', key='й') for a Cyrillic layout);
- pointers on the touch keys ('0', '1', '2', 'ENTER', 'Q'): pointer_down(label), pointer_up(label),
  pointer_cancel(label), by touch (with touch=True, which also makes the browser a touch screen)
  or by mouse; click(element_id) on the page's own buttons;
- a device's screen: device=(width, height, density, mobile) at the start, or emulate() later
  (CSS px, device pixels per CSS px; a zoomed page is a smaller CSS size at a higher density);
- lose_focus() and regain_focus(): another tab opened over the page and closed again, as a user
  switching tabs does (the page is blurred and hidden, then focused and shown; page()['let_go']
  counts the times the page let go of every key);
- rows() (the terminal's rows, each exactly as wide as the terminal), cursor() (1-based row and
  column), page() (state: loading, running, ended or error; error text; games started; exit
  status), settled() and wait_settled() (the game waits for a key with none left to take and the
  terminal shows everything it was given), wait_until(), new_game() (a click on the page's New
  game button), screenshot();
- the text view and what the page says: view() (which view shows, the one chosen, the
  terminal's text size), text_view() (its lines by row, effects line, gauges), looks() (sizes
  and places of the game's text and the touch keys), heard() (what the live regions said since
  the page was opened), spoken() (the text in the accessibility tree), focused() (the element
  with the focus), axe() (axe-core's findings);
- stop(), which ends the browser and its driver (only the processes this session started, by
  their ids) and the server.

It needs Debian's /usr/bin/python3 with python3-selenium, chromium and chromium-driver;
cannot_run(site) tells what is missing, so that a test can say SKIP (exit 77) and why.
Use it as a context manager, or call start() and stop().
"""
import functools
import http.server
import os
import shutil
import signal
import tempfile
import threading
import time
import urllib.parse

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'
CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                  '--disable-background-networking', '--disable-component-update', '--disable-sync',
                  '--disable-extensions', '--mute-audio']


def _keys():
    keys = {}
    for d in range(10):
        keys[f'Digit{d}'] = (str(d), 48 + d, str(d))
        keys[f'Numpad{d}'] = (str(d), 96 + d, str(d))  # NumLock on
    for letter in 'ABCDEFGHIJKLMNOPQRSTUVWXYZ':
        keys[f'Key{letter}'] = (letter.lower(), ord(letter), letter.lower())
    keys.update({
        'Enter': ('Enter', 13, '\r'),
        'NumpadEnter': ('Enter', 13, '\r'),
        'Space': (' ', 32, ' '),
        'Escape': ('Escape', 27, ''),
        'Tab': ('Tab', 9, ''),
        'ShiftLeft': ('Shift', 16, ''),
        'ControlLeft': ('Control', 17, ''),
    })
    return keys


# DOM code -> (key, Windows virtual-key code, text typed), as a US layout gives them.
KEYS = _keys()
# CDP's modifier bits.
MODIFIERS = {'alt': 1, 'ctrl': 2, 'meta': 4, 'shift': 8}


def axe_script(site):
    """axe-core as the site's build installed it (npm, pinned by web/package-lock.json)."""
    return os.path.join(os.path.dirname(os.path.abspath(site)), 'npm', 'node_modules', 'axe-core', 'axe.min.js')


def no_site(site):
    """Why `site` is no built site, or None."""
    if not os.path.isfile(os.path.join(site, 'index.html')):
        return f'no built site in {site} (cmake --preset web && cmake --build --preset web)'
    return None


def cannot_run(site):
    """Why a browser session on `site` cannot run here (a tool or the site missing), or None."""
    if no_site(site):
        return no_site(site)
    for path, package in ((CHROMIUM, 'chromium'), (CHROMEDRIVER, 'chromium-driver')):
        if not os.access(path, os.X_OK):
            return f'{path} not found (apt-get install {package})'
    try:
        import selenium.webdriver  # noqa: F401
    except ImportError:
        return 'python3-selenium is not installed (apt-get install python3-selenium; run with /usr/bin/python3)'
    return None


class PageError(AssertionError):
    """A condition the page did not reach in time; carries what the page showed."""


class _SiteHandler(http.server.SimpleHTTPRequestHandler):
    """Serves the site under a sub-path only; anything else is 404, so a link that is not
    relative shows up as a failed load."""

    def __init__(self, *args, prefix, **kwargs):
        self.prefix = prefix
        super().__init__(*args, **kwargs)

    def translate_path(self, path):
        plain = urllib.parse.urlsplit(path).path
        if not plain.startswith(self.prefix):
            return os.path.join(self.directory, '.not-in-the-site')
        return super().translate_path('/' + plain[len(self.prefix):])

    def log_message(self, *args):
        pass


class BrowserSession:
    def __init__(self, site, touch=False, size=(1400, 900), sub_path='/games/bootcamp/', query='',
                 blocked=(), device=None):
        """site: the built site's folder. touch: the browser is a touch screen (touch keys shown,
        pointers are fingers). sub_path: where the site is served. query: added to the page's
        address (for example '?touch'). blocked: URL patterns the browser must not load (to
        see how the page copes without a file). device: (width, height, density, mobile), a
        screen to emulate instead of the window's size."""
        self.site = os.path.abspath(site)
        self.touch = touch
        self.size = size
        self.device = device
        self.sub_path = sub_path
        self.query = query
        self.blocked = list(blocked)
        self.server = None
        self.driver = None
        self.service = None
        self.profile = None
        self.main_tab = None
        self.other_tab = None
        self.fingers = {}  # label -> touch point id of the finger holding it
        self.next_finger = 1

    # --- start and stop

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    @property
    def url(self):
        return f'http://127.0.0.1:{self.server.server_address[1]}{self.sub_path}{self.query}'

    def start(self, wait=True):
        """Serves the site, starts the browser, opens the page; with wait, until the game runs
        (or has ended with an error)."""
        if no_site(self.site):
            raise FileNotFoundError(no_site(self.site))
        handler = functools.partial(_SiteHandler, directory=self.site, prefix=self.sub_path)
        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        self.profile = tempfile.mkdtemp(prefix='bootcamp-chromium-')
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in CHROMIUM_FLAGS + [f'--user-data-dir={self.profile}',
                                      f'--window-size={self.size[0]},{self.size[1]}']:
            options.add_argument(flag)
        options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
        self.service = Service(CHROMEDRIVER)
        self.driver = webdriver.Chrome(service=self.service, options=options)
        self.main_tab = self.driver.current_window_handle
        if self.touch:
            self.cdp('Emulation.setTouchEmulationEnabled', enabled=True, maxTouchPoints=5)
        if self.device:
            self.emulate(*self.device)
        if self.blocked:
            self.cdp('Network.enable')
            self.cdp('Network.setBlockedURLs', urls=self.blocked)
        self.open(wait)

    def emulate(self, width, height, density=1, mobile=False):
        """The page's viewport becomes width x height CSS px at `density` device pixels per CSS
        px (as a phone, or a zoomed page, has it); the next open() loads the page so. Only
        Chromium's protocol can do this: other browsers' sessions size the window instead."""
        self.cdp('Emulation.setDeviceMetricsOverride', width=width, height=height, deviceScaleFactor=density,
                 mobile=mobile)

    def open(self, wait=True):
        """Loads the page (again), and listens to what it says."""
        self.driver.get(self.url)
        self._listen()
        if wait:
            self.wait_until(lambda p: p['state'] in ('running', 'ended', 'error'), 30, 'the game to start')

    def stop(self):
        """Ends the browser and its driver, and the server. Only what this session started."""
        if self.driver is not None:
            try:
                self.driver.quit()
            except Exception:  # a browser already gone still leaves its processes to end below
                pass
            self.driver = None
        for pid in self._own_processes():
            self._end(pid)
        if self.server is not None:
            self.server.shutdown()
            self.server.server_close()
            self.server = None
        if self.profile:
            shutil.rmtree(self.profile, ignore_errors=True)
            self.profile = None

    def _own_processes(self):
        """The driver while it runs, every browser process with this session's own profile
        folder, and their children (renderers, the GPU and utility processes)."""
        pids = []
        process = self.service.process if self.service else None
        if process is not None and process.poll() is None:
            pids.append(process.pid)
        if not self.profile:
            return pids
        marker = f'--user-data-dir={self.profile}'.encode()
        parents = {}
        for entry in os.listdir('/proc'):
            if not entry.isdigit():
                continue
            try:
                with open(f'/proc/{entry}/cmdline', 'rb') as f:
                    # Chromium's children put all their arguments in one, separated by blanks
                    if marker in f.read().replace(b' ', b'\0').split(b'\0'):
                        pids.append(int(entry))
                with open(f'/proc/{entry}/stat') as f:
                    parents[int(entry)] = int(f.read().rsplit(') ', 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                pass
        found = set(pids)
        grew = True
        while grew:
            grew = False
            for pid, parent in parents.items():
                if parent in found and pid not in found:
                    found.add(pid)
                    pids.append(pid)
                    grew = True
        return pids

    @staticmethod
    def _end(pid):
        deadline = time.monotonic() + 5
        try:
            os.kill(pid, signal.SIGTERM)
            while time.monotonic() < deadline:
                os.kill(pid, 0)
                if open(f'/proc/{pid}/stat').read().split(') ')[-1].startswith('Z'):
                    return  # gone, only its parent has not reaped it yet
                time.sleep(0.05)
            os.kill(pid, signal.SIGKILL)
        except (ProcessLookupError, FileNotFoundError):
            pass

    # --- the browser's own input

    def cdp(self, method, **params):
        return self.driver.execute_cdp_cmd(method, params)

    def _key_event(self, kind, code, key, modifiers, repeat):
        default_key, vk, text = KEYS.get(code, ('', 0, ''))
        key = default_key if key is None else key
        if key != default_key:
            text = key if len(key) == 1 else ''
        bits = 0
        for name in modifiers:
            bits |= MODIFIERS[name]
        if bits & MODIFIERS['shift'] and len(text) == 1:
            text = text.upper()
            key = key.upper() if len(key) == 1 else key
        params = {'type': kind, 'code': code, 'key': key, 'windowsVirtualKeyCode': vk,
                  'nativeVirtualKeyCode': vk, 'modifiers': bits, 'autoRepeat': repeat,
                  'isKeypad': code.startswith('Numpad')}
        if kind == 'keyDown' and text and not bits & (MODIFIERS['ctrl'] | MODIFIERS['alt'] | MODIFIERS['meta']):
            params['text'] = params['unmodifiedText'] = text
        elif kind == 'keyDown':
            params['type'] = 'rawKeyDown'
        self.cdp('Input.dispatchKeyEvent', **params)

    def key_down(self, code, key=None, modifiers=(), repeat=False):
        """The key with this DOM code goes down (repeat: an auto-repeat of a key already down)."""
        self._key_event('keyDown', code, key, modifiers, repeat)

    def key_up(self, code, key=None, modifiers=()):
        self._key_event('keyUp', code, key, modifiers, False)

    def tap(self, code, key=None, modifiers=()):
        self.key_down(code, key, modifiers)
        self.key_up(code, key, modifiers)

    def type(self, *codes):
        """Taps one after the other with no wait between: keys typed ahead. Each reaches the page
        in order, and the page hands each to the game as it comes."""
        for code in codes:
            self.tap(code)

    def touch_key_centre(self, label):
        """The centre of a touch key in the page, or None while it is not shown."""
        return self.driver.execute_script('''
            const b = [...document.querySelectorAll('#touch-keys button')].find((b) => b.textContent.trim() === arguments[0]);
            if (!b) return null;
            const r = b.getBoundingClientRect();
            return r.width > 0 && r.height > 0 ? [r.left + r.width / 2, r.top + r.height / 2] : null;''', label)

    def _touch_points(self):
        points = []
        for label, finger in self.fingers.items():
            x, y = self.touch_key_centre(label)
            points.append({'x': x, 'y': y, 'id': finger, 'radiusX': 4, 'radiusY': 4, 'force': 1})
        return points

    def pointer_down(self, label, by='touch'):
        """A finger (by='touch') or the mouse (by='mouse') goes down on a touch key."""
        centre = self.touch_key_centre(label)
        if centre is None:
            raise PageError(f'the touch key {label} is not shown')
        if by == 'mouse':
            self.cdp('Input.dispatchMouseEvent', type='mouseMoved', x=centre[0], y=centre[1])
            self.cdp('Input.dispatchMouseEvent', type='mousePressed', x=centre[0], y=centre[1],
                     button='left', buttons=1, clickCount=1)
            return
        self.fingers[label] = self.next_finger
        self.next_finger += 1
        self.cdp('Input.dispatchTouchEvent', type='touchStart', touchPoints=self._touch_points())

    def pointer_up(self, label, by='touch'):
        """The finger (or mouse button) on a touch key lifts."""
        if by == 'mouse':
            x, y = self.touch_key_centre(label)
            self.cdp('Input.dispatchMouseEvent', type='mouseReleased', x=x, y=y, button='left',
                     buttons=0, clickCount=1)
            return
        del self.fingers[label]
        if self.fingers:  # the other fingers stay: the one missing is lifted
            self.cdp('Input.dispatchTouchEvent', type='touchMove', touchPoints=self._touch_points())
        else:
            self.cdp('Input.dispatchTouchEvent', type='touchEnd', touchPoints=[])

    def pointer_cancel(self, label=None):
        """The browser cancels the touches (a gesture or the system takes them): every finger."""
        self.fingers.clear()
        self.cdp('Input.dispatchTouchEvent', type='touchCancel', touchPoints=[])

    def lose_focus(self):
        """Another tab comes to the front: the page loses the focus and is hidden. Until
        regain_focus() the session is in that tab: keys sent go there, as a user's would (and the
        page cannot be read without bringing it to the front)."""
        self.driver.switch_to.new_window('tab')
        self.other_tab = self.driver.current_window_handle

    def regain_focus(self):
        """The other tab closes; the page is in front again, with the focus."""
        self.driver.switch_to.window(self.other_tab)
        self.driver.close()
        self.other_tab = None
        self.driver.switch_to.window(self.main_tab)
        self.wait_until(lambda p: not p['hidden'] and p['focused'], 10, 'the page to have the focus again')

    # --- what the page shows

    def page(self):
        """The page's state: state, error, games, exit_status, hidden, focused, settled, let_go."""
        return self.driver.execute_script('''
            const b = window.bootcamp;
            return {state: b ? b.state : 'no page', error: b ? b.error : '', games: b ? b.games : 0,
                    exit_status: b ? b.exitStatus : null, hidden: document.hidden,
                    focused: document.hasFocus(), settled: b ? b.settled() : false,
                    let_go: b ? b.letGo : 0};''')

    def rows(self):
        """The terminal's rows, top to bottom, each exactly as wide as the terminal."""
        return self.driver.execute_script('return window.bootcamp.screenRows();')

    def cursor(self):
        """The cursor as (row, column), 1-based."""
        at = self.driver.execute_script('return window.bootcamp.cursor();')
        return (at['row'], at['column']) if at else None

    def text(self):
        return '\n'.join(row.rstrip() for row in self.rows())

    def settled(self):
        return self.page()['settled']

    def wait_until(self, condition, timeout=10, what='the page'):
        """Waits until condition(page()) holds; PageError with the screen when it does not."""
        deadline = time.monotonic() + timeout
        while True:
            state = self.page()
            if condition(state):
                return state
            if time.monotonic() > deadline:
                raise PageError(f'timed out waiting for {what}; page {state}; screen:\n{self.text()}')
            time.sleep(0.01)

    def wait_settled(self, timeout=10):
        """Waits until the game waits for a key with none left to take, and the terminal shows
        everything it was given."""
        return self.wait_until(lambda p: p['settled'], timeout, 'the game to wait for a key')

    def wait_for_text(self, text, timeout=10):
        deadline = time.monotonic() + timeout
        while text not in self.text():
            if time.monotonic() > deadline:
                raise PageError(f'timed out waiting for {text!r}; screen:\n{self.text()}')
            time.sleep(0.01)

    def click(self, element_id):
        """A mouse click in the middle of the page's element with this id."""
        x, y = self.driver.execute_script('''
            const r = document.getElementById(arguments[0]).getBoundingClientRect();
            return r.width > 0 ? [r.left + r.width / 2, r.top + r.height / 2] : [null, null];''', element_id)
        if x is None:
            raise PageError(f'no {element_id} shown; page {self.page()}')
        for kind in ('mouseMoved', 'mousePressed', 'mouseReleased'):
            self.cdp('Input.dispatchMouseEvent', type=kind, x=x, y=y, button='left',
                     buttons=1 if kind == 'mousePressed' else 0, clickCount=1)

    def new_game(self):
        """Starts a new game as a player does once one has ended: a click on New game."""
        games = self.page()['games']
        self.click('new-game')
        self.wait_until(lambda p: p['games'] > games and p['state'] != 'loading', 30, 'the new game to start')

    def screenshot(self, path):
        self.driver.save_screenshot(path)

    def console(self):
        """What the page wrote to the browser's console since last asked."""
        return self.driver.get_log('browser')

    # --- the text view, what the page says, and who can use it

    def view(self):
        """{'shown': 'text' or 'terminal', 'chosen': the player's choice or None,
        'terminalTextPx': the terminal's text size in CSS px in the terminal view}."""
        return self.driver.execute_script('return window.bootcamp.view();')

    def text_view(self):
        """The text view as the page shows it: lines [row, text] of the Event's side, the
        effects line ('' when none is shown), the panel's title, and the gauges: the text of
        each, and its meter's value, min and max as exposed to assistive technology."""
        return self.driver.execute_script('''
            const shown = (e) => !e.closest('[hidden]');
            const effects = document.getElementById('effects');
            const gauges = document.getElementById('gauges');
            return {
              lines: [...document.querySelectorAll('#story p[data-row]')].map((p) => [Number(p.dataset.row), p.textContent]),
              effects: effects && shown(effects) ? effects.textContent : '',
              title: shown(gauges) ? document.getElementById('gauges-title').textContent : '',
              gauges: shown(gauges) ? [...gauges.querySelectorAll('li')].map((li) => {
                const meter = li.querySelector('meter, [role=meter], [role=progressbar]');
                const number = (name, property) => Number(meter.getAttribute(name) ?? meter[property]);
                return {text: li.querySelector('label').textContent, value: number('aria-valuenow', 'value'),
                        min: number('aria-valuemin', 'min'), max: number('aria-valuemax', 'max')};
              }) : [],
            };''')

    def looks(self):
        """How the game's text and the touch keys stand in the viewport (CSS px): the game's
        text size in the view shown (the smallest, in the terminal its font size times its
        scale), whether the page is wider than the viewport, the boxes of the text view's
        lines and of the touch keys ([left, top, right, bottom], None when not shown), the
        shortest side of any button shown."""
        return self.driver.execute_script('''
            const box = (e) => { const r = e.getBoundingClientRect();
                                 return r.width > 0 && r.height > 0 ? [r.left, r.top, r.right, r.bottom] : null; };
            const size = (e) => parseFloat(getComputedStyle(e).fontSize);
            const texts = [...document.querySelectorAll('#story p, #effects, #gauges label')].filter((e) => box(e));
            const terminal = document.querySelector('#screen .xterm');
            const rows = document.querySelector('#screen .xterm-rows');
            const textView = document.getElementById('text-view');
            const root = document.documentElement;
            const shown = textView.getBoundingClientRect().width > 1 ? 'text' : 'terminal';
            return {
              shown,
              textPx: shown === 'text' ? Math.min(...texts.map(size))
                : size(rows) * terminal.getBoundingClientRect().width / terminal.offsetWidth,
              sideways: root.scrollWidth > root.clientWidth,
              viewport: [root.clientWidth, root.clientHeight],
              lines: [...document.querySelectorAll('#story p[data-row]')].map(box),
              touchKeys: box(document.getElementById('touch-keys')),
              terminal: terminal ? box(terminal) : null,
              hint: box(document.getElementById('turn-hint')) !== null,
              buttonPx: Math.min(...[...document.querySelectorAll('button')].map(box).filter(Boolean)
                .map(([left, top, right, bottom]) => Math.min(right - left, bottom - top))),
            };''')

    def heard(self):
        """What the page's live regions said since it was opened: {'regions': [id, politeness]
        of each, 'said': one entry for each change that added text, its lines in order}. Lines
        added in one go are one announcement, as assistive technology hears them."""
        return self.driver.execute_script('return window.bootcampHeard;')

    def _listen(self):
        """Notes, from now on, every text added to the page's live regions (elements with
        aria-live), grouped by the change that added it; text already there counts as said."""
        self.driver.execute_script('''
            const regions = [...document.querySelectorAll('[aria-live]')]
              .filter((r) => r.getAttribute('aria-live') !== 'off');
            const heard = {regions: regions.map((r) => [r.id, r.getAttribute('aria-live')]), said: []};
            window.bootcampHeard = heard;
            const lines = (node) => node.nodeType !== Node.ELEMENT_NODE || !node.querySelector('p')
              ? [node.textContent] : [...node.querySelectorAll('p')].map((p) => p.textContent);
            const already = regions.flatMap((r) => [...r.childNodes].flatMap(lines)).filter((t) => t.trim());
            if (already.length) heard.said.push(already);
            const observer = new MutationObserver((records) => {
              const added = records.flatMap((r) => r.type === 'characterData' ? [r.target.data]
                : [...r.addedNodes].flatMap(lines)).filter((t) => t.trim());
              if (added.length) heard.said.push(added);
            });
            for (const r of regions) observer.observe(r, {childList: true, subtree: true, characterData: true});''')

    def spoken(self):
        """The texts assistive technology can reach: the accessibility tree's text nodes, as the
        browser exposes them (Chromium's protocol: the one thing here that no page script sees)."""
        nodes = self.cdp('Accessibility.getFullAXTree')['nodes']
        return [n['name']['value'] for n in nodes
                if not n.get('ignored') and n.get('role', {}).get('value') == 'StaticText']

    def focused(self):
        """The id of the element with the focus, its tag when it has none, or None when the
        focus is not in the page."""
        return self.driver.execute_script('''
            const e = document.activeElement;
            if (!document.hasFocus() || !e || e === document.body) return null;
            return e.id || e.tagName.toLowerCase();''')

    def axe(self, tags=('wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'wcag22aa', 'best-practice')):
        """axe-core's findings on the page as it is now, for rules with these tags (by default
        WCAG 2.0 to 2.2 A and AA, and axe's best practices: a heading, landmarks): a list of
        (rule, impact, the elements' selectors)."""
        if not self.driver.execute_script('return typeof axe === "object";'):
            if not os.path.isfile(axe_script(self.site)):
                raise PageError(f'no axe-core at {axe_script(self.site)}: the site\'s build installs it (npm ci)')
            with open(axe_script(self.site)) as f:
                self.driver.execute_script(f.read())
        found = self.driver.execute_async_script('''
            const done = arguments[arguments.length - 1];
            axe.run(document, {runOnly: {type: 'tag', values: arguments[0]}, resultTypes: ['violations']})
              .then((r) => done(r.violations.map((v) => [v.id, v.impact, v.nodes.map((n) => n.target.join(' '))])),
                    (e) => done([['axe failed', String(e), []]]));''', list(tags))
        return [tuple(f) for f in found]
