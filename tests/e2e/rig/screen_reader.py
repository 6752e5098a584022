"""Orca, the screen reader of Linux desktops, listening to a browser as a blind player's does:
an X display, a session bus with the accessibility bus on it, speech through a private
speech-dispatcher that speaks to no sound card, and Orca writing every utterance to its debug
log, which spoken() reads back.

What it takes to hear anything (Debian 12, Orca 43; as root, no sound card):
- everything runs on one X display and one session bus of its own; the accessibility bus
  (org.a11y.Bus) is started by that bus the first time a client asks, and ends with it;
- Orca's speech goes to speech-dispatcher. With Debian's own settings (pulse output, and no sound
  server here) Orca hangs at its third utterance; a private speech-dispatcher with libao's null
  driver speaks into nothing and never blocks. It is started here, not spawned by Orca's client,
  so that it is one of the processes this rig ends;
- Orca writes its debug log through a buffered file, so lines come late or only at its end: it
  is started by a small wrapper that opens the log line-buffered before Orca's main runs, at the
  level that holds "SPEECH OUTPUT" lines and little else;
- Orca reads a whole page aloud when it loads, at a moment that depends on timing; that is
  turned off (sayAllOnLoad), and so are key echo and the page summary, which say nothing of the
  game's;
- only one Orca of a user runs at a time: one ScreenReader at a time;
- keys go through X (xdotool, XTEST), where Orca sees them before the browser does: in browse
  mode, a web page's default, it takes the digits as its own keys (1 is "next heading of level 1").
  Orca+A (Insert+A) toggles browse and focus mode.

It needs orca, at-spi2-core, dbus (dbus-daemon), speech-dispatcher with espeak-ng, xvfb and
xdotool (missing() says what is not there).
"""
import json
import os
import re
import shutil
import subprocess

from .browser_driver import BrowserDriver
from .driver import PYTHON, Processes, Skip, run, wait_until
from .gui_drivers import start_xvfb

TOOLS = (('/usr/bin/orca', 'orca'), ('/usr/bin/dbus-daemon', 'dbus-daemon'),
         ('/usr/libexec/at-spi-bus-launcher', 'at-spi2-core'), ('/usr/bin/speech-dispatcher', 'speech-dispatcher'),
         ('/usr/lib/speech-dispatcher-modules/sd_espeak-ng', 'speech-dispatcher-espeak-ng'),
         ('/usr/bin/Xvfb', 'xvfb'), ('/usr/bin/xdotool', 'xdotool'))

# Orca started with its debug log line-buffered; argv: log, prefs folder.
WRAPPER = '''
import runpy, sys
from orca import debug
debug.debugLevel = debug.LEVEL_INFO
debug.eventDebugLevel = debug.LEVEL_OFF
debug.debugFile = open(sys.argv[1], 'w', buffering=1)
sys.argv = ['orca', '--user-prefs', sys.argv[2]]
runpy.run_path('/usr/bin/orca', run_name='__main__')
'''
SETTINGS = {'sayAllOnLoad': False, 'pageSummaryOnLoad': False, 'enableKeyEcho': False,
            'enableEchoByCharacter': False, 'enableEchoByWord': False, 'enableTutorialMessages': False,
            'firstStart': False}
# An utterance in Orca's log: its time, then the text in quotes (lines after the first indented
# by 18 blanks), then the voice.
UTTERANCE = re.compile(r"^\d\d:\d\d:\d\d\.\d+ - SPEECH OUTPUT: '(.*)'(?: voice=\w+)?(\{.*\})?$", re.S)


def missing():
    """Why Orca cannot be heard here (a tool missing), or None."""
    for path, package in TOOLS:
        if not os.access(path, os.X_OK):
            return f'{path} not found (apt-get install {package})'
    try:
        subprocess.run([PYTHON, '-c', 'import pyatspi'], check=True, capture_output=True, timeout=30)
    except subprocess.CalledProcessError:
        return 'pyatspi not found (apt-get install python3-pyatspi)'
    return None


class ScreenReader:
    """Xvfb, a session bus, speech-dispatcher and Orca, started by start() and ended by stop()
    (only these, by their ids, and what the bus started for them). env is the environment a
    browser needs to be heard."""

    def __init__(self, work):
        self.work = work
        self.procs = Processes()
        self.env = None
        self.log = os.path.join(work, 'orca.log')
        self.bus = None
        self.orca = None

    def start(self):
        home = os.path.join(self.work, 'home')
        runtime = os.path.join(self.work, 'run')
        os.makedirs(home, exist_ok=True)
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if k not in ('WAYLAND_DISPLAY', 'DBUS_SESSION_BUS_ADDRESS')}
        env.update(HOME=home, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(home, '.config'),
                   XDG_DATA_HOME=os.path.join(home, '.local', 'share'), NO_AT_BRIDGE='0', GNOME_ACCESSIBILITY='1',
                   ACCESSIBILITY_ENABLED='1', LANG='C.UTF-8')
        env['DISPLAY'] = start_xvfb(self.procs, os.path.join(self.work, 'xvfb.log'), '1280x900x24')
        read_end, write_end = os.pipe()
        self.bus = self.procs.start(['dbus-daemon', '--session', '--nofork', f'--print-address={write_end}'],
                                    os.path.join(self.work, 'dbus.log'), env=env, pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as f:
            address = f.readline().strip()  # once the bus listens
        if not address:
            raise AssertionError('the session bus did not start')
        env['DBUS_SESSION_BUS_ADDRESS'] = address
        self.env = env
        self._speech(home)
        # the accessibility bus, started on the session bus by the first client that asks
        if not wait_until(lambda: run([PYTHON, '-c', 'import pyatspi; pyatspi.Registry.getDesktop(0)'],
                                      env=env, timeout=30).returncode == 0, 30, 0.5):
            raise AssertionError('the accessibility bus did not start')
        prefs = os.path.join(self.work, 'orca-prefs')
        os.makedirs(prefs, exist_ok=True)
        with open(os.path.join(prefs, 'user-settings.conf'), 'w') as f:
            json.dump({'general': SETTINGS, 'pronunciations': {}, 'keybindings': {},
                       'profiles': {'default': {'profile': ['Default', 'default']}}}, f)
        self.orca = self.procs.start([PYTHON, '-c', WRAPPER, self.log, prefs], os.path.join(self.work, 'orca.out'),
                                     env=env)
        if not wait_until(lambda: self.ready() or self.orca.poll() is not None, 60, 0.2) or self.orca.poll() is not None:
            with open(os.path.join(self.work, 'orca.out'), errors='replace') as f:
                raise AssertionError(f'Orca did not start: {f.read()[-500:]!r}')

    def _speech(self, home):
        """speech-dispatcher with Debian's settings, but its sound to libao's null driver."""
        config = os.path.join(self.work, 'speech-dispatcher')
        shutil.copytree('/etc/speech-dispatcher', config, dirs_exist_ok=True)
        with open(os.path.join(config, 'speechd.conf'), 'a') as f:
            f.write('\nAudioOutputMethod "libao"\nDefaultModule espeak-ng\n')
        with open(os.path.join(home, '.libao'), 'w') as f:
            f.write('default_driver=null\n')
        socket = os.path.join(self.env['XDG_RUNTIME_DIR'], 'speech-dispatcher', 'speechd.sock')
        os.makedirs(os.path.dirname(socket), exist_ok=True)
        self.procs.start(['speech-dispatcher', '--run-single', '--timeout', '0', '--config-dir', config,
                          '--socket-path', socket, '--log-dir', self.work], os.path.join(self.work, 'speechd.out'),
                         env=self.env)
        if not wait_until(lambda: os.path.exists(socket), 20, 0.1):
            raise AssertionError('speech-dispatcher did not start')

    def ready(self):
        """Orca has started and listens."""
        return any('About to launch Orca' in line for line in self._lines())

    def _lines(self):
        try:
            with open(self.log, errors='replace') as f:
                return f.read().split('\n')
        except FileNotFoundError:
            return []

    def spoken(self):
        """Every utterance so far, in order."""
        said, current = [], None
        for line in self._lines():
            if current is not None and line.startswith(' ' * 18):
                current.append(line[18:])
                continue
            if current is not None:
                said.append('\n'.join(current))
                current = None
            if ' - SPEECH OUTPUT: ' in line:
                current = [line]
        if current is not None:
            said.append('\n'.join(current))
        texts = []
        for entry in said:
            found = UTTERANCE.match(entry)
            if found:
                texts.append(found.group(1))
        return texts

    def key(self, *keys):
        """Keys through X, to the window with the focus: xdotool's names (Return, 1, Insert+a)."""
        run(['xdotool', 'key', '--delay', '60', *keys], env=self.env).check_returncode()

    def stop(self):
        """Orca, speech-dispatcher and the bus with whatever it started (the accessibility bus and
        its registry), then the display. Only what this reader started, by id."""
        if self.bus is not None:
            for pid in descendants(self.bus.pid):
                end(pid)
        self.procs.stop_all()


def descendants(root):
    """The processes started by `root`, children before their parents' other children."""
    parents = {}
    for entry in os.listdir('/proc'):
        if entry.isdigit():
            try:
                with open(f'/proc/{entry}/stat') as f:
                    parents[int(entry)] = int(f.read().rsplit(') ', 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                pass
    found, grew = [root], True
    while grew:
        grew = False
        for pid, parent in parents.items():
            if parent in found and pid not in found:
                found.append(pid)
                grew = True
    return found[1:]


def end(pid):
    try:
        os.kill(pid, 15)
    except ProcessLookupError:
        pass
    wait_until(lambda: not os.path.exists(f'/proc/{pid}') or
               open(f'/proc/{pid}/stat').read().split(') ')[-1].startswith('Z'), 5, 0.05)


class OrcaDriver(BrowserDriver):
    """The page in Chromium and in Firefox (a variant each), in a window on the screen reader's
    display, its keys through X, so that Orca takes the ones it takes in browse mode; the screen
    read from the page's terminal, and reader.spoken() what Orca said."""
    name = 'orca'
    all_caps = frozenset({'page', 'screen_reader'})
    engines = ('chromium', 'firefox')
    scenarios = ('page_heard',)  # a run takes long with a screen reader: only what it hears
    X_KEYS = {'enter': 'Return', 'q': 'q', **{str(d): str(d) for d in range(10)}}

    def __init__(self, game, work):
        why = missing()
        if why:
            raise Skip(why)
        super().__init__(game, work)
        self.reader = None

    def variants(self):
        return [(engine, {'engine': engine}, self.caps) for engine in self.engines]

    def setup(self):
        self.reader = ScreenReader(os.path.join(self.work, 'reader'))
        os.makedirs(self.reader.work, exist_ok=True)
        try:
            self.reader.start()
        except BaseException:
            self.reader.stop()
            raise

    def start(self, cols, rows, engine='chromium', **page):
        """The page loaded afresh in `engine`'s window, with the keyboard's focus in it."""
        super().start(cols, rows, engine=engine, env=self.reader.env, **page)
        for _ in range(4):  # Firefox opens with the focus in its address bar: F6 goes to the page
            if wait_until(lambda: self.session.page()['focused'], 3):
                return
            self.reader.key('F6')
        raise AssertionError(f'{engine}: the page never had the focus')

    def press(self, key):
        run(['xdotool', 'keydown', self.X_KEYS[key]], env=self.reader.env).check_returncode()

    def release(self, key):
        run(['xdotool', 'keyup', self.X_KEYS[key]], env=self.reader.env).check_returncode()

    def tap(self, key):
        self.reader.key(self.X_KEYS[key])

    def close(self):
        super().close()
        if self.reader is not None:
            self.reader.stop()
            self.reader = None
