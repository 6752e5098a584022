"""The pseudo-terminal the end-to-end tests play the game in: a pty, a pyte screen, kitty keys."""
# The rig forks the program on a pty sized before exec, answers its terminal queries (as a
# terminal that speaks the kitty keyboard protocol, or as one that does not), keeps the raw
# bytes it writes and the kitty flag stack it leaves behind, and reads the screen with pyte.
# Needs Debian's own python3 (/usr/bin/python3), which sees the python3-pyte package.
import errno
import fcntl
import os
import re
import resource
import select
import signal
import struct
import termios
import time

import pyte

ESC = b'\x1b'

# The kitty keyboard control sequences a program sends: CSI ? u query, CSI > f u push,
# CSI < n u pop, CSI = f ; m u set.
KITTY_RE = re.compile(rb'\x1b\[([<>=?])([0-9;]*)u')
# DECRQM, the question whether a DEC private mode is set: CSI ? mode $ p. pyte 0.8 would print
# its final byte, so the rig answers it itself.
MODE_QUERY_RE = re.compile(rb'\x1b\[\?(\d+)\$p')
# The control sequences the rig handles instead of pyte, in the order they come.
CONTROL_RE = re.compile(KITTY_RE.pattern + rb'|' + MODE_QUERY_RE.pattern)
# DEC private mode set and reset: CSI ? mode h, CSI ? mode l.
MODE_SET_RE = re.compile(rb'\x1b\[\?(\d+)([hl])')
# A complete escape sequence starting at a given ESC (CSI, or ESC and one more byte).
ESC_DONE_RE = re.compile(rb'\x1b(\[[0-?]*[ -/]*[@-~]|[^\[])')

# Modifier bits of the kitty protocol; the value sent is 1 + the bits.
SHIFT, ALT, CTRL, CAPS_LOCK, NUM_LOCK = 1, 2, 4, 64, 128
PRESS, REPEAT, RELEASE = 1, 2, 3
KEY_ENTER, KEY_Q, KEYPAD_1 = 13, 113, 57400


def digit(n):
    """The kitty code of a main-row digit key."""
    return 48 + n


def kitty_key(code, mods=0, event=PRESS):
    """One key event encoded the way kitty sends it with flags 15: the modifier field only
    when needed for a press, always with the event type otherwise."""
    m = 1 + mods
    if event == PRESS:
        return (f'\x1b[{code}u' if m == 1 else f'\x1b[{code};{m}u').encode()
    return f'\x1b[{code};{m}:{event}u'.encode()


def kitty_tap(code, mods=0):
    """Press and release of one key, to be sent in one write."""
    return kitty_key(code, mods, PRESS) + kitty_key(code, mods, RELEASE)


class GameTerminal:
    """A program running on a pty rendered by pyte.

    kitty=True answers "\\e[?u" with the top of the flag stack, as a kitty-protocol terminal
    does; kitty=False leaves it unanswered, so only pyte's DA1 reply comes back.
    ctty=False gives the program no controlling terminal: closing the master then only
    ends its reads, with no SIGHUP.
    job_control=True runs it as a shell would, in a foreground process group of its own
    under a small reaper in the same session, so that a stop really stops it (a session
    leader's own group is orphaned, and the kernel drops stop signals sent to those).
    spare_slave=True keeps a slave fd open here, to look at the tty's input queue after the
    program is gone (the master then never reads EOF)."""

    def __init__(self, argv, cols=140, rows=40, kitty=True, ctty=True, job_control=False,
                 spare_slave=False, env=None, reply_delay=0.0, modes=None):
        self.argv, self.cols, self.rows, self.kitty = list(argv), cols, rows, kitty
        # replies to the program's queries go out this many seconds late, in order (a slow link)
        self.reply_delay = reply_delay
        self.delayed = []            # (due time, reply bytes), oldest first
        # DEC private modes this terminal knows, {mode: set?}; DECRQM answers 0 for the others
        self.modes = dict(modes or {})
        self.flags = [0]             # kitty flag stack; its top is what is in force
        self.pending = b''           # an escape sequence cut at the end of a read
        self.raw = bytearray()       # every byte the program wrote
        self.chunks = []             # (monotonic time, bytes) per read, for timing
        self.status = None           # os.waitpid status once reaped
        self.stopped = False         # job control only: stopped by a signal right now
        self.screen = pyte.Screen(cols, rows)
        # pyte answers DA1 (CSI c) through this hook; that reply is what ends detection
        self.screen.write_process_input = lambda text: self.reply(text.encode())
        self.stream = pyte.ByteStream(self.screen)
        self._display = None         # pyte rebuilds every line per call: kept until output

        master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', rows, cols, 0, 0))
        # what the terminal looks like before the program gets to change anything
        self.termios_before = termios.tcgetattr(master)
        env = dict(os.environ if env is None else env, TERM='xterm-256color')
        env.pop('COLUMNS', None)
        env.pop('LINES', None)
        report_r, report_w = os.pipe() if job_control else (None, None)
        pid = os.fork()
        if pid == 0:
            try:
                os.close(master)
                os.setsid()
                if ctty or job_control:
                    fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
                for fd in (0, 1, 2):
                    os.dup2(slave, fd)
                if slave > 2:
                    os.close(slave)
                # Python ignores SIGPIPE and that would survive exec; no core files from SIGQUIT
                signal.signal(signal.SIGPIPE, signal.SIG_DFL)
                signal.signal(signal.SIGINT, signal.SIG_DFL)
                resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
                if job_control:
                    os.close(report_r)
                    self._reap(report_w, env)
                os.execve(self.argv[0], self.argv, env)
            finally:
                os._exit(127)
        if spare_slave:
            self.slave = slave
        else:
            os.close(slave)
            self.slave = None
        self.fd = master
        if job_control:
            os.close(report_w)
            self._reaper, self._report = pid, report_r
            self.pid = int(self._report_line())
        else:
            self._reaper, self._report = None, None
            self.pid = pid

    def _reap(self, report, env):
        """In the forked session leader: start the program in a foreground group of its own
        and report its stops, continues and end on the pipe, one line each."""
        signal.signal(signal.SIGTTOU, signal.SIG_IGN)   # tcsetpgrp from a background group
        signal.signal(signal.SIGHUP, signal.SIG_IGN)    # outlive the terminal to report the end
        child = os.fork()
        if child == 0:
            os.setpgid(0, 0)
            os.tcsetpgrp(0, os.getpid())
            signal.signal(signal.SIGTTOU, signal.SIG_DFL)
            signal.signal(signal.SIGHUP, signal.SIG_DFL)
            os.close(report)
            os.execve(self.argv[0], self.argv, env)
        try:
            os.setpgid(child, child)
        except OSError:
            pass                     # the child got there first
        os.write(report, f'{child}\n'.encode())
        while True:
            _, status = os.waitpid(child, os.WUNTRACED | os.WCONTINUED)
            if os.WIFSTOPPED(status):
                os.write(report, b'S\n')
            elif os.WIFCONTINUED(status):
                os.write(report, b'C\n')
            else:
                os.write(report, f'X {status}\n'.encode())
                os._exit(0)

    def _report_line(self):
        line = b''
        while not line.endswith(b'\n'):
            byte = os.read(self._report, 1)
            if not byte:
                raise RuntimeError('the reaper went away')
            line += byte
        return line.decode().strip()

    def _read_reports(self):
        while self.status is None and select.select([self._report], [], [], 0)[0]:
            line = self._report_line()
            if line == 'S':
                self.stopped = True
            elif line == 'C':
                self.stopped = False
            elif line.startswith('X '):
                self.status = int(line[2:])
                os.waitpid(self._reaper, 0)

    # ---- keys to the program ---------------------------------------------------------------
    def send(self, data):
        if self.fd is None:
            return
        try:
            os.write(self.fd, data)
        except OSError as error:
            if error.errno not in (errno.EIO, errno.EBADF):
                raise

    def reply(self, data):
        """A terminal's answer to a query: at once, or reply_delay seconds later."""
        if self.reply_delay:
            self.delayed.append((time.monotonic() + self.reply_delay, data))
        else:
            self.send(data)

    def _send_due_replies(self):
        while self.delayed and self.delayed[0][0] <= time.monotonic():
            self.send(self.delayed.pop(0)[1])

    def press(self, code, mods=0):
        self.send(kitty_key(code, mods, PRESS))

    def repeat(self, code, mods=0):
        self.send(kitty_key(code, mods, REPEAT))

    def release(self, code, mods=0):
        self.send(kitty_key(code, mods, RELEASE))

    def tap(self, code, mods=0):
        """Press and release in ONE write, so the program reads both at once."""
        self.send(kitty_tap(code, mods))

    # ---- output from the program -----------------------------------------------------------
    def _on_output(self, data):
        self._display = None
        self.raw += data
        self.chunks.append((time.monotonic(), bytes(data)))
        data = self.pending + data
        cut = data.rfind(ESC)
        if cut != -1 and not ESC_DONE_RE.match(data, cut):
            data, self.pending = data[:cut], data[cut:]
        else:
            self.pending = b''
        # pyte 0.8 prints a stray 'u' for CSI < u: kitty sequences are handled here and never
        # reach pyte, and text around them is fed in order so replies keep the query order
        for match in MODE_SET_RE.finditer(data):
            mode = int(match.group(1))
            if mode in self.modes:
                self.modes[mode] = match.group(2) == b'h'
        pos = 0
        for match in CONTROL_RE.finditer(data):
            self.stream.feed(data[pos:match.start()])
            pos = match.end()
            if match.group(3) is not None:
                mode = int(match.group(3))
                state = (1 if self.modes[mode] else 2) if mode in self.modes else 0
                self.reply(f'\x1b[?{mode};{state}$y'.encode())
                continue
            kind, args = match.group(1), match.group(2).decode()
            nums = [int(x) for x in args.split(';') if x] or [0]
            if kind == b'?':
                if self.kitty:
                    self.reply(f'\x1b[?{self.flags[-1]}u'.encode())
            elif kind == b'>':
                self.flags.append(nums[0])
            elif kind == b'<':
                for _ in range(nums[0] or 1):
                    if len(self.flags) > 1:
                        self.flags.pop()
            elif kind == b'=':
                self.flags[-1] = nums[0]
        self.stream.feed(data[pos:])

    def _read_once(self, wait):
        """One read of whatever the program wrote, waiting up to `wait` s. False at EOF."""
        if self.fd is None:
            return False
        self._send_due_replies()
        if self.delayed:
            wait = min(wait, self.delayed[0][0] - time.monotonic())
        ready, _, _ = select.select([self.fd], [], [], max(0.0, wait))
        if not ready:
            return True
        try:
            data = os.read(self.fd, 65536)
        except OSError as error:    # EIO: no slave side left open
            if error.errno in (errno.EIO, errno.EBADF):
                return False
            raise
        if not data:
            return False
        self._on_output(data)
        return True

    def pump(self, timeout=0.5, quiet=0.1):
        """Reads output until `quiet` s pass with none, or `timeout` s in all. False at EOF."""
        end = time.monotonic() + timeout
        while True:
            left = end - time.monotonic()
            if left <= 0:
                return True
            before = len(self.raw)
            if not self._read_once(min(quiet, left)):
                return False
            if len(self.raw) == before:
                return True

    def settle(self, seconds):
        """Reads output for exactly this long (used where nothing is supposed to happen)."""
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            if left <= 0 or not self._read_once(left):
                return

    def wait_until(self, predicate, timeout=5.0):
        """Reads output until predicate(self) holds; returns whether it did in time."""
        end = time.monotonic() + timeout
        while True:
            if predicate(self):
                return True
            left = end - time.monotonic()
            if left <= 0:
                return False
            if not self._read_once(min(0.05, left)):
                return predicate(self)

    def wait_for_text(self, text, timeout=5.0):
        return self.wait_until(lambda t: t.find_text(text) is not None, timeout)

    # ---- the screen ------------------------------------------------------------------------
    @property
    def display(self):
        if self._display is None:
            self._display = self.screen.display
        return self._display

    def line(self, row):
        return self.display[row].rstrip()

    def text_at(self, row, col, n=None):
        text = self.display[row][col:] if n is None else self.display[row][col:col + n]
        return text.rstrip() if n is None else text

    def find_text(self, text):
        for row, line in enumerate(self.display):
            col = line.find(text)
            if col != -1:
                return row, col
        return None

    def snapshot(self):
        return list(self.display)

    def cursor(self):
        return self.screen.cursor.y, self.screen.cursor.x

    def is_blank(self):
        return all(not line.strip() for line in self.display)

    # ---- the terminal and the process ------------------------------------------------------
    def termios_now(self):
        """The slave's modes, read through the master (works on Linux, also after exit)."""
        return termios.tcgetattr(self.fd)

    def resize(self, cols, rows):
        """A new window size; the kernel sends SIGWINCH to the foreground group."""
        self.cols, self.rows = cols, rows
        self.screen.resize(rows, cols)
        self._display = None
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack('HHHH', rows, cols, 0, 0))

    def unread_input(self):
        """Bytes typed that nobody has read, as the next reader of the tty would get them
        (in canonical mode only whole lines count). Needs spare_slave=True."""
        return struct.unpack('i', fcntl.ioctl(self.slave, termios.FIONREAD, b'\0\0\0\0'))[0]

    def signal(self, sig):
        os.kill(self.pid, sig)

    def poll_exit(self):
        if self._report is not None:
            self._read_reports()
        elif self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.status = status
        return self.status is not None

    def wait_exit(self, timeout=5.0):
        """Reads output until the program has exited and the pty is drained; returns the exit
        code (negative: the number of the signal that ended it), or None if still running."""
        end = time.monotonic() + timeout
        while not self.poll_exit():
            if time.monotonic() >= end:
                return None
            if not self._read_once(0.02):
                time.sleep(0.01)     # EOF before the exit status is ready
        # what is left in the pty once the program is gone
        while self._read_once(0.05):
            if not select.select([self.fd], [], [], 0)[0]:
                break
        return self.exit_code

    @property
    def exit_code(self):
        return None if self.status is None else os.waitstatus_to_exitcode(self.status)

    @property
    def killed_by(self):
        if self.status is None or not os.WIFSIGNALED(self.status):
            return None
        return os.WTERMSIG(self.status)

    def close_master(self):
        """The terminal goes away: the slave is hung up."""
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None

    def wait_stopped(self, stopped=True, timeout=5.0):
        """Job control only: reads output until the program is (or is no longer) stopped."""
        def reached(t):
            t.poll_exit()
            return t.stopped == stopped
        return self.wait_until(reached, timeout)

    def close(self):
        if self.status is None:
            try:
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            if self._report is None:
                _, self.status = os.waitpid(self.pid, 0)
            else:
                while self.status is None:
                    select.select([self._report], [], [], 5)
                    self._read_reports()
        if self._report is not None:
            os.close(self._report)
            self._report = None
        if self.slave is not None:
            os.close(self.slave)
            self.slave = None
        self.close_master()

