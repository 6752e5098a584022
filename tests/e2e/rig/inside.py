"""Runs the game inside a terminal as a shell would, and notes what a test cannot see from outside.

usage: inside.py LOG [--jobs] [--ask QUERY] [--size COLSxROWS] [--again NEXT] [--modes-settle S] -- GAME...
       inside.py LOG --listen SETUP -- (notes {"heard": HEX} for what the terminal sends)

The game runs as the terminal's foreground job in a process group of its own, so the keys that
make signals (Ctrl+C, Ctrl+Z) reach the game alone. LOG gets one JSON object a line:
  {"started": PID, "shell": PID, "at": T, "size": [C, R], "modes": M}   the game's pid, our
                                        own; the terminal's size; its modes (termios) as text; T: when
                                        (time.monotonic, the same clock in every process)
  {"asked": "before"|"after", "reply": HEX}   with --ask: the terminal's answer to QUERY
  {"stopped": M, "unread": HEX}  {"continued": true, "typed": HEX}   with --jobs: the game
                                        stopped (and the keys it left unread), and given the terminal
                                        back (SIGUSR1) with what came while it was stopped read first,
                                        as a shell reads it
  {"ended": ["exit"|"signal", N], "modes": M, "unread": HEX}   unread: keys left for the shell
After the game it prints MARKER on a line of its own and stays, so the window can still be read,
until it is ended. With --modes-settle, the modes after the game are read once they are as
before, or S seconds after it ended (wine's console gives them back after its process ends). With --again, SIGUSR2 starts the game again in the same terminal, reset (RIS)
and with the modes it had at first: the file NEXT holds [LOG, JOBS] for that game. Run it with
Debian's python3 -I -S: nothing but the standard library.
"""
import json
import os
import re
import resource
import select
import signal
import sys
import termios
import time

MARKER = 'shell after the game'


def note(log, **what):
    with open(log, 'a') as f:
        f.write(json.dumps(what) + '\n')


def modes():
    return repr(termios.tcgetattr(0))


def raw(fd=0):
    """Keys one by one, no echo; the modes before are returned."""
    old = termios.tcgetattr(fd)
    new = termios.tcgetattr(fd)
    new[3] &= ~(termios.ICANON | termios.ECHO)
    new[6][termios.VMIN], new[6][termios.VTIME] = 1, 0
    termios.tcsetattr(fd, termios.TCSANOW, new)
    return old


def ask(query):
    """The terminal's answer to the query, read up to the device attributes reply that every
    terminal sends last (the query ends with CSI c)."""
    old = raw()
    os.write(1, query)
    got, end = b'', time.monotonic() + 3
    while not re.search(rb'\x1b\[\?[0-9;]*c', got) and time.monotonic() < end:
        if select.select([0], [], [], 0.05)[0]:
            got += os.read(0, 1024)
    termios.tcsetattr(0, termios.TCSAFLUSH, old)
    return got.hex()


def unread():
    """Bytes typed that the game left in the terminal's queue (they would reach the shell)."""
    old = raw()
    got = b''
    while select.select([0], [], [], 0)[0]:
        more = os.read(0, 1024)
        if not more:
            raise OSError('the terminal has gone')
        got += more
    termios.tcsetattr(0, termios.TCSANOW, old)
    return got.hex()


def wait_for_size(size):
    # a terminal may start its program before its window has the size asked for
    cols, rows = (int(n) for n in size.split('x'))
    end = time.monotonic() + 10
    while os.get_terminal_size(0) != (cols, rows) and time.monotonic() < end:
        time.sleep(0.02)


def listen(log, setup):
    """Instead of a game: what the terminal sends for keys, noted read by read, after `setup`."""
    raw()
    os.write(1, setup.encode().decode('unicode_escape').encode('latin-1'))
    note(log, listening=True, shell=os.getpid())
    while True:
        note(log, heard=os.read(0, 1024).hex())


def play(log, game, query, jobs, ctty, settle=0.0):
    """One game, noted in `log`; False if the terminal went away."""
    if query:
        note(log, asked='before', reply=ask(query))
    before = modes()
    pid = os.fork()
    if pid == 0:
        os.setpgid(0, 0)
        if ctty:
            os.tcsetpgrp(0, os.getpid())
        for sig in SHELL_IGNORES:
            signal.signal(sig, signal.SIG_DFL)
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))    # no core file from SIGQUIT
        signal.pthread_sigmask(signal.SIG_UNBLOCK, [signal.SIGUSR1, signal.SIGUSR2])
        os.execvp(game[0], game)
    try:
        os.setpgid(pid, pid)
    except OSError:
        pass                            # the child got there first
    if ctty:
        os.tcsetpgrp(0, pid)
    note(log, started=pid, shell=os.getpid(), at=time.monotonic(), size=os.get_terminal_size(0), modes=before)
    while True:
        _, status = os.waitpid(pid, os.WUNTRACED if jobs and ctty else 0)
        if not os.WIFSTOPPED(status):
            break
        os.tcsetpgrp(0, os.getpgrp())   # as a shell takes the terminal back from a stopped job
        os.write(1, b'stopped\n')
        note(log, stopped=modes(), unread=unread())
        signal.sigwait([signal.SIGUSR1])  # the test's "fg"
        try:
            typed = unread()
        except (OSError, termios.error):
            typed = ''                  # the terminal has gone
        try:
            os.tcsetpgrp(0, pid)
            os.killpg(pid, signal.SIGCONT)
        except OSError:
            pass                        # ended while stopped
        note(log, continued=True, typed=typed)
    ended = ['signal', os.WTERMSIG(status)] if os.WIFSIGNALED(status) else ['exit', os.WEXITSTATUS(status)]
    try:
        if ctty:
            os.tcsetpgrp(0, os.getpgrp())
        after, end = modes(), time.monotonic() + settle
        while after != before and time.monotonic() < end:
            time.sleep(0.02)
            after = modes()
        left = unread()
    except (OSError, termios.error):    # the terminal has gone
        note(log, ended=ended, modes=None, unread='')
        return False
    note(log, ended=ended, modes=after, unread=left)
    os.write(1, (MARKER + '\n').encode())
    if query:
        note(log, asked='after', reply=ask(query))
    return True


# A shell's habits: taking the terminal back from a background group must not stop us, and a
# terminal gone while the game runs must not end us before the game's end is noted.
SHELL_IGNORES = (signal.SIGTTOU, signal.SIGTTIN, signal.SIGTSTP, signal.SIGINT, signal.SIGQUIT, signal.SIGHUP)


def main(argv):
    log, args = argv[0], argv[1:]
    cut = args.index('--')
    opts, game = args[:cut], args[cut + 1:]
    value = lambda name: opts[opts.index(name) + 1] if name in opts else None  # noqa: E731
    query = value('--ask') and value('--ask').encode().decode('unicode_escape').encode('latin-1')
    if value('--size'):
        wait_for_size(value('--size'))
    for sig in SHELL_IGNORES:
        signal.signal(sig, signal.SIG_IGN)
    signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGUSR1, signal.SIGUSR2])
    try:
        ctty = os.tcgetpgrp(0) == os.getpgrp()
    except OSError:
        ctty = False
    if value('--listen'):
        listen(log, value('--listen'))
    fresh = termios.tcgetattr(0)
    jobs = '--jobs' in opts
    settle = float(value('--modes-settle') or 0)
    while play(log, game, query, jobs, ctty, settle) and value('--again'):
        # the next game in this terminal, when asked for, with the terminal as it was at first
        signal.sigwait([signal.SIGUSR2])
        with open(value('--again')) as f:
            log, jobs = json.load(f)
        termios.tcsetattr(0, termios.TCSAFLUSH, fresh)
        os.write(1, b'\x1bc')
    signal.signal(signal.SIGHUP, signal.SIG_DFL)
    while True:
        signal.pause()


if __name__ == '__main__':
    main(sys.argv[1:])
