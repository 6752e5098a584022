"""Real terminals with real key events: kitty and xterm under Xvfb with openbox, foot under a
headless sway.

Each terminal runs inside.py, which starts the game and notes the modes around it; the display
server lives from the driver's first game to close(). Keys come from xdotool (X: XTEST, to the
focused window) or from one virtual keyboard kept open on sway's seat. The screen is read back
as text: kitty's remote control, xterm's print-immediate, foot's pipe-visible.
"""
import json
import os
import re
import select
import shutil
import signal
import socket
import sys
import tempfile
import time

from .driver import INSIDE, PYTHON, Processes, ShellDriver, need, run, wait_until
from .model import Screen
from .wayland_keyboard import Keyboard

X_KEYS = {'enter': 'Return', 'kp_enter': 'KP_Enter', 'q': 'q', 'ctrl+c': 'ctrl+c', 'ctrl+z': 'ctrl+z',
          'kp1': 'KP_End', **{str(d): str(d) for d in range(10)}}    # KP_End is keypad 1 with NumLock on
WL_KEYS = {'enter': ['Return'], 'kp_enter': ['KP_Enter'], 'q': ['q'], 'ctrl+c': ['Control_L', 'c'],
           'ctrl+z': ['Control_L', 'z'], 'kp1': ['KP_1'], **{str(d): [str(d)] for d in range(10)}}
FONT = 'DejaVu Sans Mono'


def rows_from_text(text, cols):
    """A terminal's text as rows of at most `cols` (kitty and foot join a wrapped row with the next)."""
    rows = []
    for line in text.split('\n'):
        rows += [line[i:i + cols] for i in range(0, max(len(line), 1), cols)]
    return rows


class GuiDriver(ShellDriver):
    """A terminal window kept from one game to the next while the size stays: inside.py starts
    each game anew in it (a terminal takes about a second to start)."""
    caps = frozenset({'layout', 'jobs', 'signals', 'focus', 'keypad', 'shell', 'terminal'})
    ask = r'\x1b[?u\x1b[c'
    session = None
    window = None       # (cols, rows, inside.py's pid) of the open terminal

    def __init__(self, game, work):
        super().__init__(game, work)
        need(*self.tools, package=self.packages)
        if os.geteuid() == 0:
            need('setpriv', package='util-linux')
        self.next = os.path.join(work, 'next-game.json')

    def setup(self):
        self.session = self.Session(self.work)

    def start(self, cols, rows, jobs=False):
        self.cols, self.rows = cols, rows
        if self.window and self.window[:2] == (cols, rows) and all(p.poll() is None for p in self.procs.started):
            with open(self.next, 'w') as f:
                json.dump([self.new_log(), jobs], f)
            os.kill(self.window[2], signal.SIGUSR2)
        else:
            self.close_window()
            self.n = len(os.listdir(self.work))
            self.open(self.inside(cols, rows, jobs, self.ask, again=self.next))
        self.wait_started()
        self.window = (cols, rows, self.note('shell'))
        self.focus_back()

    def stop(self):
        """Ends the game, if it still runs; the terminal stays for the next."""
        pid = self.note('started')
        if pid and not self.ended():
            os.kill(pid, signal.SIGKILL)
            if self.stopped():
                os.kill(self.note('shell'), signal.SIGUSR1)     # it waits for fg
            wait_until(self.ended, 10)

    def listen(self, setup, keys):
        """What the terminal sends for `keys`, tapped one by one, to a program that wrote
        `setup` first (in a window of its own)."""
        self.close_window()
        self.n = len(os.listdir(self.work))
        self.open([PYTHON, '-I', '-S', INSIDE, self.new_log(), '--listen',
                   setup.decode('latin-1').encode('unicode_escape').decode(), '--'])
        self.window = (None, None, None)
        if not wait_until(lambda: self.note('listening'), 20):
            raise AssertionError(f'{self.name}: the listener did not start')
        self.focus_back()
        heard = lambda: b''.join(bytes.fromhex(n['heard']) for n in self.notes() if 'heard' in n)  # noqa: E731
        for key in keys:
            before = len(heard())
            self.tap(key)
            wait_until(lambda: len(heard()) > before, 5)
        found = heard()
        self.close_window()
        return found

    def close_window(self):
        if self.window:
            ShellDriver.stop(self)
            self.window = None

    def close(self):
        self.close_window()
        if self.session:
            self.session.close()
            self.session = None


# ---- X ------------------------------------------------------------------------------------------

def start_xvfb(procs, log, screen, *args):
    """An Xvfb on a free display, started by `procs`; its DISPLAY."""
    read_end, write_end = os.pipe()
    xvfb = procs.start(['Xvfb', '-displayfd', str(write_end), '-screen', '0', screen, '-nolisten', 'tcp', *args],
                       log, pass_fds=(write_end,))
    os.close(write_end)
    # the display number, once Xvfb is ready: a line on the pipe, within the deadline
    number, end = b'', time.monotonic() + 20
    while not number.endswith(b'\n') and xvfb.poll() is None:
        left = end - time.monotonic()
        if left <= 0:
            break
        if select.select([read_end], [], [], left)[0]:
            number += os.read(read_end, 16) or b'\n'
    os.close(read_end)
    if not number.strip():
        with open(log, errors='replace') as f:
            raise AssertionError(f'Xvfb did not start: {f.read()[-300:]!r}')
    return ':' + number.decode().strip()


class XSession:
    """Xvfb, with held keys repeating after `autorepeat` (first delay, interval, in ms: xset cannot
    change them once Xvfb runs); openbox for the focus; NumLock on; another window to give the
    focus to."""

    def __init__(self, work, autorepeat):
        self.procs = Processes()
        try:
            self.start(work, autorepeat)
        except BaseException:
            self.procs.stop_all()
            raise

    def start(self, work, autorepeat):
        delay, interval = autorepeat
        self.env = {k: v for k, v in os.environ.items() if k != 'WAYLAND_DISPLAY'}
        self.env['DISPLAY'] = start_xvfb(self.procs, os.path.join(work, f'xvfb-{delay}-{interval}.log'), '1600x900x24',
                                         '-ardelay', str(delay), '-arinterval', str(interval))
        wm = self.procs.start(['openbox'], os.path.join(work, f'openbox-{delay}-{interval}.log'), env=self.env)
        if not wait_until(lambda: 'window id' in self.x('xprop', '-root', '_NET_SUPPORTING_WM_CHECK'), 20, 0.05):
            with open(os.path.join(work, f'openbox-{delay}-{interval}.log')) as log:
                raise AssertionError(f'openbox did not start ({"ended " + str(wm.poll()) if wm.poll() is not None else "runs"}'
                                     f', said {log.read()[-300:]!r})')
        self.x('numlockx', 'on')
        # A window mapped while openbox is still taking over the screen can stay unmapped: then
        # it is started again.
        for attempt in range(3):
            other = self.procs.start(['xmessage', '-geometry', '+1300+700', '-title', 'bc-other', 'another window'],
                                     env=self.env)
            try:
                self.other = self.window('--onlyvisible', '--name', '^bc-other$', timeout=10)
                return
            except AssertionError:
                print(f'# another window: try {attempt + 1} failed', file=sys.stderr)
                unmapped = self.x('xdotool', 'search', '--name', '^bc-other$').split()
                self.procs.stop(other)
        raise AssertionError(f'no other window after 3 tries (the last: {"unmapped" if unmapped else "none"})')

    def x(self, *argv):
        return run(list(argv), env=self.env).stdout

    def window(self, *search, timeout=30):
        wid = wait_until(lambda: self.x('xdotool', 'search', *search).split(), timeout, 0.05)
        if not wid:
            raise AssertionError(f'no window {search}')
        return wid[0]

    def focus(self, wid):
        """Gives the window the keyboard, and waits until X says it has it."""
        def focused():
            if self.x('xdotool', 'getwindowfocus').strip() == wid:
                return True
            self.x('xdotool', 'windowactivate', '--sync', wid)
            self.x('xdotool', 'windowfocus', '--sync', wid)
            return self.x('xdotool', 'getwindowfocus').strip() == wid
        if not wait_until(focused, 20, 0.05):
            raise AssertionError(f'the window {wid} never got the keyboard')

    def numlock(self):
        found = re.search(r'Num Lock:\s+(\w+)', self.x('xset', 'q'))
        return found.group(1) if found else None

    def close(self):
        self.procs.stop_all()


class XDriver(GuiDriver):
    Session = XSession
    autorepeat = (3000, 100)    # held keys repeat only after 3 s: a hold stays one press
    # what the X session needs, before the terminal's own
    x_tools = ('Xvfb', 'openbox', 'xdotool', 'xprop', 'xset', 'xmessage', 'numlockx')
    x_packages = 'xvfb openbox xdotool x11-utils x11-xserver-utils numlockx'

    def setup(self):
        self.sessions = {}
        self.use_session(self.autorepeat)

    def start(self, cols, rows, jobs=False, repeat=None):
        """start(repeat=(first delay, interval)): in an X session whose held keys repeat so."""
        self.use_session(tuple(repeat or self.autorepeat))
        super().start(cols, rows, jobs)

    def use_session(self, autorepeat):
        """The X session with this autorepeat (Xvfb takes it only when it starts), started the
        first time it is wanted and kept until close()."""
        if autorepeat in self.sessions and self.session is self.sessions[autorepeat]:
            return
        self.close_window()
        if autorepeat not in self.sessions:
            self.sessions[autorepeat] = self.Session(self.work, autorepeat)
        self.session = self.sessions[autorepeat]

    def close(self):
        self.close_window()
        for session in getattr(self, 'sessions', {}).values():
            session.close()
        self.sessions, self.session = {}, None

    def open(self, argv):
        self.procs.start(self.terminal(argv), os.path.join(self.work, f'{self.name}-{self.n}.log'),
                         env=self.terminal_env())
        self.wid = self.session.window('--onlyvisible', '--class', self.cls)

    @property
    def cls(self):
        return f'bc-{self.name}-{os.getpid()}-{self.n}'

    def terminal_env(self):
        return self.session.env

    def xdotool(self, *args):
        self.session.x('xdotool', *args)

    def press(self, key):
        self.xdotool('keydown', X_KEYS[key])

    def release(self, key):
        self.xdotool('keyup', X_KEYS[key])

    def tap(self, key):
        self.xdotool('key', X_KEYS[key])

    def type(self, *keys):
        self.xdotool('key', '--delay', '0', *(X_KEYS[k] for k in keys))

    def numlock(self):
        return self.session.numlock()

    def focus_away(self):
        self.session.focus(self.session.other)

    def focus_back(self):
        self.session.focus(self.wid)


class KittyDriver(XDriver):
    name = 'kitty'
    caps = GuiDriver.caps | {'cursor', 'releases'}
    size = (133, 15)
    tools = XDriver.x_tools + ('kitty',)
    packages = XDriver.x_packages + ' kitty libgl1-mesa-dri fonts-dejavu-core'

    def terminal(self, argv):
        self.sock = os.path.join(self.work, f'kitty-{self.n}.sock')
        return ['kitty', '--config', 'NONE', '-o', 'linux_display_server=x11', '-o', 'allow_remote_control=yes',
                '--listen-on', 'unix:' + self.sock, '-o', 'remember_window_size=no',
                '-o', f'initial_window_width={self.cols}c', '-o', f'initial_window_height={self.rows}c',
                '-o', 'shell_integration=disabled', '-o', f'font_family={FONT}', '-o', 'font_size=11',
                '-o', 'window_padding_width=4', '-o', 'enable_audio_bell=no', '-o', 'cursor_blink_interval=0',
                '--class', self.cls, '--title', 'bootcamp', *argv]

    def terminal_env(self):
        return dict(self.session.env, LIBGL_ALWAYS_SOFTWARE='1', KITTY_CONFIG_DIRECTORY=self.work)

    def screen(self):
        """kitty's remote control, straight over its socket (kitty @ takes half a second)."""
        command = {'cmd': 'get-text', 'version': [0, 26, 5], 'no_response': False,
                   'payload': {'extent': 'screen', 'cursor': True}}
        with socket.socket(socket.AF_UNIX) as s:
            s.connect(self.sock)
            s.sendall(b'\x1bP@kitty-cmd' + json.dumps(command).encode() + b'\x1b\\')
            data = b''
            while not data.endswith(b'\x1b\\'):
                data += s.recv(65536) or b'\x1b\\'
        text = json.loads(data[len(b'\x1bP@kitty-cmd'):-2] or b'{}').get('data', '')
        cursor = re.search(r'\x1b\[\?25[hl]\x1b\[(\d+);(\d+)H.*$', text, re.S)
        if cursor:
            text = text[:cursor.start()]
        return Screen(rows_from_text(text.rstrip('\n'), self.cols),
                      (int(cursor.group(1)) - 1, int(cursor.group(2)) - 1) if cursor else None)

    def screenshot(self, path):
        """The window as a PNG, once two shots in a row agree (kitty draws a moment after)."""
        need('import', package='imagemagick')
        shot = lambda: run(['import', '-window', self.wid, '-strip', 'png:-'], env=self.session.env,  # noqa: E731
                           text=False).stdout
        last = [shot()]

        def steady():
            last.append(shot())
            return last[-1] == last[-2]
        if not wait_until(steady, 10, 0):
            raise AssertionError('the window never held still for a screenshot')
        with open(path, 'wb') as f:
            f.write(last[-1])


class XtermDriver(XDriver):
    name = 'xterm'
    caps = GuiDriver.caps | {'legacy', 'numlock_mode', 'autorepeat', 'repeat_setting', 'own_size'}
    autorepeat = (500, 33)      # a fast setting: held keys send their character again and again
    size = (133, 17)
    ask = r'\x1b[?1035$p\x1b[?u\x1b[c'
    tools = XDriver.x_tools + ('xterm',)
    packages = XDriver.x_packages + ' xterm xfonts-base fonts-dejavu-core'

    own_size = False

    def start(self, cols, rows, jobs=False, repeat=None, own_size=False):
        """own_size: the window xterm opens at when asked for none (its own 80x24), not cols x rows."""
        if own_size != self.own_size:
            self.close_window()
        self.own_size = own_size
        super().start(cols, rows, jobs, repeat)

    def terminal(self, argv):
        self.prints = tempfile.mkdtemp(dir=self.work)
        size = '' if self.own_size else f'{self.cols}x{self.rows}'
        return ['xterm', '-class', self.cls, '-title', 'bootcamp', '-geometry', f'{size}+0+0',
                '-fa', FONT, '-fs', '10', '-xrm', f'*printFileImmediate: {self.prints}/screen',
                '-xrm', '*printOptsImmediate: 1', '-xrm', '*printModeImmediate: 0',
                '-xrm', '*VT100.translations: #override Ctrl Shift <Key>F12: print-immediate()', '-e', *argv]

    def screen(self):
        # print-immediate names its file after the second: each is taken away at once, so that
        # the next in the same second gets a name of its own
        self.xdotool('key', 'ctrl+shift+F12')

        def printed():
            for name in os.listdir(self.prints):
                with open(os.path.join(self.prints, name)) as f:
                    text = f.read()
                if text.count('\n') >= self.rows:
                    os.unlink(os.path.join(self.prints, name))
                    return text
            return None
        text = wait_until(printed, 15, 0.01)
        if text is None:
            raise AssertionError('xterm printed no screen')
        return Screen(rows_from_text(text, self.cols)[:self.rows])


# ---- Wayland ------------------------------------------------------------------------------------

class WaylandSession:
    """A headless sway (as nobody: sway will not run as root) with key repeat far off, one
    virtual keyboard on its seat, and another window to give the focus to."""

    def __init__(self, work):
        self.procs = Processes()
        self.runtime = tempfile.mkdtemp(prefix='bc-xdg.')  # not under work: nobody must reach it
        config = os.path.join(self.runtime, 'sway.config')
        with open(config, 'w') as f:
            f.write('output HEADLESS-1 resolution 1600x900 position 0 0\ndefault_border none\n'
                    'for_window [app_id="^bc-"] floating enable, move position 0 0\n'
                    'input type:keyboard {\n    repeat_delay 30000\n    repeat_rate 25\n}\n')
        as_user = []
        if os.geteuid() == 0:
            for path in (self.runtime, config):
                os.chown(path, 65534, 65534)
            as_user = ['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups']
        env = {k: v for k, v in os.environ.items() if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'SWAYSOCK')}
        env.update(XDG_RUNTIME_DIR=self.runtime, WLR_BACKENDS='headless', WLR_LIBINPUT_NO_DEVICES='1',
                   WLR_RENDERER='pixman', HOME='/tmp')
        self.procs.start([*as_user, 'sway', '-c', config], os.path.join(work, 'sway.log'), env=env)

        def sockets():
            names = os.listdir(self.runtime)
            wayland = [n for n in names if re.fullmatch(r'wayland-\d+', n)]
            ipc = [n for n in names if n.startswith('sway-ipc.')]
            return (wayland[0], ipc[0]) if wayland and ipc else None
        found = wait_until(sockets, 20, 0.05)
        if not found:
            raise AssertionError('sway did not start')
        self.env = dict(env, WAYLAND_DISPLAY=found[0], SWAYSOCK=os.path.join(self.runtime, found[1]),
                        HOME=os.environ.get('HOME', '/root'))
        self.keyboard = Keyboard(os.path.join(self.runtime, found[0]))
        self.keyboard.key('Shift_L', True)      # the seat's first key from a keyboard is lost
        self.keyboard.key('Shift_L', False)
        # A window that maps takes the keyboard: the other one maps now, before any game's.
        self.procs.start(['foot', '--app-id=bc-other', 'sleep', '100000'], env=self.env)
        if not wait_until(lambda: 'bc-other' in self.windows(), 20, 0.05):
            raise AssertionError('the other window never showed')

    def windows(self):
        """{app_id: whether it has the keyboard} of the windows sway shows."""
        found, nodes = {}, [json.loads(run(['swaymsg', '-t', 'get_tree'], env=self.env).stdout or '{}')]
        while nodes:
            node = nodes.pop()
            if node.get('app_id'):
                found[node['app_id']] = node.get('focused', False)
            nodes += node.get('nodes', []) + node.get('floating_nodes', [])
        return found

    def focus(self, app_id):
        """Gives the window the keyboard, once it shows; True when sway says it has it in time."""
        def focused():
            run(['swaymsg', f'[app_id="^{app_id}$"] focus'], env=self.env)
            return self.windows().get(app_id, False)
        return wait_until(focused, 20, 0.05)

    def close(self):
        if hasattr(self, 'keyboard'):
            self.keyboard.close()
        self.procs.stop_all()
        shutil.rmtree(self.runtime, ignore_errors=True)


class FootDriver(GuiDriver):
    name = 'foot'
    caps = GuiDriver.caps | {'releases'}
    size = (133, 17)
    Session = WaylandSession
    tools = ('sway', 'swaymsg', 'foot')
    packages = 'sway foot fonts-dejavu-core'

    def open(self, argv):
        self.app_id = f'bc-foot-{os.getpid()}-{self.n}'
        self.shot = os.path.join(self.work, f'visible-{self.n}')
        ini = os.path.join(self.work, f'foot-{self.n}.ini')
        with open(ini, 'w') as f:
            f.write(f'[main]\nfont={FONT}:size=10\n[key-bindings]\npipe-visible=[sh -c "cat > {self.shot}.part && '
                    f'mv {self.shot}.part {self.shot}"] Control+Shift+F12\n')
        self.procs.start(['foot', '-c', ini, f'--app-id={self.app_id}', f'--window-size-chars={self.cols}x{self.rows}',
                          *argv], os.path.join(self.work, f'foot-{self.n}.log'), env=self.session.env)

    def keys(self, names, down):
        for name in names if down else reversed(names):
            self.session.keyboard.key(name, down)

    def press(self, key):
        self.keys(WL_KEYS[key], True)

    def release(self, key):
        self.keys(WL_KEYS[key], False)

    def screen(self):
        if os.path.exists(self.shot):
            os.unlink(self.shot)
        self.keys(['Control_L', 'Shift_L', 'F12'], True)
        self.keys(['Control_L', 'Shift_L', 'F12'], False)
        if not wait_until(lambda: os.path.exists(self.shot), 15, 0.01):   # a loaded machine is slow to fork
            raise AssertionError('foot wrote no screen')
        with open(self.shot) as f:
            return Screen(rows_from_text(f.read(), self.cols)[:self.rows])

    def focus_away(self):
        if not self.session.focus('bc-other'):
            raise AssertionError('the other window never got the keyboard')

    def focus_back(self):
        if not self.session.focus(self.app_id):
            raise AssertionError('the foot window never got the keyboard')
