"""tmux (detached) as the terminal, and the Windows build under wine in it.

tmux sends characters only: no key releases, the keypad's digits as plain digits. Each game gets
a tmux server of its own (tmux 3.3a has crashed making a second session after a resize).
"""
import os
import subprocess

from .driver import ShellDriver, need, run
from .model import Screen

KEYS = {'enter': 'Enter', 'kp_enter': 'KPEnter', 'q': 'q', 'ctrl+c': 'C-c', 'ctrl+z': 'C-z', 'kp1': 'KP1',
        **{str(d): str(d) for d in range(10)}}


class TmuxDriver(ShellDriver):
    name = 'tmux'
    caps = frozenset({'layout', 'cursor', 'jobs', 'signals', 'resize', 'shell', 'scribble', 'legacy', 'terminal'})
    size = (140, 40)
    ask = r'\x1b[?u\x1b[c'      # a terminal that never answers the flags query, only this DA1

    def __init__(self, game, work):
        super().__init__(game, work)
        need('tmux')
        self.sock = None

    def start(self, cols, rows, jobs=False):
        self.sock = os.path.join(self.work, f'tmux-{os.getpid()}-{len(os.listdir(self.work))}')
        argv = self.inside(cols, rows, jobs, self.ask, self.command())
        line = 'exec ' + ' '.join(_quote(a) for a in argv)
        self.tmux('new-session', '-d', '-s', 'g', '-x', str(cols), '-y', str(rows), line, env=self.env())
        self.tty = self.tmux('display', '-p', '-t', 'g', '#{pane_tty}').stdout.strip()
        self.wait_started()

    def env(self):
        return dict(os.environ, TERM=os.environ.get('TERM', 'xterm-256color').replace('dumb', 'xterm-256color'))

    def tmux(self, *args, env=None):
        result = run(['tmux', '-S', self.sock, '-f', '/dev/null', *args], env=env)
        if result.returncode != 0 and args[0] != 'kill-server':
            raise AssertionError(f'tmux {args[0]}: {result.stderr.strip()}')
        return result

    def press(self, key):
        self.tap(key)

    def release(self, key):
        pass                    # tmux has no key releases: a key is down only as it is typed

    def tap(self, key):
        self.type(key)

    def type(self, *keys):
        self.tmux('send-keys', '-t', 'g', *(KEYS[k] for k in keys))

    def screen(self):
        out = self.tmux('capture-pane', '-p', '-t', 'g', ';', 'display', '-p', '-t', 'g',
                        '#{cursor_y} #{cursor_x}').stdout.split('\n')
        y, x = out[-2].split()
        return Screen(out[:-2], (int(y), int(x)))

    def resize(self, cols, rows):
        self.tmux('resize-window', '-t', 'g', '-x', str(cols), '-y', str(rows))

    def scribble(self, data):
        with open(self.tty, 'wb') as tty:
            tty.write(data)

    def stop(self):
        super().stop()
        if self.sock:
            self.tmux('kill-server')
            if os.path.exists(self.sock):
                os.unlink(self.sock)
            self.sock = None


def _quote(arg):
    return "'" + arg.replace("'", "'\\''") + "'"


class WineDriver(TmuxDriver):
    """bootcamp.exe under wine in a tmux pane. Wine's console passes escape sequences on but counts
    their bytes as cells, so the screen is garbled: texts and flow are checked, not the layout."""
    name = 'wine'
    caps = frozenset({'legacy', 'no_terminal', 'terminal'})
    emulator = ('wine',)
    size = (120, 30)             # the Windows console's own window
    interrupted = ('exit', 0xC000013A & 0xFF)   # the console's status for Ctrl+C, as a shell sees it
    ask = None      # wine's console may still be reading the terminal when the game has gone
    modes_settle = 5    # and gives the terminal's modes back after its process has ended

    def __init__(self, game, work):
        super().__init__(game, work)
        need('wine', package='wine wine64')
        os.environ['WINEDEBUG'] = '-all'
        # wine's services start with the first wine call and would hold whatever output it has
        subprocess.run(['wine', 'cmd', '/c', 'exit'], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)

    def wait_started(self, timeout=60):
        super().wait_started(timeout)
