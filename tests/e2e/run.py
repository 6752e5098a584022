#!/usr/bin/python3
"""Plays the built game's end-to-end scenarios on one driver.

usage: run.py DRIVER GAME [--model COMMAND...] [--emulator COMMAND...] [--only SCENARIO...] [--list]
              [--screenshot PNG]
  DRIVER        pty, tmux, kitty, xterm, foot, wine, or a browser: browser (Chromium), firefox, webkit;
                orca: the screen reader Orca listening to the page in Chromium and Firefox
  GAME          the built game (for wine: bootcamp.exe; for a browser: the built site)
  --model       the model tool's command line (default: catalog_model in the game's build)
  --emulator    what runs the game here (qemu-aarch64: a game built for 64-bit ARM)
  --only        these scenarios only
  --screenshot  no scenarios: the README's picture (kitty)

Runs every scenario of the table the driver (each of its terminals) can play. Prints a line a
scenario; exit status 0 when all pass, 1 when one fails, 77 (SKIP) when the driver's tools are
missing. In CI (BOOTCAMP_CI set), which installs every tool, a missing tool is a failure (1). Run
it with Debian's /usr/bin/python3, which sees python3-pyte.
"""
import argparse
import importlib
import os
import shutil
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rig.driver import Skip  # noqa: E402
from rig.model import Model  # noqa: E402
from rig.scenarios import TABLE, Context, screenshot  # noqa: E402


DRIVERS = {'pty': ('pty_driver', 'PtyDriver'), 'tmux': ('tmux_driver', 'TmuxDriver'),
           'wine': ('tmux_driver', 'WineDriver'), 'kitty': ('gui_drivers', 'KittyDriver'),
           'xterm': ('gui_drivers', 'XtermDriver'), 'foot': ('gui_drivers', 'FootDriver'),
           'browser': ('browser_driver', 'BrowserDriver'), 'firefox': ('browser_driver', 'FirefoxDriver'),
           'webkit': ('browser_driver', 'WebKitDriver'), 'orca': ('screen_reader', 'OrcaDriver')}


def driver_class(name):
    module, cls = DRIVERS[name]
    return getattr(importlib.import_module(f'rig.{module}'), cls)


def default_model(game):
    build = os.path.dirname(os.path.abspath(game))
    for place in ('', 'tests/e2e'):
        for name in ('catalog_model', 'catalog_model.exe'):
            path = os.path.join(build, place, name)
            if os.path.exists(path):
                return (['wine'] if name.endswith('.exe') else []) + [path]
    sys.exit(f'no catalog_model beside {game}: give --model')


def main():
    args = argparse.ArgumentParser()
    args.add_argument('driver', choices=sorted(DRIVERS))
    args.add_argument('game')
    args.add_argument('--model', nargs='+')
    args.add_argument('--emulator', nargs='+')
    args.add_argument('--only', nargs='+')
    args.add_argument('--list', action='store_true')
    args.add_argument('--screenshot', metavar='PNG', help='(kitty) only take the README\'s picture')
    opts = args.parse_args()
    table = [(fn, needs) for fn, needs in TABLE if not opts.only or fn.__name__ in opts.only]
    work = tempfile.mkdtemp(prefix=f'bootcamp-e2e-{opts.driver}.')
    started, failed, ran = time.monotonic(), [], 0
    driver = None
    try:
        driver = driver_class(opts.driver)(os.path.abspath(opts.game), work)
        if getattr(driver, 'scenarios', None):  # a driver made for some scenarios plays only those
            table = [(fn, needs) for fn, needs in table if fn.__name__ in driver.scenarios]
        if opts.emulator:
            driver.emulator = tuple(opts.emulator)
        if not opts.model and getattr(driver, 'plays_site', False):
            sys.exit('a browser plays a site: give --model (the native build\'s catalog_model)')
        command = [os.path.abspath(a) if os.path.exists(a) else a for a in opts.model or default_model(opts.game)]
        model = Model.from_tool(command)
        if not opts.list:
            driver.setup()
        if opts.screenshot:
            screenshot(Context(driver, model, {}, driver.caps), os.path.abspath(opts.screenshot))
            print(f'wrote {opts.screenshot}')
            return 0
        for variant, start_opts, caps in driver.variants():
            for fn, needs in table:
                name = f'[{opts.driver}{"/" + variant if variant else ""}] {fn.__name__}'
                if not needs <= caps:
                    why = [getattr(driver, 'cannot', {}).get(cap) for cap in sorted(needs - caps)]
                    why = '; '.join(w for w in why if w)
                    print(f'--   - {name}: needs {", ".join(sorted(needs - caps))}{" (" + why + ")" if why else ""}',
                          flush=True)
                    continue
                if opts.list:
                    print(name)
                    continue
                ran += 1
                begun = time.monotonic()
                try:
                    fn(Context(driver, model, start_opts, caps))
                    print(f'ok   - {name} ({time.monotonic() - begun:.1f} s)', flush=True)
                except AssertionError as error:
                    failed.append(name)
                    print(f'FAIL - {name}: {error}', flush=True)
                except Exception:
                    failed.append(name)
                    print(f'FAIL - {name}:\n{traceback.format_exc()}', flush=True)
                finally:
                    driver.stop()
    except Skip as reason:
        if os.environ.get('BOOTCAMP_CI'):
            print(f'FAIL: {opts.driver}: {reason} (in CI, which installs every tool, a skip is a failure)', flush=True)
            return 1
        print(f'SKIP: {opts.driver}: {reason}', flush=True)
        return 77
    finally:
        if driver:
            driver.close()
        shutil.rmtree(work, ignore_errors=True)
    print(f'{opts.driver}: {ran - len(failed)} passed, {len(failed)} failed ({time.monotonic() - started:.1f} s)')
    for name in failed:
        print(f'  failed: {name}')
    return 1 if failed or not (ran or opts.list) else 0


if __name__ == '__main__':
    sys.exit(main())
