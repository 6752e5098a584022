#!/usr/bin/python3
"""Takes the README's pictures of the page: the built site in headless Chromium, mid-game (an
answered Event, the conditions and the answer's effects); in a window (the terminal view), or
with --phone on a phone held upright (the text view and the touch keys).

usage: /usr/bin/python3 tools/screenshot_web.py [build-web/site] [PICTURE] [--touch | --phone]
  PICTURE defaults to docs/web.png, with --phone to docs/web-phone.png
Exit 77 (and why) when the browser or its driver is missing.
"""
import argparse
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, '..', 'tests', 'e2e'))
from rig import browser_session  # noqa: E402
from rig.browser_session import BrowserSession  # noqa: E402

PHONE = (390, 844, 2, True)  # CSS px, at 2 device pixels each: a picture 780 pixels wide


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('site', nargs='?', default=os.path.join(here, '..', 'build-web', 'site'))
    parser.add_argument('picture', nargs='?')
    parser.add_argument('--touch', action='store_true', help='as a touch screen shows it, with the touch keys')
    parser.add_argument('--phone', action='store_true', help='on a phone held upright: the text view')
    args = parser.parse_args()
    picture = args.picture or os.path.join(here, '..', 'docs', 'web-phone.png' if args.phone else 'web.png')
    missing = browser_session.cannot_run(args.site)
    if missing:
        print(f'SKIP: {missing}')
        return 77
    options = dict(touch=True, device=PHONE) if args.phone else dict(touch=args.touch, size=(1280, 560))
    with BrowserSession(args.site, **options) as s:
        s.wait_settled()
        s.tap('Enter')
        s.wait_settled()
        s.tap('Digit1')
        s.wait_settled()
        s.screenshot(picture)
    print(f'wrote {picture}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
