"""The pseudo-terminal driver: the rig itself is the terminal, rendered by pyte.

It answers the game's questions as the terminal it plays (start options):
  answers=True      answers the keyboard flags query, as a terminal with the kitty protocol;
                    False: a legacy terminal that answers nothing
  honours=N         takes pushed flags only as far as N's bits go (9, 13: no event types)
  reply_delay=S     every answer goes out S seconds late (a slow link)
  decrqm={1035: True}   DEC modes it knows and reports (xterm's NumLock mode); others: unknown
  ctty=False        the game gets no controlling terminal
  args=[...]        the game's command line
  repeat=(D, I)     held keys repeat after D ms, then every I ms (default REPEAT_DELAY, REPEAT_EVERY)
Keys are encoded as such a terminal would with the flags in force: kitty events (press, repeat,
release) with event types, escape codes without them, plain bytes before any push. A key held
down repeats as X's autorepeat does until it is released or another key goes down. While the
focus is away (focus_away) keys go to another window: nothing is sent.
"""
import errno
import fcntl
import os
import re
import select
import struct
import termios
import time

from .driver import PYTHON, POLL, ShellDriver, Skip, _die_with_parent
from .model import Screen

try:
    import pyte
except ImportError:
    pyte = None

# The kitty keyboard control sequences: CSI ? u query, CSI > f u push, CSI < n u pop,
# CSI = f ; m u set; and DECRQM (CSI ? mode $ p), which pyte would print.
CONTROL_RE = re.compile(rb'\x1b\[([<>=?])([0-9;]*)u|\x1b\[\?(\d+)\$p')
MODE_RE = re.compile(rb'\x1b\[\?(\d+)([hl])|\x1b([=>])')
ESC_DONE_RE = re.compile(rb'\x1b(\[[0-?]*[ -/]*[@-~]|[^\[])')
# qemu-user's own line when a signal ends the program it runs (it says "core dumped" though the
# limit of 0 keeps any core from being written): the emulator's words, not the game's output.
EMULATOR_NOTE_RE = re.compile(rb'qemu: uncaught target signal [^\n]*\n')

REPEAT_DELAY, REPEAT_EVERY = 0.5, 0.033     # seconds: a fast setting, to test against
CTRL, NUM_LOCK = 4, 128
PRESS, REPEAT, RELEASE = 1, 2, 3
EVENT_TYPES, ALL_KEYS = 2, 8
# key name: (kitty code, modifiers, legacy bytes)
KEYS = {'enter': (13, 0, b'\r'), 'q': (113, 0, b'q'), 'ctrl+c': (99, CTRL, b'\x03'),
        'ctrl+z': (122, CTRL, b'\x1a'), 'kp_enter': (57414, NUM_LOCK, None), 'kp1': (57400, NUM_LOCK, None)}
KEYS.update({str(d): (48 + d, 0, str(d).encode()) for d in range(10)})


def kitty_key(code, mods=0, event=PRESS):
    """One key event as kitty writes it: the modifier field only when needed for a press."""
    if event == PRESS:
        return (f'\x1b[{code}u' if not mods else f'\x1b[{code};{mods + 1}u').encode()
    return f'\x1b[{code};{mods + 1}:{event}u'.encode()


class PtyDriver(ShellDriver):
    name = 'pty'
    caps = frozenset({'layout', 'cursor', 'releases', 'jobs', 'signals', 'resize', 'focus', 'keypad', 'shell',
                      'terminal', 'repeat', 'autorepeat', 'repeat_setting', 'bytes', 'scribble', 'no_terminal',
                      'args'})
    size = (140, 40)

    def variants(self):
        # kitty, and a legacy terminal that knows xterm's NumLock mode
        return [('kitty', {}, self.caps),
                ('legacy', {'answers': False, 'decrqm': {1035: True}}, self.caps - {'releases'} | {'legacy'})]

    def __init__(self, game, work):
        super().__init__(game, work)
        if pyte is None:
            raise Skip('this python cannot import pyte (apt-get install python3-pyte; run /usr/bin/python3)')
        self.fd = self.child = None

    def start(self, cols=140, rows=40, jobs=False, answers=True, honours=None, reply_delay=0.0, decrqm=None,
              ctty=True, repeat=None, args=()):
        self.cols, self.rows = cols, rows
        self.repeat_delay, self.repeat_every = (repeat[0] / 1000, repeat[1] / 1000) if repeat else (REPEAT_DELAY,
                                                                                                    REPEAT_EVERY)
        self.answers, self.honours, self.reply_delay = answers, honours, reply_delay
        self.decrqm = dict(decrqm or {})
        self.decrqm_at_start = dict(self.decrqm)
        self.flags = [0]            # the kitty flag stack; its top is in force
        self.dec = {}               # DEC private modes the game set (True) or reset (False); '=': keypad
        self.focused = True
        self.raw = bytearray()      # every byte the game wrote
        self.chunks = []            # (time, bytes) per read
        self.delayed = []           # (due, answer)
        self.repeating = None       # [key, due]: the held key the system repeats
        self.pending = b''
        self.screen_ = pyte.Screen(cols, rows)
        self.stream = pyte.ByteStream(self.screen_)
        master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', rows, cols, 0, 0))
        argv = self.inside(cols, rows, jobs, args=args)
        env = dict(os.environ, TERM='xterm-256color')
        pid = os.fork()
        if pid == 0:
            try:
                os.close(master)
                os.setsid()
                if ctty:
                    fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
                for fd in (0, 1, 2):
                    os.dup2(slave, fd)
                os.close(slave)
                _die_with_parent()
                os.execve(PYTHON, argv, env)
            finally:
                os._exit(127)
        os.close(slave)
        self.fd, self.child = master, pid
        if not self.wait_until(lambda: self.note('started'), 20):
            raise AssertionError('the game did not start')
        self.pid = self.note('started')

    # ---- keys ------------------------------------------------------------------------------
    def send(self, data):
        if self.fd is not None:
            try:
                os.write(self.fd, data)
            except OSError as error:
                if error.errno not in (errno.EIO, errno.EBADF):
                    raise

    def encode(self, key, event):
        code, mods, legacy = KEYS[key]
        flags = self.flags[-1]
        if flags & EVENT_TYPES:
            return kitty_key(code, mods, event)
        if event == RELEASE:
            return b''
        if flags & ALL_KEYS or (flags and mods & CTRL):
            return kitty_key(code, mods)
        if legacy is None:          # the keypad, NumLock on
            keypad_app = self.dec.get('=') and self.decrqm.get(1035) is False
            return {'kp1': b'\x1bOq' if keypad_app else b'1',
                    'kp_enter': b'\x1bOM' if self.dec.get('=') else b'\r'}[key]
        return legacy

    def keys(self, *events):
        self.repeating = None       # another key down, or this one up: its repeats stop
        if self.focused:
            self.send(b''.join(self.encode(key, event) for key, event in events))

    def press(self, key):
        self.keys((key, PRESS))
        self.repeating = [key, time.monotonic() + self.repeat_delay]

    def hold(self, seconds):
        self.settle(seconds)

    def repeat(self, key):
        self.keys((key, REPEAT))

    def release(self, key):
        self.keys((key, RELEASE))

    def tap(self, key):
        self.keys((key, PRESS), (key, RELEASE))

    def type(self, *keys):
        self.keys(*[(k, e) for k in keys for e in (PRESS, RELEASE)])

    def focus_away(self):
        if self.dec.get(1004):
            self.send(b'\x1b[O')
        self.focused = False
        self.repeating = None

    def focus_back(self):
        self.focused = True
        if self.dec.get(1004):
            self.send(b'\x1b[I')

    def releases_followed(self):
        # the flags confirmed with event types; the game reads that answer before any later key
        return not self.answers or bool(self.flags[-1] & EVENT_TYPES) and not self.delayed

    # ---- the game's output -----------------------------------------------------------------
    def answer(self, data):
        if self.reply_delay:
            self.delayed.append((time.monotonic() + self.reply_delay, data))
        else:
            self.send(data)

    def on_output(self, data):
        if self.emulator:
            data = EMULATOR_NOTE_RE.sub(b'', data)
        self.raw += data
        self.chunks.append((time.monotonic(), bytes(data)))
        data = self.pending + data
        cut = data.rfind(b'\x1b')
        if cut != -1 and not ESC_DONE_RE.match(data, cut):
            data, self.pending = data[:cut], data[cut:]
        else:
            self.pending = b''
        for match in MODE_RE.finditer(data):
            if match.group(3):
                self.dec['='] = match.group(3) == b'='
            else:
                mode = int(match.group(1))
                self.dec[mode] = match.group(2) == b'h'
                if mode in self.decrqm:
                    self.decrqm[mode] = self.dec[mode]
        pos = 0
        for match in CONTROL_RE.finditer(data):
            self.stream.feed(data[pos:match.start()])
            pos = match.end()
            if match.group(3):
                mode = int(match.group(3))
                state = (1 if self.decrqm[mode] else 2) if mode in self.decrqm else 0
                self.answer(f'\x1b[?{mode};{state}$y'.encode())
                continue
            kind, nums = match.group(1), [int(x) for x in match.group(2).decode().split(';') if x] or [0]
            if kind == b'?' and self.answers:
                self.answer(f'\x1b[?{self.flags[-1]}u'.encode())
            elif kind == b'>':
                self.flags.append(nums[0] if self.honours is None else nums[0] & self.honours)
            elif kind == b'<':
                for _ in range(nums[0] or 1):
                    if len(self.flags) > 1:
                        self.flags.pop()
            elif kind == b'=':
                self.flags[-1] = nums[0]
        self.stream.feed(data[pos:])

    def read_once(self, wait):
        """One read of the game's output, waiting up to `wait` s; False once nothing is left."""
        while self.delayed and self.delayed[0][0] <= time.monotonic():
            self.send(self.delayed.pop(0)[1])
        if self.repeating and self.repeating[1] <= time.monotonic():
            if self.focused:
                self.send(self.encode(self.repeating[0], REPEAT))
            self.repeating[1] += self.repeat_every
        if self.fd is None:
            return False
        if self.delayed:
            wait = min(wait, self.delayed[0][0] - time.monotonic())
        if self.repeating:
            wait = min(wait, self.repeating[1] - time.monotonic())
        if not select.select([self.fd], [], [], max(0.0, wait))[0]:
            return True
        try:
            data = os.read(self.fd, 65536)
        except OSError as error:
            if error.errno in (errno.EIO, errno.EBADF):
                return False
            raise
        if data:
            self.on_output(data)
        return bool(data)

    def wait_until(self, check, timeout):
        end = time.monotonic() + timeout
        while True:
            value = check()
            left = end - time.monotonic()
            if value or left <= 0:
                return value
            if not self.read_once(min(POLL, left)):
                time.sleep(min(POLL, max(0.0, left)))

    def settle(self, seconds):
        """Reads the output for exactly this long: the time in which nothing may happen."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if not self.read_once(end - time.monotonic()):
                time.sleep(max(0.0, min(POLL, end - time.monotonic())))

    def screen(self):
        self.read_once(0)
        return Screen(self.screen_.display, (self.screen_.cursor.y, self.screen_.cursor.x))

    # ---- the terminal ----------------------------------------------------------------------
    def scribble(self, data):
        """Output of some other program on the terminal."""
        self.stream.feed(data)

    def resize(self, cols, rows):
        self.cols, self.rows = cols, rows
        self.screen_.resize(rows, cols)
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack('HHHH', rows, cols, 0, 0))

    def hang_up(self):
        """The terminal goes away."""
        os.close(self.fd)
        self.fd = None

    def stop(self):
        super().stop()
        if self.child is not None:
            os.waitpid(self.child, 0)
            self.child = None
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None
