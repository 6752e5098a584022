#!/usr/bin/python3
"""Plays the built game in real terminals with real key events: kitty and xterm under Xvfb, foot under a headless sway.

usage: real_terminal_test.py PATH_TO_BOOTCAMP

kitty and xterm run under Xvfb with openbox (a window manager, so the terminal has the focus)
and get their keys from xdotool; foot runs under sway (headless, as nobody when we are root)
and gets them from wtype. Each terminal runs a non-interactive bash that starts the game,
records the modes around it and asks the terminal's keyboard state afterwards, so a sloppy
hand-back cannot be hidden by an interactive shell's own repairs. The screen is read back as
text: kitty's remote control, xterm's print-immediate, foot's pipe-visible.

Prints one ok/FAIL line per check and a summary; exit status 0 if all pass, 1 on a failure,
77 (SKIP) when a tool is missing. The same file also serves as the small helper programs run
inside the terminals (--helper ...).
"""
import ctypes
import os
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time

COLS = 133
INTRO = ["You have made the mistake of joining the Marines",
         "This is your attempt to get through bootcamp",
         "",
         "Press ENTER to continue"]
NAMES = ["Health", "Sanity", "Reputation", "Punchability"]
START = [100, 50, 50, 30]
MARKER = "shell after the game"

# Every Event: its prompt and the effects of Options 0, 1 and 2 as the effects line lists them.
# The test chooses answers that keep the run going, and tells from the effects line which
# Option the game took.
CATALOGUE_TEXT = """\
You Encounter A Rack|Sanity -15 Punchability -10 Reputation +5|Sanity +25 Health -15|Sanity +30 Punchability +15
Today you have your annual Physical Fitness Test|Sanity -20 Punchability -10 Reputation +10|Sanity +10 Punchability +10 Reputation -5|Sanity +20 Punchability +20 Reputation -15
You arrive at the chowhall|Sanity -10 Health +10|Sanity +10 Health -5 Reputation -10|Sanity +20 Punchability +10 Health -15
You encounter a Rogue DI|Sanity -10 Punchability -10 Reputation +10|Sanity +10 Punchability +10 Reputation -10|Health -25 Punchability +30 Reputation -20
It's Sunday|Sanity +20 Punchability +20|Sanity +10|Sanity -10 Health -10 Reputation +5
Your company is preparing for a ruck with ammo cans|Sanity -10 Reputation +10 Punchability -5|Sanity +10 Reputation -15 Punchability -10|Sanity +15 Health -10 Reputation -5
It's time for a haircut, again|Sanity -5 Reputation +5|Sanity -10 Reputation -10 Punchability +10|Sanity -20 Punchability +20 Reputation -20
The DIs are conducting a barracks inspection|Sanity -20 Punchability -15 Reputation +10|Sanity +15 Reputation -20 Punchability +20|Sanity +5 Reputation -25 Punchability +30
You've been assigned firewatch for the night|Sanity -10 Health -5 Reputation +10|Sanity +20 Reputation -20 Punchability +15|Sanity +10 Reputation -15 Punchability +5
It's time to eat an MRE|Sanity +10 Health +5|Sanity -5 Health -10 Reputation +5|Sanity +15 Health +10 Reputation -5
It's time for rifle qualification at the range|Sanity -10 Reputation +15|Sanity +10 Reputation -10 Punchability +10|Sanity +5 Reputation -20 Punchability +20
It's time to do your laundry|Sanity -10 Reputation +10|Sanity -5 Punchability +10 Reputation -10|Sanity +15 Reputation -15 Punchability +5
Night fire training has begun|Sanity -10 Health -5 Reputation +10|Sanity +15 Reputation -20 Punchability +10|Sanity +20 Health -10 Reputation -10
Time for the obstacle course|Sanity -20 Health -10 Reputation +20|Sanity +10 Health +5 Reputation -10|Sanity +15 Reputation -25 Punchability +25
Mail call has arrived|Sanity +25 Punchability -10|Sanity -15 Punchability +10|Sanity +10 Punchability -5
You don't feel great. Time to decide whether to go to sick call|Sanity -5 Health -10 Reputation +10|Sanity +15 Health +20 Reputation -10|Sanity +20 Health -5 Reputation -20 Punchability +20
Time for drill practice|Sanity -10 Reputation +15|Sanity +10 Reputation -15 Punchability +10|Sanity +5 Reputation -25 Punchability +20
Gear inspection is happening soon|Sanity -15 Reputation +10|Sanity +10 Reputation -20 Punchability +15|Sanity +5 Reputation -25 Punchability +20
It's time to pass the water survival test|Sanity -10 Health -10 Reputation +15|Sanity +15 Health +5 Reputation -20|Sanity +5 Reputation -25 Punchability +20
Hygiene inspection has begun|Sanity -10 Reputation +10|Sanity +10 Reputation -10 Punchability +5|Sanity +5 Reputation -20 Punchability +15
A teamwork exercise has started|Sanity -5 Reputation +15|Sanity +10 Reputation -15 Punchability +10|Sanity +5 Reputation -25 Punchability +25
"""
CATALOGUE = {}
for _line in CATALOGUE_TEXT.splitlines():
    _prompt, *_options = _line.split("|")
    CATALOGUE[_prompt] = [o + " " for o in _options]  # the line ends with a blank


# ================================================================================================
# Helpers that run inside the terminals.

def _raw_mode():
    """Keys one by one, no echo, CR kept as CR; ISIG stays so Ctrl+C behaves as for any program."""
    old = termios.tcgetattr(0)
    new = termios.tcgetattr(0)
    new[0] &= ~(termios.ICRNL | termios.IXON)
    new[3] &= ~(termios.ICANON | termios.ECHO)
    new[6][termios.VMIN] = 1
    new[6][termios.VTIME] = 0
    termios.tcsetattr(0, termios.TCSANOW, new)
    return old


def _write_atomically(path, text):
    with open(path + ".part", "w") as f:
        f.write(text)
    os.rename(path + ".part", path)


def helper(args):
    what = args[0]
    if what == "run":
        # The game as a child, so its end can be told apart: exit(130) or death by SIGINT.
        status_file, pid_file, game = args[1:4]
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        child = subprocess.Popen([game], preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        _write_atomically(pid_file, str(child.pid))
        code = child.wait()
        _write_atomically(status_file, f"signal {-code}" if code < 0 else f"exit {code}")
    elif what == "query":
        # Writes the query, collects the answers up to the device attributes reply, which
        # every terminal sends and which comes last.
        log, query = args[1], args[2].encode().decode("unicode_escape").encode("latin-1")
        old = _raw_mode()
        os.write(1, query)
        got = b""
        end = time.time() + 3
        while time.time() < end and not re.search(rb"\x1b\[\?[0-9;]*c", got):
            if select.select([0], [], [], 0.05)[0]:
                got += os.read(0, 1024)
        termios.tcsetattr(0, termios.TCSAFLUSH, old)
        _write_atomically(log, got.hex())
    elif what == "listen":
        # Logs what the terminal sends for keys, with the given mode set and reset around it.
        log, before, after = args[1], *(a.encode().decode("unicode_escape").encode("latin-1") for a in args[2:4])
        old = _raw_mode()
        os.write(1, before)
        _write_atomically(log + ".ready", "")
        got = b""
        end = time.time() + 30
        while time.time() < end and not os.path.exists(log + ".stop"):
            if select.select([0], [], [], 0.02)[0]:
                got += os.read(0, 1024)
                _write_atomically(log, got.hex())
        os.write(1, after)
        termios.tcsetattr(0, termios.TCSAFLUSH, old)
        _write_atomically(log, got.hex())
        _write_atomically(log + ".done", "")
    return 0


# ================================================================================================
# Results.

PASSED = []
FAILED = []


def check(term, name, good, detail=""):
    if good:
        PASSED.append((term, name))
        print(f"ok   - [{term}] {name}", flush=True)
    else:
        FAILED.append((term, name))
        print(f"FAIL - [{term}] {name}" + (f": {detail}" if detail else ""), flush=True)
    return good


def skip(reason):
    print(f"SKIP: {reason}", flush=True)
    sys.exit(77)


# ================================================================================================
# Processes: every one we start is stopped by its pid at the end, also after a failure.

STARTED = []
PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL(None, use_errno=True)


def _die_with_us():
    # A test killed by its time-out must not leave X servers behind.
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def start(argv, log, env=None, **kw):
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                            env=env, preexec_fn=_die_with_us, **kw)
    STARTED.append(proc)
    return proc


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(3)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(3)
    if proc in STARTED:
        STARTED.remove(proc)


def stop_all():
    for proc in reversed(list(STARTED)):
        try:
            stop(proc)
        except (OSError, subprocess.TimeoutExpired):
            pass


def wait_until(predicate, timeout, step=0.03):
    end = time.time() + timeout
    while True:
        value = predicate()
        if value or time.time() > end:
            return value
        time.sleep(step)


def run(argv, env=None, timeout=10):
    return subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout, text=True)


# ================================================================================================
# Reading the game's screen.

def rows_from_text(text, rows):
    """Terminal text as exactly `rows` rows of COLS columns. kitty and foot join a row that
    wrapped with the next, so a line longer than the width is split again."""
    out = []
    for line in text.split("\n"):
        while len(line) > COLS:
            out.append(line[:COLS])
            line = line[COLS:]
        out.append(line.ljust(COLS))
    if text.endswith("\n"):
        out.pop()
    out = out[:rows]
    return out + [" " * COLS] * (rows - len(out))


def left(scr, r):
    return scr[r - 1][:80].rstrip()


def right(scr, r):
    return scr[r - 1][80:].rstrip()


def flat(scr):
    return "|".join(re.sub(" +", " ", line).strip() for line in scr if line.strip())


def bar(v):
    return "[" + "=" * (v // 5) + " " * (20 - v // 5) + "]"


def expected_panel(values):
    lines = [" " * 6 + "Conditions"]
    for name, v in zip(NAMES, values):
        lines += [f"{name}: {v}  ", bar(v)]
    return [x.ljust(COLS - 80) for x in lines]


def panel(scr):
    return [scr[r][80:] for r in range(9)]


def panel_values(scr):
    values = []
    for i, name in enumerate(NAMES):
        m = re.match(rf"{name}: (\d+)\s*$", right(scr, 2 * i + 2))
        values.append(int(m.group(1)) if m else None)
    return values


def intro_shown(scr):
    return [scr[r].rstrip() for r in range(4)] == INTRO and not "".join(scr[4:]).strip()


def event_ready(scr):
    return (bool(left(scr, 2)) and left(scr, 4).startswith("0) ") and left(scr, 5).startswith("1) ")
            and left(scr, 6).startswith("2) ") and not left(scr, 8) and not right(scr, 10)
            and right(scr, 2).startswith("Health: "))


def outcome_shown(scr):
    return bool(left(scr, 8)) and bool(right(scr, 10))


def apply(values, effects_line):
    v = list(values)
    words = effects_line.split()
    for name, delta in zip(words[::2], words[1::2]):
        i, d = NAMES.index(name), int(delta)
        v[i] = max(0, v[i] + d) if d < 0 else min(100, v[i] + d)
    return v


def ends(v):
    return v[0] == 0 or v[1] == 0 or v[2] == 0 or v[3] == 100


def margin(v):
    return min(v[0], v[1], v[2], 100 - v[3])


def pick(values, prompt, next_unknown=None):
    """The Option that keeps the run furthest from an ending; with next_unknown, one that is
    also safe in whichever of those Events comes next (for a digit held into the next Event)."""
    best = None
    for d in range(3):
        v = apply(values, CATALOGUE[prompt][d])
        if ends(v):
            continue
        worst = margin(v)
        for other in next_unknown or []:
            w = apply(v, CATALOGUE[other][d])
            worst = -1 if ends(w) else min(worst, margin(w))
            if worst < 0:
                break
        if worst >= 0 and (best is None or worst > best[0]):
            best = (worst, d)
    return best[1] if best else 0


# ================================================================================================
# The terminals.

class Terminal:
    name = ""
    rows = 0
    protocol = False  # reports key releases (kitty keyboard protocol)
    # What the keypad's 1 key is called for the key source (with NumLock on under X, keycode 87).
    keypad_one = "KP_1"

    def __init__(self, work):
        self.work = work
        self.dir = os.path.join(work, self.name)
        os.makedirs(self.dir)
        self.cursor = None

    def path(self, name):
        return os.path.join(self.dir, name)

    def inner_script(self, game, extra_before="", extra_after=""):
        """The non-interactive bash inside the terminal. `trap : INT` keeps it alive through
        a Ctrl+C that the tty turns into SIGINT."""
        me = shlex.quote(os.path.abspath(__file__))
        p = lambda n: shlex.quote(self.path(n))  # noqa: E731
        # foot starts the shell before its window has its final size: wait for it, so the
        # game starts in the size asked for.
        return f"""trap : INT
for _ in $(seq 100); do [ "$(stty size)" = '{self.rows} {COLS}' ] && break; sleep 0.05; done
stty size > {p('size')}.part && mv {p('size')}.part {p('size')}
stty -g > {p('stty-before')}
/usr/bin/python3 {me} --helper query {p('flags-before')} '\\x1b[?u\\x1b[c'
{extra_before}
/usr/bin/python3 {me} --helper run {p('status')} {p('game-pid')} {shlex.quote(game)}
stty -g > {p('stty-after')}
echo '{MARKER}'
/usr/bin/python3 {me} --helper query {p('flags-after')} '\\x1b[?u\\x1b[c'
{extra_after}
: > {p('done')}
exec sleep 600
"""

    def read_file(self, name):
        try:
            with open(self.path(name)) as f:
                return f.read()
        except OSError:
            return None

    def exists(self, name):
        return os.path.exists(self.path(name))

    def wait_screen(self, predicate, timeout=5.0):
        """Polls the screen until the predicate holds; the last screen read either way."""
        end = time.time() + timeout
        last = ["(screen unreadable)"]
        while True:
            scr = self.screen()
            if scr is not None:
                if predicate(scr):
                    return scr, True
                last = scr
            if time.time() > end:
                return last, False
            time.sleep(0.05)

    # In each terminal: screen(), down(key), up(key), tap(key), ctrl_c(), close().


class XTerminal(Terminal):
    keypad_one = "KP_End"  # keycode 87: keypad 1 once the server's NumLock is on

    def __init__(self, work, x):
        super().__init__(work)
        self.x = x
        self.wid = None

    def xdo(self, *args):
        return run(["xdotool", *args], env=self.x.env)

    def find_window(self, cls, timeout=15):
        def found():
            r = run(["xdotool", "search", "--class", cls], env=self.x.env)
            return r.stdout.split()[0] if r.returncode == 0 and r.stdout.split() else None
        self.wid = wait_until(found, timeout, 0.1)
        if self.wid:
            self.focus()
        return self.wid

    def focus(self):
        self.xdo("windowactivate", "--sync", self.wid)
        self.xdo("windowfocus", "--sync", self.wid)

    def down(self, key):
        self.xdo("keydown", key)

    def up(self, key):
        self.xdo("keyup", key)

    def tap(self, key):
        self.xdo("key", key)

    def ctrl_c(self):
        self.xdo("key", "ctrl+c")


class Kitty(XTerminal):
    name = "kitty"
    rows = 15
    protocol = True

    def open(self, game):
        self.sock = self.path("kitty.sock")
        cls = f"bcrt-kitty-{os.getpid()}"
        env = dict(self.x.env, LIBGL_ALWAYS_SOFTWARE="1", KITTY_CONFIG_DIRECTORY=self.dir)
        self.proc = start(
            ["kitty", "--config", "NONE", "-o", "linux_display_server=x11", "-o", "allow_remote_control=yes",
             "--listen-on", "unix:" + self.sock, "-o", "remember_window_size=no",
             "-o", f"initial_window_width={COLS}c", "-o", f"initial_window_height={self.rows}c",
             "-o", "shell_integration=disabled", "-o", "font_family=DejaVu Sans Mono", "-o", "font_size=10",
             "-o", "enable_audio_bell=no", "--class", cls, "--title", cls,
             "bash", "-c", self.inner_script(game)],
            open(self.path("kitty.log"), "w"), env=env)
        return self.find_window(cls)

    def screen(self):
        r = run(["kitty", "@", "--to", "unix:" + self.sock, "get-text", "--add-cursor"], env=self.x.env)
        if r.returncode != 0:
            return None
        text = r.stdout
        m = re.search(r"\x1b\[\?25[hl]\x1b\[(\d+);(\d+)H.*$", text, re.S)
        if m:
            self.cursor = (int(m.group(1)), int(m.group(2)))
            text = text[:m.start()]
        return rows_from_text(text.rstrip("\n"), self.rows)

    def close(self):
        stop(self.proc)


class XTerm(XTerminal):
    name = "xterm"
    rows = 17

    def open(self, game):
        cls = f"bcrt-xterm-{os.getpid()}"
        self.prints = self.path("prints")
        os.makedirs(self.prints)
        me = shlex.quote(os.path.abspath(__file__))
        p = lambda n: shlex.quote(self.path(n))  # noqa: E731
        # Before the game: xterm's NumLock mode, and what keypad 1 sends with only the keypad
        # in application mode, then with mode 1035 reset as well (what the game does).
        before = f"""/usr/bin/python3 {me} --helper query {p('1035-before')} '\\x1b[?1035$p\\x1b[c'
/usr/bin/python3 {me} --helper listen {p('keys-plain')} '\\x1b=' '\\x1b>'
/usr/bin/python3 {me} --helper listen {p('keys-reset')} '\\x1b[?1035l\\x1b=' '\\x1b>\\x1b[?1035h'"""
        after = f"/usr/bin/python3 {me} --helper query {p('1035-after')} '\\x1b[?1035$p\\x1b[c'"
        self.proc = start(
            ["xterm", "-class", cls, "-title", cls, "-geometry", f"{COLS}x{self.rows}+0+0",
             "-fa", "DejaVu Sans Mono", "-fs", "10",
             "-xrm", f"*printFileImmediate: {self.prints}/screen",
             "-xrm", "*printOptsImmediate: 1", "-xrm", "*printModeImmediate: 0",
             "-xrm", "*VT100.translations: #override Ctrl Shift <Key>F12: print-immediate()",
             "-e", "bash", "-c", self.inner_script(game, before, after)],
            open(self.path("xterm.log"), "w"), env=self.x.env)
        return self.find_window(cls)

    def screen(self):
        # print-immediate names its file after the second it was made: each print is moved
        # away at once, so the next one in the same second gets a file of its own.
        self.xdo("key", "ctrl+shift+F12")

        def printed():
            for n in os.listdir(self.prints):
                path = os.path.join(self.prints, n)
                with open(path) as f:
                    text = f.read()
                if text.count("\n") >= self.rows:
                    os.unlink(path)
                    return text
            return None
        text = wait_until(printed, 3, 0.01)
        return rows_from_text(text, self.rows) if text is not None else None

    def close(self):
        stop(self.proc)


class Foot(Terminal):
    name = "foot"
    rows = 17
    protocol = True

    def __init__(self, work, wl):
        super().__init__(work)
        self.wl = wl
        self.holding = {}

    def open(self, game):
        self.shot = self.path("visible")
        ini = self.path("foot.ini")
        with open(ini, "w") as f:
            f.write("[main]\nfont=DejaVu Sans Mono:size=10\n[key-bindings]\n"
                    f"pipe-visible=[sh -c \"cat > {self.shot}.part && mv {self.shot}.part {self.shot}\"]"
                    " Control+Shift+F12\n")
        self.proc = start(["foot", "-c", ini, f"--app-id=bcrt-foot-{os.getpid()}",
                           f"--window-size-chars={COLS}x{self.rows}", "bash", "-c", self.inner_script(game)],
                          open(self.path("foot.log"), "w"), env=self.wl.env)
        return True

    def wtype(self, *args):
        return run(["wtype", *args], env=self.wl.env)

    def screen(self):
        # foot hands the key's release on to the program (F12 with Ctrl+Shift): nothing the
        # game takes as a key.
        try:
            os.unlink(self.shot)
        except FileNotFoundError:
            pass
        self.wtype("-M", "ctrl", "-M", "shift", "-k", "F12", "-m", "shift", "-m", "ctrl")
        if not wait_until(lambda: os.path.exists(self.shot), 3, 0.01):
            return None
        with open(self.shot) as f:
            return rows_from_text(f.read(), self.rows)

    def down(self, key):
        # A key stays down as long as the wtype that pressed it lives; it comes up when that
        # wtype goes and the compositor drops its keyboard.
        self.holding[key] = start(["wtype", "-P", key, "-s", "600000"], subprocess.DEVNULL, env=self.wl.env)
        time.sleep(0.15)

    def up(self, key):
        stop(self.holding.pop(key))
        time.sleep(0.05)

    def tap(self, key):
        self.wtype("-k", key)

    def ctrl_c(self):
        self.wtype("-M", "ctrl", "-k", "c", "-m", "ctrl")

    def close(self):
        for proc in self.holding.values():
            stop(proc)
        stop(self.proc)


# ================================================================================================
# The display servers.

class XSession:
    """Xvfb (held keys repeat only after 3 s, so a hold is not turned into presses) with
    openbox for the focus, NumLock on."""

    def __init__(self, work):
        read_end, write_end = os.pipe()
        self.xvfb = start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1600x900x24", "-nolisten", "tcp",
                           "-ardelay", "3000", "-arinterval", "100"], open(os.path.join(work, "xvfb.log"), "w"),
                          pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        end = time.time() + 15
        while not number.endswith(b"\n") and time.time() < end:
            if select.select([read_end], [], [], 0.2)[0]:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            raise RuntimeError("Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=":" + number.decode().strip())
        self.env.pop("WAYLAND_DISPLAY", None)
        self.wm = start(["openbox"], open(os.path.join(work, "openbox.log"), "w"), env=self.env)
        wait_until(lambda: "window id" in run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env).stdout,
                   10, 0.1)
        run(["numlockx", "on"], env=self.env)

    def numlock(self):
        m = re.search(r"Num Lock:\s+(\w+)", run(["xset", "q"], env=self.env).stdout)
        return m.group(1) if m else "?"

    def close(self):
        stop(self.wm)
        stop(self.xvfb)


class WaylandSession:
    """A headless sway (as nobody: sway will not run as root) with key repeat far off, and one
    long-lived wtype so the seat keeps a keyboard between the short wtype runs."""

    def __init__(self, work):
        self.runtime = tempfile.mkdtemp(prefix="bcrt-xdg.")
        config = os.path.join(self.runtime, "sway.config")
        with open(config, "w") as f:
            f.write("output HEADLESS-1 resolution 1600x900 position 0 0\ndefault_border none\n"
                    'for_window [app_id="^bcrt-"] floating enable, move position 0 0\n'
                    "input type:keyboard {\n    repeat_delay 30000\n    repeat_rate 25\n}\n")
        os.chmod(self.runtime, 0o700)
        as_user = []
        if os.geteuid() == 0:
            os.chown(self.runtime, 65534, 65534)
            os.chown(config, 65534, 65534)
            as_user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK")}
        env.update(XDG_RUNTIME_DIR=self.runtime, WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
                   WLR_RENDERER="pixman", HOME="/tmp")
        self.sway = start([*as_user, "sway", "-c", config], open(os.path.join(work, "sway.log"), "w"), env=env)

        def socket():
            names = [n for n in os.listdir(self.runtime) if re.fullmatch(r"wayland-\d+", n)]
            return names[0] if names else None
        name = wait_until(socket, 15, 0.1)
        if not name:
            raise RuntimeError("sway did not start")
        self.env = dict(env, WAYLAND_DISPLAY=name, HOME=os.environ.get("HOME", "/root"))
        self.keeper = start(["wtype", "-s", "36000000"], subprocess.DEVNULL, env=self.env)
        time.sleep(0.3)

    def close(self):
        stop(self.keeper)
        stop(self.sway)
        shutil.rmtree(self.runtime, ignore_errors=True)


# ================================================================================================
# The checks.

class Play:
    """One game in one terminal, followed turn by turn."""

    def __init__(self, t):
        self.t = t
        self.values = list(START)
        self.seen = []

    def ok(self, name, good, detail=""):
        return check(self.t.name, name, good, detail)

    def layout_checks(self, scr, prompt, digit, what):
        """The answered Event on screen: the panel still from before the answer, the effects
        line on row 10 from column 81 and nothing spilling onto row 11."""
        want = CATALOGUE[prompt][digit]
        self.ok(f"{what}: panel at columns 81-102, rows 1-9, values from before the answer",
                panel(scr) == expected_panel(self.values), "panel: " + "|".join(x.rstrip() for x in panel(scr)))
        self.ok(f"{what}: effects line of Option {digit} on row 10 from column 81",
                scr[9][80:80 + len(want)] == want and scr[9][80 + len(want):].strip() == "",
                f"row 10 from column 81: '{scr[9][80:].rstrip()}', expected '{want}'")
        self.ok(f"{what}: the effects line does not wrap (row 11 blank)", scr[10].strip() == "",
                f"row 11: '{scr[10].rstrip()}'")
        self.ok(f"{what}: outcome from row 8, Options on rows 4-6 unchanged",
                bool(left(scr, 8)) and left(scr, 4 + digit).startswith(f"{digit}) "), flat(scr))
        if self.t.cursor is not None:
            self.ok(f"{what}: cursor at the start of Option {digit}'s line", self.t.cursor == (4 + digit, 1),
                    f"cursor at {self.t.cursor}")

    def next_event(self, what, keep_digit=None):
        """After ENTER: the next Event, with the panel showing the new values."""
        pred = outcome_shown if keep_digit is not None else event_ready
        scr, good = self.t.wait_screen(lambda s: pred(s) and left(s, 2) not in self.seen and left(s, 2) in CATALOGUE)
        if not self.ok(what, good, flat(scr)):
            return None
        self.ok(f"{what}: panel shows the new values", panel(scr) == expected_panel(self.values),
                f"expected {self.values}, panel: " + "|".join(x.rstrip() for x in panel(scr)))
        self.seen.append(left(scr, 2))
        return scr

    def answered(self, scr, digit):
        self.values = apply(self.values, CATALOGUE[left(scr, 2)][digit])

    def unseen(self):
        return [p for p in CATALOGUE if p not in self.seen]


def play_protocol(t):
    """kitty and foot: keys go down and come up, so held keys are checked."""
    p = Play(t)
    scr, good = t.wait_screen(intro_shown, 10)
    if not p.ok("intro on rows 1-4", good, flat(scr)):
        return None
    # ENTER goes down and stays down: the intro passes, the first Event is answered, and the
    # held ENTER must not close the turn, neither while held nor when it comes up.
    t.down("Return")
    scr, good = t.wait_screen(event_ready)
    if not p.ok("ENTER pressed (and held) passes the intro", good, flat(scr)):
        t.up("Return")
        return None
    first = left(scr, 2)
    p.seen.append(first)
    p.ok("first Event: panel with the starting values", panel(scr) == expected_panel(START),
         "|".join(x.rstrip() for x in panel(scr)))
    d = pick(p.values, first)
    t.tap(str(d))
    scr, good = t.wait_screen(outcome_shown)
    if not p.ok(f"digit {d} chooses while ENTER is held", good, flat(scr)):
        t.up("Return")
        return None
    p.layout_checks(scr, first, d, "first Event")
    time.sleep(0.6)
    held = t.screen()
    t.up("Return")
    time.sleep(0.5)
    released = t.screen()
    p.ok("ENTER held from the intro does not close the first turn (held, then released)",
         held == scr and released == scr and left(released, 2) == first, flat(released))
    p.answered(scr, d)
    t.tap("Return")
    scr = p.next_event("ENTER released and pressed again closes the turn")
    if scr is None:
        return None
    # A digit held down through the ENTER that closes the turn chooses in the next Event.
    second = left(scr, 2)
    d = pick(p.values, second, p.unseen())
    t.down(str(d))
    scr, good = t.wait_screen(outcome_shown)
    if not p.ok(f"second Event: digit {d} held down chooses", good, flat(scr)):
        t.up(str(d))
        return None
    p.layout_checks(scr, second, d, "second Event")
    p.answered(scr, d)
    t.tap("Return")
    scr = p.next_event(f"digit {d} held through ENTER chooses Option {d} in the next Event at once", keep_digit=d)
    t.up(str(d))
    if scr is None:
        return None
    third = left(scr, 2)
    p.layout_checks(scr, third, d, "third Event (held digit)")
    p.answered(scr, d)
    t.tap("Return")
    scr = p.next_event("ENTER closes the held digit's turn")
    if scr is None:
        return None
    return keypad_and_ctrl_c(t, p, scr)


def play_legacy(t):
    """xterm: every character is one press; typed digits and ENTER drive the turns."""
    p = Play(t)
    scr, good = t.wait_screen(intro_shown, 10)
    if not p.ok("intro on rows 1-4", good, flat(scr)):
        return None
    t.tap("Return")
    scr, good = t.wait_screen(event_ready)
    if not p.ok("ENTER passes the intro", good, flat(scr)):
        return None
    first = left(scr, 2)
    p.seen.append(first)
    p.ok("first Event: panel with the starting values", panel(scr) == expected_panel(START),
         "|".join(x.rstrip() for x in panel(scr)))
    d = pick(p.values, first)
    t.tap(str(d))
    scr, good = t.wait_screen(outcome_shown)
    if not p.ok(f"typed digit {d} chooses", good, flat(scr)):
        return None
    p.layout_checks(scr, first, d, "first Event")
    p.answered(scr, d)
    t.tap("Return")
    scr = p.next_event("typed ENTER closes the turn")
    if scr is None:
        return None
    return keypad_and_ctrl_c(t, p, scr)


def keypad_and_ctrl_c(t, p, scr):
    prompt = left(scr, 2)
    numlock = t.x.numlock() if isinstance(t, XTerminal) else None
    t.tap(t.keypad_one)
    time.sleep(0.7)
    after = t.screen()
    note = f" (NumLock {numlock})" if numlock else ""
    p.ok(f"keypad 1 chooses nothing{note}", after is not None and event_ready(after) and left(after, 2) == prompt,
         flat(after or []))
    if numlock:
        p.ok("NumLock still on after keypad 1", t.x.numlock() == "on", t.x.numlock())
    d = pick(p.values, prompt)
    t.tap(str(d))
    scr, good = t.wait_screen(outcome_shown)
    if not p.ok(f"digit {d} after keypad 1 chooses", good, flat(scr)):
        return None
    p.layout_checks(scr, prompt, d, "keypad Event")
    p.answered(scr, d)
    t.tap("KP_Enter")
    scr = p.next_event("keypad Enter closes the turn")
    if scr is None:
        return None
    # Ctrl+C while the game waits for a digit.
    before = t.screen()
    t.ctrl_c()
    done = wait_until(lambda: t.exists("done"), 10, 0.05)
    if not p.ok("Ctrl+C ends the game; the shell goes on", done, flat(t.screen() or [])):
        return None
    return before


def hand_back_checks(t, before):
    ok = lambda name, good, detail="": check(t.name, name, good, detail)  # noqa: E731
    status = t.read_file("status")
    if t.protocol:
        ok("Ctrl+C (a key in the kitty protocol): exit status 130", status == "exit 130", status)
    else:
        ok("Ctrl+C (SIGINT from the tty): the game dies of SIGINT", status == "signal 2", status)
    sb, sa = t.read_file("stty-before"), t.read_file("stty-after")
    ok("Ctrl+C: terminal modes after the game equal those before (stty -g)", sb is not None and sb == sa,
       f"before {sb!r}, after {sa!r}")
    flags_before = bytes.fromhex(t.read_file("flags-before") or "")
    flags_after = bytes.fromhex(t.read_file("flags-after") or "")
    if t.protocol:
        ok("before the game the terminal answers the flags query with 0", b"\x1b[?0u" in flags_before,
           repr(flags_before))
        ok("after Ctrl+C the keyboard flags are popped (ESC[?u answers ESC[?0u)",
           re.search(rb"\x1b\[\?0u\x1b\[\?[0-9;]*c", flags_after) is not None, repr(flags_after))
    else:
        ok("after Ctrl+C the terminal answers device attributes, no flags (no kitty protocol)",
           re.fullmatch(rb"\x1b\[\?[0-9;]*c", flags_after) is not None, repr(flags_after))
    scr = t.screen() or []
    if t.rows > 15:
        ok("Ctrl+C: the shell's output lands on row 16, the game's 15 rows stay as they were",
           len(scr) == t.rows and scr[15].rstrip() == MARKER and scr[:15] == before[:15], flat(scr))
    else:
        # A 15-row window: the game makes the line under its layout by scrolling it up by one,
        # and the marker's own line feed scrolls once more.
        ok("Ctrl+C: the shell's output lands on the line under the game's 15 rows (the layout scrolled up for it)",
           len(scr) == 15 and scr[13].rstrip() == MARKER and scr[:13] == before[2:15] and not scr[14].strip(),
           flat(scr))


def keypad_bytes_xterm(t):
    """What xterm sends for keypad 1, 1 and keypad Enter with NumLock on: with the keypad in
    application mode only, and with mode 1035 reset too."""
    results = {}
    for log in ("keys-plain", "keys-reset"):
        if not wait_until(lambda: t.exists(log + ".ready"), 10, 0.05):
            check(t.name, f"probe {log} started", False)
            return None
        logged = lambda: bytes.fromhex(t.read_file(log) or "")  # noqa: E731
        for key in (t.keypad_one, "1", "KP_Enter"):
            count = len(logged())
            t.tap(key)
            wait_until(lambda: len(logged()) > count, 2, 0.02)  # one key at a time, in order
        open(t.path(log + ".stop"), "w").close()
        wait_until(lambda: t.exists(log + ".done"), 5, 0.05)
        results[log] = bytes.fromhex(t.read_file(log) or "")
    return results


def run_terminal(t, game, body):
    started = time.time()
    try:
        if not check(t.name, "terminal window up", t.open(game)):
            return
        if not wait_until(lambda: t.exists("size"), 20, 0.05):
            check(t.name, "bash started in the terminal", False)
            return
        size = (t.read_file("size") or "").split()
        check(t.name, f"terminal is {COLS}x{t.rows}", size == [str(t.rows), str(COLS)], f"stty size: {size}")
        extra = body(t)
        if extra is False:
            return
        if not wait_until(lambda: t.exists("game-pid"), 10, 0.05):
            check(t.name, "game started", False)
            return
        if isinstance(t, XTerminal):
            t.focus()
        before = (play_protocol if t.protocol else play_legacy)(t)
        if before is not None:
            hand_back_checks(t, before)
        if isinstance(t, XTerm):
            xterm_1035_after(t, extra)
    finally:
        t.close()
        pid = (t.read_file("game-pid") or "").strip()
        if pid.isdigit():
            check(t.name, "no game process left behind", wait_until(lambda: not os.path.exists(f"/proc/{pid}"), 5),
                  f"pid {pid} still there")
        print(f"# {t.name}: {time.time() - started:.1f} s", flush=True)


def xterm_before_game(t):
    numlock = t.x.numlock()
    check(t.name, "NumLock is on in the X server", numlock == "on", numlock)
    if not wait_until(lambda: t.exists("1035-before"), 10, 0.05):
        check(t.name, "DECRQM probe ran", False)
        return False
    reply = bytes.fromhex(t.read_file("1035-before") or "")
    check(t.name, "before the game xterm reports mode 1035 set (ESC[?1035;1$y)", b"\x1b[?1035;1$y" in reply,
          repr(reply))
    t.focus()
    got = keypad_bytes_xterm(t)
    if got is None:
        return False
    plain, reset = got["keys-plain"], got["keys-reset"]
    print(f"# xterm, NumLock on, ESC= only:            keypad 1, 1, keypad Enter sent {plain!r}")
    print(f"# xterm, NumLock on, ESC[?1035l ESC= too:  keypad 1, 1, keypad Enter sent {reset!r}")
    check(t.name, "without the 1035 reset keypad 1 is the main row's '1' (what the reset is for)",
          plain.startswith(b"11"), repr(plain))
    check(t.name, "with mode 1035 reset keypad 1 is ESC O q and keypad Enter ESC O M",
          reset == b"\x1bOq1\x1bOM", repr(reset))
    return got


def xterm_1035_after(t, _extra):
    reply = bytes.fromhex(t.read_file("1035-after") or "")
    check(t.name, "after the game mode 1035 is set again (ESC[?1035;1$y)", b"\x1b[?1035;1$y" in reply, repr(reply))


# ================================================================================================

REQUIRED = {"Xvfb": "xvfb", "openbox": "openbox", "xdotool": "xdotool", "numlockx": "numlockx",
            "xset": "x11-xserver-utils", "xprop": "x11-utils", "kitty": "kitty", "xterm": "xterm",
            "foot": "foot", "sway": "sway", "wtype": "wtype", "bash": "bash", "stty": "coreutils"}


def main(argv):
    if len(argv) >= 2 and argv[1] == "--helper":
        return helper(argv[2:])
    if len(argv) != 2 or not os.access(argv[1], os.X_OK):
        print(f"usage: {argv[0]} PATH_TO_BOOTCAMP", file=sys.stderr)
        return 2
    game = os.path.realpath(argv[1])
    missing = sorted({pkg for tool, pkg in REQUIRED.items() if not shutil.which(tool)})
    if os.geteuid() == 0 and not shutil.which("setpriv"):
        missing.append("util-linux")
    if missing:
        skip("missing tools; apt-get install -y --no-install-recommends " + " ".join(missing))
    work = tempfile.mkdtemp(prefix="bootcamp-rt.")
    started = time.time()
    sessions = []

    def on_signal(signum, _frame):
        raise SystemExit(128 + signum)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        x = XSession(work)
        sessions.append(x)
        run_terminal(Kitty(work, x), game, lambda t: None)
        run_terminal(XTerm(work, x), game, xterm_before_game)
        x.close()
        wl = WaylandSession(work)
        sessions.append(wl)
        run_terminal(Foot(work, wl), game, lambda t: None)
        wl.close()
    except RuntimeError as error:
        check("setup", str(error), False)
    finally:
        for s in sessions:
            try:
                s.close()
            except OSError:
                pass
        stop_all()
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(PASSED)} passed, {len(FAILED)} failed ({time.time() - started:.0f} s)")
    for term, name in FAILED:
        print(f"  failed: [{term}] {name}")
    return 0 if not FAILED and PASSED else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
