#!/usr/bin/python3
"""Takes the README's picture of the page: the built site in headless Chromium, mid-game (an
answered Event, the conditions panel and the answer's effects).

usage: /usr/bin/python3 tools/screenshot_web.py [build-web/site] [docs/web.png] [--touch]
Exit 77 (and why) when the browser or its driver is missing.
"""
import argparse
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, '..', 'tests', 'e2e'))
from rig import browser_session  # noqa: E402
from rig.browser_session import BrowserSession  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('site', nargs='?', default=os.path.join(here, '..', 'build-web', 'site'))
    parser.add_argument('picture', nargs='?', default=os.path.join(here, '..', 'docs', 'web.png'))
    parser.add_argument('--touch', action='store_true', help='as a touch screen shows it, with the touch keys')
    args = parser.parse_args()
    missing = browser_session.cannot_run(args.site)
    if missing:
        print(f'SKIP: {missing}')
        return 77
    with BrowserSession(args.site, touch=args.touch, size=(1280, 560)) as s:
        s.wait_settled()
        s.tap('Enter')
        s.wait_settled()
        s.tap('Digit1')
        s.wait_settled()
        s.screenshot(args.picture)
    print(f'wrote {args.picture}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
