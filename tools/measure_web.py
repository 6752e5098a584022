#!/usr/bin/python3
"""Measures the built site in a browser (headless Chromium, or --engine firefox or webkit) and
prints the figures; a measurement, not a test.

- the page processes' processor time while the game waits for a key, next to an empty page's in
  the same browser (Chromium's renderers, Firefox's content processes, WebKit's web process);
- the time from the page's load to the intro on screen, cold (a fresh browser) and warm (a reload);
- the time from a key event to the screen's update, median and worst;
- the site's size, plain and gzipped, by file, and the game's own part (its JS and wasm);
- per viewport (phones upright and sideways, windows, a window at 200% zoom): the view the page
  shows by itself, the terminal's text size there, the text view's text size, and whether an
  Event's question, its answers and the touch keys fit on the screen in the text view (Chromium).

usage: /usr/bin/python3 tools/measure_web.py [build-web/site] [--engine E] [--seconds N] [--keys N] [--views-only]
Exit 77 (and why) when the browser or its driver is missing.
"""
import argparse
import gzip
import os
import re
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
from rig import browser_session  # noqa: E402
from rig.browser_session import BrowserSession  # noqa: E402

TICKS = os.sysconf('SC_CLK_TCK')
WARM_UP = 3.0  # seconds before processor time is measured
# (what, CSS width, CSS height, device pixels per CSS px, a phone: touch and a mobile viewport)
VIEWPORTS = [
    ('phone upright', 320, 568, 2, True),
    ('phone upright', 360, 740, 3, True),
    ('phone upright', 375, 667, 2, True),
    ('phone upright', 390, 844, 3, True),
    ('phone sideways', 667, 375, 2, True),
    ('phone sideways', 844, 390, 3, True),
    ('window', 1024, 768, 1, False),
    ('window', 1280, 800, 1, False),
    ('window 1280x800 at 200%', 640, 400, 2, False),
    ('window', 1400, 900, 1, False),
]


def shows_pages(args, engine):
    """Is the process with these arguments one that runs pages (the engine's renderer)?"""
    if engine == 'firefox':
        return b'-contentproc' in args
    if engine == 'webkit':
        return any(arg.endswith(b'WebKitWebProcess') for arg in args)
    return b'--type=renderer' in args


def processes(session, kind=None):
    """The session's browser processes (those that run pages with kind 'renderer', or all):
    pid -> processor seconds so far."""
    found = {}
    for pid in session._own_processes():
        try:
            with open(f'/proc/{pid}/cmdline', 'rb') as f:
                args = f.read().replace(b' ', b'\0').split(b'\0')  # Chromium's children: one argument
            if kind and not shows_pages(args, session.engine):
                continue
            with open(f'/proc/{pid}/stat') as f:
                fields = f.read().rsplit(') ', 1)[1].split()
            found[pid] = (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime
        except (OSError, IndexError, ValueError):
            pass
    return found


def cpu_over(session, seconds):
    """Processor milliseconds used over the next seconds: the renderers, and the whole browser."""
    before_renderers, before_all = processes(session, 'renderer'), processes(session)
    time.sleep(seconds)  # the span measured, not a wait for the page
    after_renderers, after_all = processes(session, 'renderer'), processes(session)

    def used(before, after):
        return 1000 * sum(after[pid] - before.get(pid, 0) for pid in after)
    return used(before_renderers, after_renderers), used(before_all, after_all)


def first_screen_ms(session):
    """When the intro was in the terminal, in ms from the start of the page's navigation."""
    session.wait_until(lambda p: p['settled'], 30, 'the intro')
    return session.driver.execute_script('return window.bootcamp.timings.firstScreenMs;')


def site_sizes(site):
    rows = []
    for name in sorted(os.listdir(site)):
        with open(os.path.join(site, name), 'rb') as f:
            data = f.read()
        rows.append((name, len(data), len(gzip.compress(data, 9, mtime=0))))
    return rows


def views(site):
    """The views table: each viewport at an Event, as the page chooses, then in the text view."""
    print('\nviews at an Event (text sizes in CSS px; x density for the screen\'s pixels)')
    print(f'  {"viewport":34} {"shown":9} {"terminal":>9} {"text view":>10}  question, answers and keys on the screen')
    with BrowserSession(site) as s:
        for what, width, height, density, phone in VIEWPORTS:
            s.cdp('Emulation.setTouchEmulationEnabled', enabled=phone, maxTouchPoints=5 if phone else 1)
            s.emulate(width, height, density, phone)
            s.open()
            s.wait_settled()
            s.tap('Enter')
            s.wait_settled()
            own = s.view()
            if own['shown'] != 'text':
                s.click('view-switch')
                s.wait_until(lambda p: s.view()['shown'] == 'text', 10, 'the text view')
            looks = s.looks()
            w, h = looks['viewport']
            parts = looks['lines'] + ([looks['touchKeys']] if phone else [])
            fits = not looks['sideways'] and all(b and b[0] >= 0 and b[1] >= 0 and b[2] <= w + 0.5 and b[3] <= h + 0.5
                                                 for b in parts)
            print(f'  {what + f" {width}x{height} x{density}":34} {own["shown"]:9} {own["terminalTextPx"]:6.1f} px '
                  f'{looks["textPx"]:7.1f} px  {"yes" if fits else "no, it scrolls"}'
                  f'{"" if not looks["sideways"] else " (and sideways)"}')
            if own['shown'] != 'text':
                s.click('view-switch')  # back to the page's own choice, which it then forgets
                s.wait_until(lambda p: s.view()['shown'] == own['shown'] and s.view()['chosen'] is None, 10, 'the page\'s own view')


def print_game_part(rows):
    """The game's own part of the download: its JS and wasm together (named by their content)."""
    game = [row for row in rows if re.fullmatch(r'bootcamp(\.[0-9a-f]{16})?\.(js|wasm)', row[0])]
    print(f'  {"the game (JS and wasm)":24} {sum(r[1] for r in game) / 1024:8.1f} KiB '
          f'{sum(r[2] for r in game) / 1024:8.1f} KiB')


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('site', nargs='?',
                        default=os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'build-web', 'site'))
    parser.add_argument('--engine', choices=browser_session.ENGINES, default='chromium')
    parser.add_argument('--seconds', type=float, default=10, help='length of each processor time span')
    parser.add_argument('--keys', type=int, default=100, help='key presses timed')
    parser.add_argument('--views-only', action='store_true', help='only the views table')
    args = parser.parse_args()
    missing = browser_session.cannot_run(args.site, args.engine)
    if missing:
        print(f'SKIP: {missing}')
        return 77
    if args.views_only:
        views(args.site)
        return 0

    print(f'site: {os.path.abspath(args.site)}; {args.engine}; {os.cpu_count()} processors')
    total_plain = total_gzip = 0
    print('\nsize                        plain     gzip -9')
    for name, plain, packed in site_sizes(args.site):
        total_plain += plain
        total_gzip += packed
        print(f'  {name:24} {plain / 1024:8.1f} KiB {packed / 1024:8.1f} KiB')
    print(f'  {"the whole site":24} {total_plain / 1024:8.1f} KiB {total_gzip / 1024:8.1f} KiB')
    print_game_part(site_sizes(args.site))

    cold = []
    for _ in range(3):
        with BrowserSession(args.site, engine=args.engine) as s:
            cold.append(first_screen_ms(s))
    with BrowserSession(args.site, engine=args.engine) as s:
        warm = []
        for _ in range(5):
            s.open()
            warm.append(first_screen_ms(s))
        print('\npage load to the intro on screen (from the navigation\'s start)')
        print(f'  cold, a fresh browser: median {statistics.median(cold):.0f} ms '
              f'(runs: {", ".join(f"{v:.0f}" for v in cold)})')
        print(f'  warm, a reload:        median {statistics.median(warm):.0f} ms '
              f'(runs: {", ".join(f"{v:.0f}" for v in warm)})')

        print(f'\nprocessor time in two spans of {args.seconds:.0f} s each, after {WARM_UP:.0f} s to settle '
              '(renderer processes; the whole browser)')

        def spans(label):
            time.sleep(WARM_UP)  # the page's start-up work (compiling, collecting) done first
            used = [cpu_over(s, args.seconds) for _ in range(2)]
            print(f'  {label:38} ' + ', '.join(f'{r:4.0f} ms; {a:4.0f} ms' for r, a in used))
        s.driver.get('about:blank')
        spans('an empty page (about:blank):')
        s.open()
        s.wait_settled()
        spans('the game waiting at the intro:')
        s.tap('Enter')
        s.wait_settled()
        spans('the game waiting for an answer:')

        # Key to screen: every key that changes the screen, through whole runs.
        s.driver.execute_script('window.bootcamp.timings.keyToScreenMs = []; window.bootcamp.timings.keyToFrameMs = [];')
        presses = 0
        while presses < args.keys:
            rows = s.rows()
            text = '\n'.join(rows)
            if 'Press ENTER to' in text or not text.strip() or rows[7][:80].strip():
                code = 'Enter'  # the intro, an ending, every Event played, or an outcome shown
            else:
                code = f'Digit{presses % 3}'
            s.tap(code)
            s.wait_settled()
            presses += 1
        timings = s.driver.execute_script('return window.bootcamp.timings;')
        s.wait_until(lambda p: len(s.driver.execute_script('return window.bootcamp.timings.keyToFrameMs;'))
                     >= len(timings['keyToScreenMs']), 10, 'the last frame')
        timings = s.driver.execute_script('return window.bootcamp.timings;')
        parsed, painted = timings['keyToScreenMs'], timings['keyToFrameMs']
        print(f'\nkey event to screen update, {len(parsed)} keys')
        print(f'  in the terminal\'s buffer:  median {statistics.median(parsed):5.1f} ms, worst {max(parsed):5.1f} ms')
        print(f'  on the next frame:         median {statistics.median(painted):5.1f} ms, worst {max(painted):5.1f} ms')
    if args.engine == 'chromium':  # a phone's screen is emulated through Chromium's protocol
        views(args.site)
    return 0


if __name__ == '__main__':
    sys.exit(main())
