#!/usr/bin/python3
"""Measures the game in a pseudo-terminal: the time from start to the intro in a terminal that
answers the start-up questions and in one that answers nothing, and the bytes of one redraw (a
resize of the same size) after 1 and after 20 turns of one run.

usage: /usr/bin/python3 tools/measure_terminal.py [GAME] [--model CATALOG_MODEL]
       (default: build/bootcamp and the catalog_model beside it; needs Debian's python3-pyte)
"""
import argparse
import os
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


def intro_ms(driver, model, answers):
    """From the game's start to the write that holds the intro."""
    p = Play(driver, model, 140, 40, answers=answers)
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


def main():
    args = argparse.ArgumentParser()
    args.add_argument('game', nargs='?', default=os.path.join(ROOT, 'build', 'bootcamp'))
    args.add_argument('--model')
    opts = args.parse_args()
    game = os.path.abspath(opts.game)
    model = Model.from_tool([opts.model or os.path.join(os.path.dirname(game), 'catalog_model')])
    work = tempfile.mkdtemp(prefix='bootcamp-measure.')
    driver = PtyDriver(game, work)
    try:
        for answers, what in ((True, 'a terminal that answers (kitty)'), (False, 'a terminal that answers nothing')):
            times = [intro_ms(driver, model, answers) for _ in range(RUNS)]
            print(f'start to intro in {what}: median {statistics.median(times):.1f} ms, '
                  f'worst {max(times):.1f} ms over {RUNS} starts')
        p = Play(driver, model, 140, 40)
        p.pass_intro()
        for turn in range(1, 21):
            p.choose(p.safe(or_any=True))
            if turn in (1, 20):
                print(f'one redraw after {turn} turn{"s" if turn > 1 else ""}: {redraw_bytes(driver, p)} bytes')
            p.close_turn()
            if p.ended_run():
                print(f'(the run ended after {turn} turns)')
                break
    finally:
        driver.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
