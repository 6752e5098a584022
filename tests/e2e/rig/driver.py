"""The one interface every way of running the game implements, and what the drivers share.

A driver runs the built game in one kind of terminal and gives a scenario:

  caps                          what it can do, from CAPS; the scenario table asks for these
  start(cols, rows, **opts)     the game started in a terminal of that size. Every driver takes
                                jobs=True (run as a shell's job: suspend with Ctrl+Z, resume());
                                others take options of their own (the pty: the terminal it plays)
  press(key) release(key)       a key goes down / comes up (release: only with 'releases')
  tap(key)                      down and up again
  type(*keys)                   taps typed ahead: they reach the game in one read
  hold(seconds)                 the keys stay as they are for this long (the player's own timing,
                                during which a held key repeats as the terminal repeats it)
  screen()                      the screen now: model.Screen (rows of text; the cursor, or None
                                where the driver cannot tell)
  wait_until(check, timeout)    calls check() until it is true or the time is up; returns it
  ended()                       None while the game runs, else ('exit', status) or ('signal', n)
  terminal_size()               (cols, rows) as the game was given them, None if unknown
  modes()                       the terminal's modes (termios, as text): {'before': ..., once
                                ended 'after': ...; 'stopped': ... while suspended}; {} if none
  unread(), asked(when)         keys the game left for the shell; the terminal's answer to a
                                question asked 'before' and 'after' the game (None: not known)
  releases_followed()           the game has been told that key releases are reported (True
                                where the driver cannot tell)
  setup(), stop(), close()      before the first game; after each; after the last: ends, by
                                process id, what the driver started

and, where its caps say so: signal(sig), resume() ('jobs'), resize(cols, rows) ('resize'),
focus_away() / focus_back() ('focus'), send(bytes) and the raw output ('bytes').
A browser driver would take keydown/keyup events and read the page's terminal buffer row by row;
everything else it leaves at the defaults below.

Key names: 'enter', 'kp_enter', 'q', '0' to '9', 'kp1', 'ctrl+c', 'ctrl+z'.

A driver says SKIP (raise Skip) when a tool it needs is missing. Everything it starts, it stops.
"""
import ctypes
import json
import os
import shutil
import signal
import subprocess
import termios
import time


CAPS = {
    'layout': 'escape sequences are carried out: rows and columns are checked exactly',
    'cursor': 'the cursor position can be read',
    'releases': 'key releases are reported to the game (the kitty keyboard protocol)',
    'jobs': 'job control: Ctrl+Z suspends, resume() continues',
    'signals': 'signals can be sent to the game',
    'resize': 'the terminal can be resized while the game runs',
    'focus': 'the keyboard focus can go to another window and come back',
    'keypad': 'keypad keys reach the game as a keypad sends them',
    'shell': "what the shell writes after the game is on the screen, under the game's rows",
    'bytes': "the game's raw output is seen, raw input sent, the terminal's answers scripted",
    'numlock_mode': "xterm's NumLock mode (1035), as the real xterm has it",
    'no_terminal': 'the game can be run with no terminal at all',
    'terminal': 'a terminal: Ctrl+C reaches the game, and its window can be smaller than the layout',
    'page': "the game's web page (its terminal always the layout's size; a new game after Q)",
    'touch': "the page's touch keys, held by fingers",
    'repeat': 'autorepeat of a key held down can be sent (repeat(key))',
    'autorepeat': "a key held down repeats as the system repeats it: in a terminal without releases, its "
                  'character again and again, after a first delay',
    'repeat_setting': "the system's key repeat can be set for a game: start(repeat=(first delay, interval)), in ms",
    'keyboard': "the page's keys come from a keyboard (not from its touch keys)",
    'layouts': 'a key can be sent as another keyboard layout types it (its code and its letter apart)',
    'raw_keys': 'a key event can be sent exactly as given: a held key down again with no repeat, a key '
                "of an input method's composition",
    'offline': "the page's service worker can be seen, its server stopped and given another site",
    'installable': "the browser's own check that the page can be installed",
    'preload': "a script can run in the page before the page's own (start(preload=...))",
    'phone': "a phone's screen can be emulated: its size, density and touch (start(device=...), emulate())",
    'accessibility_tree': "the browser's accessibility tree can be read (what assistive technology reaches)",
    'key_activation': 'Space or Enter on a focused button presses it, as the browser does for a keyboard',
    'tab_out': "Tab moves the focus out of the page, to the browser's own controls",
    'args': "the game can be started with a command line (start(args=[...]))",
    'own_size': 'the terminal opens at its own default size when asked for none (start(own_size=True))',
    'forced_colors': "the system's forced colours (Windows high contrast) can be emulated",
    'screen_reader': 'a screen reader (Orca) listens to the page, and its keys go through it',
}

HERE = os.path.dirname(os.path.abspath(__file__))
INSIDE = os.path.join(HERE, 'inside.py')
PYTHON = '/usr/bin/python3'
POLL = 0.02     # how often a condition is looked at again


class Skip(Exception):
    """A tool the driver needs is missing: the driver's test says SKIP, with the reason."""


def need(*tools, package=None):
    missing = [t for t in tools if not shutil.which(t)]
    if missing:
        raise Skip(f'{", ".join(missing)} not installed (apt-get install {package or " ".join(missing)})')


def wait_until(check, timeout, step=POLL):
    end = time.monotonic() + timeout
    while True:
        value = check()
        if value or time.monotonic() >= end:
            return value
        time.sleep(step)


_libc = ctypes.CDLL(None, use_errno=True)


def _die_with_parent():
    _libc.prctl(1, signal.SIGTERM)    # PR_SET_PDEATHSIG: a rig killed by its time-out leaves nothing


class Processes:
    """Every process a driver starts, stopped again by its id, the last started first."""

    def __init__(self):
        self.started = []

    def start(self, argv, log=None, **kw):
        out = open(log, 'w') if log else subprocess.DEVNULL
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                preexec_fn=_die_with_parent, **kw)
        self.started.append(proc)
        return proc

    def stop(self, proc):
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(3)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(3)
        if proc in self.started:
            self.started.remove(proc)

    def stop_all(self):
        for proc in reversed(list(self.started)):
            self.stop(proc)


def run(argv, env=None, timeout=10, text=True):
    return subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=text, timeout=timeout)


class Driver:
    name = ''
    caps = frozenset()
    emulator = ()       # what runs the game here: wine, or qemu for a build of another architecture
    size = (133, 15)                            # the window a scenario gets unless it asks
    interrupted = ('signal', signal.SIGINT)     # how the game ends on Ctrl+C

    def __init__(self, game, work):
        self.game, self.work = game, work
        self.procs = Processes()

    def command(self):
        """The game's command line."""
        return [*self.emulator, self.game]

    def plain_command(self):
        """The game's command line, run with no terminal of the driver's."""
        return self.command()

    # the interface; see the module's text
    def start(self, cols, rows, **opts):
        raise NotImplementedError

    def press(self, key):
        raise NotImplementedError

    def release(self, key):
        raise NotImplementedError

    def tap(self, key):
        self.press(key)
        self.release(key)

    def type(self, *keys):
        for key in keys:
            self.tap(key)

    def hold(self, seconds):
        time.sleep(seconds)

    def screen(self):
        raise NotImplementedError

    def wait_until(self, check, timeout):
        return wait_until(check, timeout)

    def ended(self):
        raise NotImplementedError

    def terminal_size(self):
        return None

    def modes(self):
        return {}

    def unread(self):
        return None

    def releases_followed(self):
        """Has the game learnt (where this driver can tell) that key releases are reported?"""
        return True

    def asked(self, when):
        return None

    def setup(self):
        """Starts what the driver keeps for all its games (a display server)."""

    def stop(self):
        """Ends the game and its terminal."""
        self.procs.stop_all()

    def close(self):
        """Ends what the driver keeps for all its games (a display server)."""

    def variants(self):
        """The terminals this driver plays: (name, start options, caps)."""
        return [('', {}, self.caps)]


class ShellDriver(Driver):
    """A driver whose terminal runs inside.py, which starts the game as a shell would and notes
    its pid, the modes around it, its stops and how it ended in a log read here."""
    log = None

    def new_log(self):
        self.log = os.path.join(self.work, f'shell-{time.monotonic_ns()}.log')
        return self.log

    modes_settle = 0    # seconds the terminal's modes may take to come back after the game ends

    def inside(self, cols, rows, jobs=False, ask=None, game=None, again=None, args=()):
        """The command line for the terminal, and a fresh log; `args` follow the game's command."""
        self.new_log()
        opts = (['--jobs'] if jobs else []) + (['--ask', ask] if ask else []) + ['--size', f'{cols}x{rows}']
        opts += ['--modes-settle', str(self.modes_settle)] if self.modes_settle else []
        opts += ['--again', again] if again else []
        return [PYTHON, '-I', '-S', INSIDE, self.log, *opts, '--', *(game or self.command()), *args]

    def notes(self):
        if not self.log:
            return []
        try:
            with open(self.log) as f:
                return [json.loads(line) for line in f if line.endswith('\n')]
        except FileNotFoundError:
            return []

    def note(self, key):
        """The last value noted under `key`, or None."""
        found = [n[key] for n in self.notes() if key in n]
        return found[-1] if found else None

    def terminal_size(self):
        size = self.note('size')
        return tuple(size) if size else None

    def wait_started(self, timeout=20):
        if not wait_until(lambda: self.note('started'), timeout):
            raise AssertionError(f'{self.name}: the game did not start')
        self.pid = self.note('started')

    def modes(self):
        found = {}
        for n in self.notes():
            if 'started' in n:
                found['before'] = n['modes']
            if 'stopped' in n:
                found['stopped'] = n['stopped']
            if 'continued' in n:
                found.pop('stopped', None)
            if 'ended' in n:
                found['after'] = n['modes']
        return found

    def ended(self):
        end = self.note('ended')
        return tuple(end) if end else None

    def unread(self):
        """The keys the game left unread for the shell (hex), when it last stopped or ended."""
        return self.note('unread')

    def stopped(self):
        """With jobs: stopped and not yet continued."""
        notes = [n for n in self.notes() if 'stopped' in n or 'continued' in n]
        return bool(notes) and 'stopped' in notes[-1]

    def asked(self, when):
        """The terminal's answer (bytes) to inside.py's question before or after the game."""
        return next((bytes.fromhex(n['reply']) for n in self.notes() if n.get('asked') == when), None)

    def signal(self, sig):
        os.kill(self.pid, sig)

    def resume(self):
        """The shell's fg: the terminal to the game again, and SIGCONT."""
        os.kill(self.note('shell'), signal.SIGUSR1)

    def stop(self):
        """Ends the game (if it runs) and inside.py, then the terminal."""
        for pid in ([] if self.ended() else [self.note('started')]) + [self.note('shell')]:
            if pid:
                os.kill(pid, signal.SIGKILL)
        self.log = None
        super().stop()

    def state(self):
        """The game's process state: 'T' while stopped."""
        try:
            with open(f'/proc/{self.pid}/stat') as f:
                return f.read().rsplit(')', 1)[1].split()[0]
        except FileNotFoundError:
            return None

    def modes_now(self):
        """The modes of the game's terminal now (as inside.py writes them)."""
        fd = os.open(f'/proc/{self.pid}/fd/0', os.O_RDONLY | os.O_NOCTTY)
        try:
            return repr(termios.tcgetattr(fd))
        finally:
            os.close(fd)

