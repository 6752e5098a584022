"""The built site played in a browser: real key and pointer events, the screen read back.

A BrowserSession serves the site (build-web/site) on 127.0.0.1, on a free port and under a
sub-path, starts a browser of one engine with a fresh profile, opens the page, and then offers:

- the engine: 'chromium' (Debian's chromium through chromium-driver and Selenium; key events
  through the DevTools protocol, exactly as given), 'firefox' (Debian's firefox-esr through
  puppeteer-core over WebDriver BiDi, in a Node helper, firefox_helper.js) or 'webkit' (WebKitGTK's
  MiniBrowser through WebKitWebDriver and Selenium, under an Xvfb of its own). The last two send
  WebDriver's key actions: a key goes down as its US layout types it (see CANNOT for what they
  cannot send);
- keys by their DOM code, as the browser's own input (the page sees trusted keydown/keyup
  events): key_down(code), key_up(code), tap(code); the key a code types comes from KEYS, or is
  given (key_down('KeyQ', key='й') for a Cyrillic layout; Chromium only);
- pointers on the touch keys ('0', '1', '2', 'ENTER', 'Q'): pointer_down(label), pointer_up(label),
  pointer_cancel(label), by touch (Chromium, with touch=True, which also makes the browser a touch
  screen) or by mouse; click(element_id) on the page's own buttons;
- a device's screen (Chromium): device=(width, height, density, mobile) at the start, or
  emulate() later (CSS px, device pixels per CSS px; a zoomed page is a smaller CSS size at a
  higher density);
- lose_focus() and regain_focus(): another tab opened over the page and closed again, as a user
  switching tabs does (the page is blurred and hidden, then focused and shown; page()['let_go']
  counts the times the page let go of every key);
- rows() (the terminal's rows, each exactly as wide as the terminal), cursor() (1-based row and
  column), page() (state: loading, running, ended or error; error text; games started; exit
  status; offline: the site kept by its service worker), settled() and wait_settled() (the game
  waits for a key with none left to take and the terminal shows everything it was given),
  wait_until(), new_game() (a click on the page's New game button), screenshot(); driver is the
  engine's WebDriver (its execute_script and execute_async_script run a script in the page for
  every engine);
- the text view and what the page says: view() (which view shows, the one chosen, the
  terminal's text size), text_view() (its lines by row, effects line, gauges), looks() (sizes
  and places of the game's text and the touch keys), heard() (what the live regions said since
  the page was opened), spoken() (the text in the accessibility tree; Chromium), focused() (the
  element with the focus), axe() (axe-core's findings);
- new_visit(): the page's tab closed and the page opened in a new one;
- the server: serve(folder) serves another folder from the same address, server_down() and
  server_up() stop and start it again (on the same port: the same origin);
- stop(), which ends the browser and its driver (only the processes this session started, by
  their ids) and the server.

It needs Debian's /usr/bin/python3 with python3-selenium and the engine's packages (chromium and
chromium-driver; firefox-esr, nodejs and puppeteer-core, which the site's build installs from
web/package-lock.json beside the site, or NODE_PATH; webkit2gtk-driver and xvfb);
cannot_run(site, engine) tells what is missing, so that a test can say SKIP (exit 77) and why.
Use it as a context manager, or call start() and stop().
"""
import fnmatch
import functools
import http.server
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'
FIREFOX = '/usr/bin/firefox-esr'
NODE = '/usr/bin/node'
FIREFOX_HELPER = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'firefox_helper.js')
WEBKIT_DRIVER = '/usr/bin/WebKitWebDriver'
MINIBROWSER = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser'
ENGINES = ('chromium', 'firefox', 'webkit')
# What an engine's WebDriver cannot send or show, and why: the capabilities of driver.CAPS it
# lacks (the scenario table then passes those scenarios by, saying why).
CANNOT = {
    'firefox': {
        'raw_keys': "WebDriver's key actions send a key as its US layout types it, and a held key down "
                    'again only as a repeat',
        'layouts': "WebDriver's key actions name no physical key apart from what it types",
        'touch': 'no touch screen to emulate over WebDriver BiDi',
        'installable': "the installability check is Chromium's own (its DevTools protocol)",
        'phone': "a phone's screen (its size, density and touch) is emulated through Chromium's DevTools protocol",
        'accessibility_tree': "the accessibility tree is read through Chromium's DevTools protocol",
        'key_activation': "headless Firefox presses no focused button for WebDriver's Space",
        'forced_colors': "forced colours are emulated through Chromium's DevTools protocol",
    },
    'webkit': {
        'preload': "WebKit's WebDriver runs no script in a page before the page's own",
        'raw_keys': "WebDriver's key actions send a key as its US layout types it, and a held key down "
                    'again not at all',
        'layouts': "WebDriver's key actions name no physical key apart from what it types",
        'repeat': "WebKitWebDriver sends nothing for a held key's second keydown",
        'keypad': "WebKitWebDriver sends the keypad's Enter as the main Enter (code Enter)",
        'touch': "no touch screen to emulate over WebKit's WebDriver",
        'installable': "the installability check is Chromium's own (its DevTools protocol)",
        'phone': "a phone's screen (its size, density and touch) is emulated through Chromium's DevTools protocol",
        'accessibility_tree': "the accessibility tree is read through Chromium's DevTools protocol",
        'tab_out': 'MiniBrowser has no controls of its own for Tab to reach: the focus stays in the page',
        'forced_colors': "forced colours are emulated through Chromium's DevTools protocol",
    },
}
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
        'ShiftLeft': ('Shift', 16, ''),
        'Tab': ('Tab', 9, ''),
        'ControlLeft': ('Control', 17, ''),
        'MetaLeft': ('Meta', 91, ''),
    })
    return keys


# DOM code -> (key, Windows virtual-key code, text typed), as a US layout gives them.
KEYS = _keys()


def _webdriver_keys():
    keys = {f'Digit{d}': str(d) for d in range(10)}
    keys.update({f'Key{letter}': letter.lower() for letter in 'ABCDEFGHIJKLMNOPQRSTUVWXYZ'})
    keys.update({f'Numpad{d}': chr(0xE01A + d) for d in range(10)})
    keys.update({'Enter': '\ue006', 'NumpadEnter': '\ue007', 'Space': ' ', 'Escape': '\ue00c', 'Tab': '\ue004',
                 'ShiftLeft': '\ue008', 'ControlLeft': '\ue009', 'AltLeft': '\ue00a', 'MetaLeft': '\ue03d'})
    return keys


# DOM code -> WebDriver's key value for it (a US layout's).
WEBDRIVER_KEYS = _webdriver_keys()
MODIFIER_CODES = {'alt': 'AltLeft', 'ctrl': 'ControlLeft', 'meta': 'MetaLeft', 'shift': 'ShiftLeft'}
# CDP's modifier bits.
MODIFIERS = {'alt': 1, 'ctrl': 2, 'meta': 4, 'shift': 8}


def axe_script(site):
    """axe-core as the site's build installed it (npm, pinned by web/package-lock.json)."""
    return os.path.join(node_modules(site), 'axe-core', 'axe.min.js')


def node_modules(site):
    """Where the site's build installed web/package-lock.json's packages (NODE_PATH if set)."""
    return os.environ.get('NODE_PATH') or os.path.join(os.path.dirname(os.path.abspath(site)), 'npm', 'node_modules')


def no_site(site):
    """Why `site` is no built site, or None."""
    if not os.path.isfile(os.path.join(site, 'index.html')):
        return f'no built site in {site} (cmake --preset web && cmake --build --preset web)'
    return None


def cannot_run(site, engine='chromium'):
    """Why a browser session of `engine` on `site` cannot run here (a tool or the site
    missing), or None."""
    if no_site(site):
        return no_site(site)
    tools = {'chromium': ((CHROMIUM, 'chromium'), (CHROMEDRIVER, 'chromium-driver')),
             'firefox': ((FIREFOX, 'firefox-esr'), (NODE, 'nodejs')),
             'webkit': ((WEBKIT_DRIVER, 'webkit2gtk-driver'), (MINIBROWSER, 'webkit2gtk-driver'),
                        ('/usr/bin/Xvfb', 'xvfb'))}[engine]
    for path, package in tools:
        if not os.access(path, os.X_OK):
            return f'{path} not found (apt-get install {package})'
    if engine == 'firefox' and not os.path.isfile(os.path.join(node_modules(site), 'puppeteer-core', 'package.json')):
        return f'puppeteer-core not found in {node_modules(site)} (the site\'s build installs it: npm ci)'
    if engine != 'firefox':
        try:
            import selenium.webdriver  # noqa: F401
        except ImportError:
            return 'python3-selenium is not installed (apt-get install python3-selenium; run with /usr/bin/python3)'
    return None


class Cannot(Exception):
    """What the session's engine cannot send or show (see CANNOT)."""


class PageError(AssertionError):
    """A condition the page did not reach in time; carries what the page showed."""


class _SiteHandler(http.server.SimpleHTTPRequestHandler):
    """Serves the session's site under its sub-path only; anything else is 404, so a link that
    is not relative shows up as a failed load; so is a file the session blocks."""

    def __init__(self, *args, session, **kwargs):
        self.session = session
        super().__init__(*args, directory=session.serving, **kwargs)

    def translate_path(self, path):
        plain = urllib.parse.urlsplit(path).path
        prefix = self.session.sub_path
        if not plain.startswith(prefix) or any(fnmatch.fnmatch(plain, b) for b in self.session.blocked):
            return os.path.join(self.directory, '.not-in-the-site')
        return super().translate_path('/' + plain[len(prefix):])

    def send_head(self):
        """As a host that serves a folder's page only at the folder's address, when asked to:
        /index.html answered by a redirect to /."""
        plain = urllib.parse.urlsplit(self.path).path
        if self.session.index_redirects and plain.endswith('/index.html'):
            self.send_response(301)
            self.send_header('Location', plain[:-len('index.html')])
            self.send_header('Content-Length', '0')
            self.end_headers()
            return None
        return super().send_head()

    def log_message(self, *args):
        pass


class _SiteServer(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        """A browser that stops reading (a reload, a browser closed) is no error."""
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


class _Helper:
    """The Firefox helper process (firefox_helper.js), with what the rig uses of a WebDriver."""

    def __init__(self, profile, size, site, env=None):
        self.process = subprocess.Popen([NODE, FIREFOX_HELPER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env=dict(env or os.environ, NODE_PATH=node_modules(site)),
                                        text=True, start_new_session=True)
        self.next_id = 0
        self.call('launch', executable=FIREFOX, profile=profile, width=size[0], height=size[1], headless=env is None,
                  timeout=60)

    def call(self, op, timeout=30, **args):
        self.next_id += 1
        self.process.stdin.write(json.dumps({'id': self.next_id, 'op': op, **args}) + '\n')
        self.process.stdin.flush()
        if not select.select([self.process.stdout], [], [], timeout)[0]:
            raise TimeoutError(f'the Firefox helper did not answer {op} in {timeout} s')
        line = self.process.stdout.readline()
        if not line:
            raise RuntimeError(f'the Firefox helper ended at {op} (status {self.process.poll()})')
        answer = json.loads(line)
        if 'error' in answer:
            raise RuntimeError(f'Firefox, {op}: {answer["error"]}')
        return answer['value']

    def execute_script(self, script, *args):
        return self.call('eval', script=script, args=list(args))

    def execute_async_script(self, script, *args):
        """A script that calls its last argument with its result."""
        wrapped = f'const args = [...arguments]; return new Promise((done) => {{ (function () {{ {script} }}).apply(null, [...args, done]); }});'
        return self.call('eval', script=wrapped, args=list(args))

    def get(self, url):
        self.call('goto', url=url)

    def save_screenshot(self, path):
        self.call('screenshot', path=path)

    def get_log(self, kind):
        return self.call('logs')

    def quit(self):
        if self.process.poll() is None:
            try:
                self.call('close', timeout=10)
            finally:
                self.process.stdin.close()
                try:
                    self.process.wait(10)
                except subprocess.TimeoutExpired:
                    pass


class BrowserSession:
    def __init__(self, site, engine='chromium', touch=False, size=(1400, 900), sub_path='/games/bootcamp/',
                 query='', blocked=(), preload='', device=None, env=None, index_redirects=False):
        """site: the built site's folder. engine: 'chromium', 'firefox' or 'webkit'. touch: the
        browser is a touch screen (touch keys shown, pointers are fingers; Chromium only).
        sub_path: where the site is served. query: added to the page's address (for example
        '?touch'). blocked: path patterns the server answers 404 (to see how the page copes
        without a file). preload: a script run in every page before the page's own. device:
        (width, height, density, mobile), a screen to emulate instead of the window's size
        (Chromium). index_redirects: the server answers .../index.html with a redirect to .../, as
        some static hosts do. env: the browser runs with this environment, in a window on its display, with
        its accessibility on (a screen reader's: screen_reader.ScreenReader.env)."""
        if touch and engine != 'chromium':
            raise Cannot(CANNOT[engine]['touch'])
        self.site = os.path.abspath(site)
        self.serving = self.site
        self.engine = engine
        self.touch = touch
        self.size = size
        self.sub_path = sub_path
        self.query = query
        self.blocked = list(blocked)
        self.device = device
        if device:
            self.cannot('phone')
        self.env = env
        self.index_redirects = index_redirects
        self.preload = preload
        if preload:
            self.cannot('preload')
        self.server = None
        self.port = 0
        self.driver = None
        self.service = None
        self.profile = None
        self.xvfb = None
        self.main_tab = None
        self.other_tab = None
        self.fingers = {}  # label -> touch point id of the finger holding it
        self.next_finger = 1
        self.mouse_at = (0, 0)
        self.had_focus = True

    # --- start and stop

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    @property
    def url(self):
        return f'http://127.0.0.1:{self.port}{self.sub_path}{self.query}'

    def server_up(self):
        """Serves the site (on the port it had, once it had one)."""
        handler = functools.partial(_SiteHandler, session=self)
        self.server = _SiteServer(('127.0.0.1', self.port), handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def server_down(self):
        if self.server is not None:
            self.server.shutdown()
            self.server.server_close()
            self.server = None

    def serve(self, folder):
        """The server serves this folder from now on (a site built again, say)."""
        self.serving = os.path.abspath(folder)

    def start(self, wait=True):
        """Serves the site, starts the browser, opens the page; with wait, until the game runs
        (or has ended with an error)."""
        if no_site(self.site):
            raise FileNotFoundError(no_site(self.site))
        self.server_up()
        self.profile = tempfile.mkdtemp(prefix=f'bootcamp-{self.engine}-')
        getattr(self, f'_start_{self.engine}')()
        self.open(wait)

    def _start_chromium(self):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        flags = CHROMIUM_FLAGS if self.env is None else [f for f in CHROMIUM_FLAGS if f != '--headless'] + [
            '--force-renderer-accessibility', '--window-position=0,0']
        for flag in flags + [f'--user-data-dir={self.profile}', f'--window-size={self.size[0]},{self.size[1]}']:
            options.add_argument(flag)
        options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
        self.service = Service(CHROMEDRIVER, env=self.env)
        self.driver = webdriver.Chrome(service=self.service, options=options)
        self.main_tab = self.driver.current_window_handle
        if self.touch:
            self.cdp('Emulation.setTouchEmulationEnabled', enabled=True, maxTouchPoints=5)
        if self.device:
            self.emulate(*self.device)
        if self.preload:
            self.cdp('Page.addScriptToEvaluateOnNewDocument', source=self.preload)

    def emulate(self, width, height, density=1, mobile=False):
        """The page's viewport becomes width x height CSS px at `density` device pixels per CSS
        px (as a phone, or a zoomed page, has it); the next open() loads the page so. Only
        Chromium's protocol can do this."""
        self.cdp('Emulation.setDeviceMetricsOverride', width=width, height=height, deviceScaleFactor=density,
                 mobile=mobile)

    def _start_firefox(self):
        self.driver = _Helper(self.profile, self.size, self.site, self.env)
        if self.preload:
            self.driver.call('preload', script=self.preload)

    def _start_webkit(self):
        from selenium import webdriver
        from selenium.webdriver.webkitgtk.options import Options
        from .driver import Processes
        from .gui_drivers import start_xvfb
        self.xvfb = Processes()
        display = start_xvfb(self.xvfb, os.path.join(self.profile, 'xvfb.log'), f'{self.size[0]}x{self.size[1]}x24')
        options = Options()
        options.binary_location = MINIBROWSER
        options.add_argument('--automation')
        # this Selenium gives WebKitWebDriver the environment it runs in
        saved = os.environ.get('DISPLAY')
        os.environ['DISPLAY'] = display
        try:
            self.driver = webdriver.WebKitGTK(executable_path=WEBKIT_DRIVER, options=options)
        finally:
            if saved is None:
                os.environ.pop('DISPLAY')
            else:
                os.environ['DISPLAY'] = saved
        self.service = self.driver.service
        self.driver.set_window_rect(0, 0, *self.size)
        self.main_tab = self.driver.current_window_handle

    def open(self, wait=True):
        """Loads the page (again), and listens to what it says."""
        self.driver.get(self.url)
        self._listen()
        if wait:
            self.wait_until(lambda p: p['state'] in ('running', 'ended', 'error'), 30, 'the game to start')

    def new_visit(self, wait=True):
        """The page's tab closed and the page opened in a new one, as a player comes back to it
        another day (a service worker's new version waits for every page of the old one to go).
        What the session set for its first tab (touch, preload) is not set again."""
        if self.engine == 'firefox':
            self.driver.call('revisit')
        else:
            old = self.main_tab
            self.driver.switch_to.new_window('tab')
            self.main_tab = self.driver.current_window_handle
            self.driver.switch_to.window(old)
            self.driver.close()
            self.driver.switch_to.window(self.main_tab)
        self.open(wait)

    def stop(self):
        """Ends the browser and its driver, and the server. Only what this session started."""
        started = self._own_processes()  # before the driver goes: its browser may outlive it
        if self.driver is not None:
            try:
                self.driver.quit()
            except Exception:  # a browser already gone still leaves its processes to end below
                pass
            self.driver = None
        for pid in started + self._own_processes():
            self._end(pid)
        if self.xvfb is not None:
            self.xvfb.stop_all()
            self.xvfb = None
        self.server_down()
        if self.profile:
            shutil.rmtree(self.profile, ignore_errors=True)
            self.profile = None

    def _own_processes(self):
        """The driver (or Firefox's helper) while it runs, every browser process with this
        session's own profile folder, and their children (renderers, the GPU and utility
        processes, WebKit's web and network processes)."""
        pids = []
        for process in (self.service.process if self.service else None,
                        self.driver.process if isinstance(self.driver, _Helper) else None):
            if process is not None and process.poll() is None:
                pids.append(process.pid)
        if not self.profile:
            return pids
        profile = self.profile.encode()
        parents = {}
        for entry in os.listdir('/proc'):
            if not entry.isdigit():
                continue
            try:
                with open(f'/proc/{entry}/cmdline', 'rb') as f:
                    # Chromium's children put all their arguments in one, separated by blanks
                    if any(arg.endswith(profile) for arg in f.read().replace(b' ', b'\0').split(b'\0')):
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

    def cannot(self, what):
        """Cannot, if this session's engine cannot send or show `what` (a capability)."""
        why = CANNOT.get(self.engine, {}).get(what)
        if why:
            raise Cannot(f'{self.engine}: {why}')

    def cdp(self, method, **params):
        if self.engine != 'chromium':
            raise Cannot(f'{self.engine}: no DevTools protocol ({method})')
        return self.driver.execute_cdp_cmd(method, params)

    def _key_event(self, kind, code, key, modifiers, repeat, key_code=None):
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
        vk = vk if key_code is None else key_code
        params = {'type': kind, 'code': code, 'key': key, 'windowsVirtualKeyCode': vk,
                  'nativeVirtualKeyCode': vk, 'modifiers': bits, 'autoRepeat': repeat,
                  'isKeypad': code.startswith('Numpad')}
        if kind == 'keyDown' and text and not bits & (MODIFIERS['ctrl'] | MODIFIERS['alt'] | MODIFIERS['meta']):
            params['text'] = params['unmodifiedText'] = text
        elif kind == 'keyDown':
            params['type'] = 'rawKeyDown'
        self.cdp('Input.dispatchKeyEvent', **params)

    def _webdriver_key(self, down, code, key, modifiers, repeat):
        """A key action of WebDriver's (Firefox, WebKit): the key as its US layout types it,
        with the modifiers held around it."""
        if key is not None and key != KEYS.get(code, (None,))[0]:
            self.cannot('layouts')
        if repeat:
            self.cannot('repeat')
        if code.startswith('Numpad'):
            self.cannot('keypad')
        if code not in WEBDRIVER_KEYS:
            raise Cannot(f'{self.engine}: no WebDriver key for {code}')
        value = WEBDRIVER_KEYS[code]
        steps = [(True, WEBDRIVER_KEYS[MODIFIER_CODES[m]]) for m in modifiers] + [(down, value)]
        steps += [(False, WEBDRIVER_KEYS[MODIFIER_CODES[m]]) for m in reversed(modifiers)]
        for is_down, each in steps:
            if self.engine == 'firefox':
                self.driver.call('key', action='down' if is_down else 'up', key=each)
            else:
                from selenium.webdriver.common.action_chains import ActionChains
                chain = ActionChains(self.driver)
                (chain.key_down if is_down else chain.key_up)(each).perform()

    def key_down(self, code, key=None, modifiers=(), repeat=False):
        """The key with this DOM code goes down (repeat: an auto-repeat of a key already down)."""
        if self.engine == 'chromium':
            self._key_event('keyDown', code, key, modifiers, repeat)
        else:
            self._webdriver_key(True, code, key, modifiers, repeat)

    def key_up(self, code, key=None, modifiers=()):
        if self.engine == 'chromium':
            self._key_event('keyUp', code, key, modifiers, False)
        else:
            self._webdriver_key(False, code, key, modifiers, False)

    def raw_key(self, kind, code, key=None, modifiers=(), key_code=None):
        """A key event exactly as given (Chromium's DevTools): kind 'keyDown' or 'keyUp', even a
        keydown of a key already down that is no repeat, or one of an input method (key_code 229)."""
        self.cannot('raw_keys')
        self._key_event(kind, code, key, modifiers, False, key_code)

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

    def mouse(self, action, x=None, y=None):
        """The mouse: action 'move' (to x, y in the page), 'down' or 'up' (the left button)."""
        if self.engine == 'chromium':
            kinds = {'move': 'mouseMoved', 'down': 'mousePressed', 'up': 'mouseReleased'}
            if x is None:
                x, y = self.mouse_at
            self.cdp('Input.dispatchMouseEvent', type=kinds[action], x=x, y=y, button='left',
                     buttons=1 if action == 'down' else 0, clickCount=1)
        elif self.engine == 'firefox':
            self.driver.call('mouse', action=action, x=x, y=y)
        else:
            from selenium.webdriver.common.actions.action_builder import ActionBuilder
            actions = ActionBuilder(self.driver)
            if action == 'move':
                actions.pointer_action.move_to_location(int(x), int(y))
            elif action == 'down':
                actions.pointer_action.pointer_down()
            else:
                actions.pointer_action.pointer_up()
            actions.perform()
        if action == 'move':
            self.mouse_at = (x, y)

    def pointer_down(self, label, by='touch'):
        """A finger (by='touch') or the mouse (by='mouse') goes down on a touch key."""
        centre = self.touch_key_centre(label)
        if centre is None:
            raise PageError(f'the touch key {label} is not shown')
        if by == 'mouse':
            self.mouse('move', *centre)
            self.mouse('down')
            return
        self.fingers[label] = self.next_finger
        self.next_finger += 1
        self.cdp('Input.dispatchTouchEvent', type='touchStart', touchPoints=self._touch_points())

    def pointer_up(self, label, by='touch'):
        """The finger (or mouse button) on a touch key lifts."""
        if by == 'mouse':
            self.mouse('up')
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
        self.had_focus = self.page()['focused']  # headless Firefox's page never has it
        if self.engine == 'firefox':
            self.driver.call('away')
            return
        self.driver.switch_to.new_window('tab')
        self.other_tab = self.driver.current_window_handle

    def regain_focus(self):
        """The other tab closes; the page is in front again, with the focus."""
        if self.engine == 'firefox':
            self.driver.call('back')
        else:
            self.driver.switch_to.window(self.other_tab)
            self.driver.close()
            self.other_tab = None
            self.driver.switch_to.window(self.main_tab)
        self.wait_until(lambda p: not p['hidden'] and p['focused'] == self.had_focus, 10,
                        'the page to have the focus again')

    # --- what the page shows

    def page(self):
        """The page's state: state, error, games, exit_status, hidden, focused, settled, let_go,
        offline."""
        return self.driver.execute_script('''
            const b = window.bootcamp;
            return {state: b ? b.state : 'no page', error: b ? b.error : '', games: b ? b.games : 0,
                    exit_status: b ? b.exitStatus : null, hidden: document.hidden,
                    focused: document.hasFocus(), settled: b ? b.settled() : false,
                    let_go: b ? b.letGo : 0, offline: b ? b.offline : false};''')

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
        self.mouse('move', x, y)
        self.mouse('down')
        self.mouse('up')

    def new_game(self):
        """Starts a new game as a player does once one has ended: a click on New game."""
        games = self.page()['games']
        self.click('new-game')
        self.wait_until(lambda p: p['games'] > games and p['state'] != 'loading', 30, 'the new game to start')

    def screenshot(self, path):
        self.driver.save_screenshot(path)

    def console(self):
        """What the page wrote to the browser's console since last asked; None where the
        engine's WebDriver cannot tell (WebKit's)."""
        return None if self.engine == 'webkit' else self.driver.get_log('browser')

    # --- the text view, what the page says, and who can use it

    def view(self):
        """{'shown': 'text' or 'terminal', 'chosen': the player's choice or None,
        'terminalTextPx': the terminal's text size in CSS px in the terminal view}."""
        return self.driver.execute_script('return window.bootcamp.view();')

    def text_view(self):
        """The text view as the page shows it: lines [row, text] of the Event's side, the
        effects line ('' when none is shown), the panel's title, the gauges (the text of each,
        its meter's value, min and max as exposed to assistive technology, and the meter's low,
        high and optimum), and the game's keys shown ([key, label, chosen, disabled])."""
        return self.driver.execute_script('''
            const shown = (e) => !e.closest('[hidden]');
            const effects = document.querySelector('#story .effects');
            const gauges = document.getElementById('gauges');
            return {
              lines: [...document.querySelectorAll('#story [data-row]')].map((line) =>
                [Number(line.dataset.row), line.textContent.replace(/^\\n+/, '')]),
              effects: effects ? effects.textContent : '',
              keys: [...document.querySelectorAll('#game-keys button[data-key]')].filter(shown).map((b) =>
                [b.dataset.key, b.textContent, b.getAttribute('aria-current') === 'true',
                 b.getAttribute('aria-disabled') === 'true']),
              title: shown(gauges) ? document.getElementById('gauges-title').textContent : '',
              gauges: shown(gauges) ? [...gauges.querySelectorAll('li')].map((li) => {
                const meter = li.querySelector('meter, [role=meter], [role=progressbar]');
                const number = (name, property) => Number(meter.getAttribute(name) ?? meter[property]);
                return {text: li.querySelector('label').textContent, value: number('aria-valuenow', 'value'),
                        min: number('aria-valuemin', 'min'), max: number('aria-valuemax', 'max'),
                        low: meter.low, high: meter.high, optimum: meter.optimum};
              }) : [],
            };''')

    def looks(self):
        """How the game's text and the touch keys stand in the viewport (CSS px): the game's
        text size in the view shown (the smallest, in the terminal its font size times its
        scale), whether the page is wider than the viewport, the boxes of the text view's
        lines (its game keys among them), of its gauges and of the touch keys ([left, top,
        right, bottom], None when not shown), the shortest side of any button shown."""
        return self.driver.execute_script('''
            const box = (e) => { const r = e.getBoundingClientRect();
                                 return r.width > 0 && r.height > 0 ? [r.left, r.top, r.right, r.bottom] : null; };
            const size = (e) => parseFloat(getComputedStyle(e).fontSize);
            const texts = [...document.querySelectorAll('#story p, #game-keys button, #gauges label')].filter((e) => box(e));
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
              lines: [...document.querySelectorAll('#story [data-row]:not(.answer), #game-keys button')]
                .map(box).filter(Boolean),
              gauges: [...document.querySelectorAll('#gauges li')].map(box).filter(Boolean),
              touchKeys: box(document.getElementById('touch-keys')),
              terminal: terminal ? box(terminal) : null,
              hint: box(document.getElementById('turn-hint')) !== null,
              buttonPx: Math.min(...[...document.querySelectorAll('button')].map(box).filter(Boolean)
                .map(([left, top, right, bottom]) => Math.min(right - left, bottom - top))),
            };''')

    def heard(self):
        """What the page's live regions said since it was opened: {'regions': [id, politeness]
        of each, 'said': one entry for each node added with text, its lines in order (a line
        break or a no-break blank parts them)}. A screen reader says one node at once, whole;
        several added at once come in any order."""
        return self.driver.execute_script('return window.bootcampHeard;')

    def _listen(self):
        """Notes, from now on, every text added to the page's live regions (elements with
        aria-live), grouped by the change that added it; text already there counts as said."""
        self.driver.execute_script('''
            const regions = [...document.querySelectorAll('[aria-live]')]
              .filter((r) => r.getAttribute('aria-live') !== 'off');
            const heard = {regions: regions.map((r) => [r.id, r.getAttribute('aria-live')]), said: []};
            window.bootcampHeard = heard;
            const lines = (text) => text.split(/[\\n\\u00a0]/).map((t) => t.trimEnd()).filter((t) => t.trim());
            for (const node of regions.flatMap((r) => [...r.childNodes])) {
              if (lines(node.textContent).length) heard.said.push(lines(node.textContent));
            }
            const observer = new MutationObserver((records) => {
              for (const r of records) {
                for (const node of r.type === 'characterData' ? [r.target] : r.addedNodes) {
                  if (lines(node.textContent).length) heard.said.push(lines(node.textContent));
                }
              }
            });
            for (const r of regions) observer.observe(r, {childList: true, subtree: true, characterData: true});''')

    def spoken(self):
        """The texts assistive technology can reach: the accessibility tree's text nodes, as the
        browser exposes them (Chromium's protocol: the one thing here that no page script sees)."""
        self.cannot('accessibility_tree')
        nodes = self.cdp('Accessibility.getFullAXTree')['nodes']
        return [n['name']['value'].strip() for n in nodes
                if not n.get('ignored') and n.get('role', {}).get('value') == 'StaticText']

    def focused(self):
        """The id of the element with the focus, its tag when it has none, or None when the
        focus is not in the page (headless Firefox's page never has the focus by
        document.hasFocus(): there, an element is focused while it is the active one)."""
        return self.driver.execute_script('''
            const e = document.activeElement;
            if (!(document.hasFocus() || arguments[0]) || !e || e === document.body) return null;
            return e.id || e.tagName.toLowerCase();''', self.engine == 'firefox')

    def focus(self, element_id):
        """The element with this id gets the keyboard's focus (as Tab or a screen reader puts it
        there)."""
        self.driver.execute_script('document.getElementById(arguments[0]).focus();', element_id)

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
