#!/usr/bin/python3
"""Measures the game in a pseudo-terminal: the time from start to the intro in a terminal that
answers the start-up questions and in one that answers nothing; the bytes of one redraw (a resize
of the same size) after 1 and after 20 turns of one run, and of a turn; the bytes of a resize from
the game's own layout to a window it does not fit, and back; and the time from a key to the first
byte of the game's reply, against a blocking echo (cat in raw mode) through the same kind of
pseudo-terminal.

usage: /usr/bin/python3 tools/measure_terminal.py [GAME] [--model CATALOG_MODEL] [--size COLSxROWS]
       (default: build/bootcamp and the catalog_model beside it, in a window of 140x40; 80x24
       measures the screen laid out to fit; needs Debian's python3-pyte)
"""
import argparse
import fcntl
import os
import pty
import select
import struct
import termios
import time
import shutil
import signal
import statistics
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e'))
from rig.model import Model  # noqa: E402
from rig.play import Play  # noqa: E402
from rig.pty_driver import PtyDriver  # noqa: E402
from rig.scenarios import OPENING  # noqa: E402

RUNS = 5  # starts measured in each terminal


def intro_ms(driver, model, answers, size):
    """From the game's start to the write that holds the intro."""
    p = Play(driver, model, *size, answers=answers)
    p.at_intro()
    at = next(at for at, data in driver.chunks if OPENING in data)
    started = driver.note('at')
    driver.stop()
    return 1000 * (at - started)


def redraw_bytes(driver, p):
    """What the game writes for a resize that leaves the size as it was, once the screen is back."""
    before, mark = driver.screen(), len(driver.raw)
    driver.signal(signal.SIGWINCH)
    p.expect('the screen redrawn', lambda: b'\x1b[2J' in driver.raw[mark:] and driver.screen().rows == before.rows
             and driver.screen().cursor == before.cursor)
    p.quiet('the redrawn screen')
    return len(driver.raw) - mark


def first_reply_ms(fd, key, limit=5.0, replies=None):
    """Sends `key` and returns the time to the first byte back; then reads until quiet, into
    `replies` if given."""
    sent = time.monotonic()
    os.write(fd, key)
    if not select.select([fd], [], [], limit)[0]:
        raise RuntimeError(f'no reply to {key!r}')
    took = 1000 * (time.monotonic() - sent)
    while select.select([fd], [], [], 0.05)[0]:
        data = os.read(fd, 65536)
        if replies is not None:
            replies += data
    return took


def spawn(argv):
    pid, fd = pty.fork()
    if pid == 0:
        os.environ['TERM'] = 'xterm-256color'
        os.execvp(argv[0], argv)
    os.set_blocking(fd, True)
    return pid, fd


def resize_bytes(driver, p, small):
    """What the game writes for a resize from its own layout (133x40) to `small` and back, with an
    outcome shown, once the screen is laid out for the window."""
    written = []
    for cols, rows in (small, (133, 40)):
        mark = len(driver.raw)
        p.resize(cols, rows)
        p.expect(f'laid out for {cols}x{rows}', p.turn(p.event, p.shown_values, chosen=p.chosen))
        p.quiet('the resized screen')
        written.append(len(driver.raw) - mark)
    return written


def key_to_reply(game, size, samples=100):
    """Medians over `samples` keys each, taken in turn so that both meet the same load: the game
    (a digit at an Event, and the ENTER that closes the turn, in a terminal that answers nothing)
    and cat echoing a byte; and the game's reply to an ENTER pressed again 300 ms after the one
    that showed an ending (a second press of the same key, within a held key's first delay)."""
    game_pid, game_fd = spawn([game])
    fcntl.ioctl(game_fd, termios.TIOCSWINSZ, struct.pack('HHHH', size[1], size[0], 0, 0))
    os.kill(game_pid, signal.SIGWINCH)
    echo_pid, echo_fd = spawn(['sh', '-c', 'stty raw -echo; echo ready; exec cat'])
    game_ms, echo_ms = [], []
    try:
        while b'ready' not in os.read(echo_fd, 100):
            pass
        while select.select([game_fd], [], [], 0.5)[0]:     # the intro, and a redraw for the size
            os.read(game_fd, 65536)
        first_reply_ms(game_fd, b'\r')
        second_ms = []
        while len(game_ms) < samples:
            replies = bytearray()
            for key in (b'1', b'\r'):
                game_ms.append(first_reply_ms(game_fd, key, replies=replies))
                echo_ms.append(first_reply_ms(echo_fd, b'1'))
            if b'restart' in replies:
                time.sleep(0.3)
                second_ms.append(first_reply_ms(game_fd, b'\r'))    # the intro
                time.sleep(0.8)                                     # no longer a first repeat
                first_reply_ms(game_fd, b'\r')
    finally:
        for pid, fd in ((game_pid, game_fd), (echo_pid, echo_fd)):
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            os.close(fd)
    return statistics.median(game_ms), statistics.median(echo_ms), (statistics.median(second_ms) if second_ms else float("nan"))


def main():
    args = argparse.ArgumentParser()
    args.add_argument('game', nargs='?', default=os.path.join(ROOT, 'build', 'bootcamp'))
    args.add_argument('--model')
    args.add_argument('--size', default='140x40')
    opts = args.parse_args()
    size = tuple(int(n) for n in opts.size.split('x'))
    print(f'in a window of {size[0]} columns and {size[1]} rows')
    game = os.path.abspath(opts.game)
    model = Model.from_tool([opts.model or os.path.join(os.path.dirname(game), 'catalog_model')])
    work = tempfile.mkdtemp(prefix='bootcamp-measure.')
    game_ms, echo_ms, second_ms = key_to_reply(game, size)
    print(f'key to first reply byte: the game {game_ms:.3f} ms, a blocking echo {echo_ms:.3f} ms '
          f'(medians; {game_ms / echo_ms:.2f} times)')
    print(f'a second ENTER 300 ms after the first, in a terminal without releases: reply after '
          f'{second_ms:.1f} ms (median)')
    driver = PtyDriver(game, work)
    try:
        for answers, what in ((True, 'a terminal that answers (kitty)'), (False, 'a terminal that answers nothing')):
            times = [intro_ms(driver, model, answers, size) for _ in range(RUNS)]
            print(f'start to intro in {what}: median {statistics.median(times):.1f} ms, '
                  f'worst {max(times):.1f} ms over {RUNS} starts')
        p = Play(driver, model, 133, 40)
        p.pass_intro()
        p.shown_values, p.chosen = p.values, p.safe()
        p.choose(p.chosen)
        there, back = resize_bytes(driver, p, (80, 24))
        print(f'a resize with an outcome shown: {there} bytes from 133x40 to 80x24, {back} bytes back')
        p.close_turn()
        p = Play(driver, model, *size)
        p.pass_intro()
        p.quiet('the first Event')
        turns = []  # bytes from a digit to the next Event, turns with a redraw left out
        for turn in range(1, 21):
            mark = len(driver.raw)
            p.choose(p.safe(or_any=True))
            if turn in (1, 20):
                print(f'one redraw after {turn} turn{"s" if turn > 1 else ""}: {redraw_bytes(driver, p)} bytes')
            p.close_turn()
            if p.ended_run():
                print(f'(the run ended after {turn} turns)')
                break
            p.quiet('the next Event')
            if turn not in (1, 20):
                turns.append(len(driver.raw) - mark)
        if turns:
            print(f'a turn (digit, ENTER, the next Event): median {statistics.median(turns):.0f} bytes, '
                  f'most {max(turns)} over {len(turns)} turns')
    finally:
        driver.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
