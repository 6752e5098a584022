"""The game on its web page in headless Chromium, through browser_session: real key events by
the key's DOM code, or the page's touch keys held with fingers; the screen read back from the
page's terminal row by row.

GAME is the built site (build-web/site). The page's terminal is always the layout's size; a game
is a fresh load of the page (a new process, as far as the game can tell). Variants: the keyboard,
and a touch screen whose fingers hold the touch keys (0, 1, 2, ENTER and Q only).
"""
import time

from . import browser_session
from .driver import Driver, Skip
from .model import Screen

KEYS = {'enter': 'Enter', 'kp_enter': 'NumpadEnter', 'q': 'KeyQ', 'kp1': 'Numpad1',
        **{str(d): f'Digit{d}' for d in range(10)}}
TOUCH_KEYS = {'enter': 'ENTER', 'q': 'Q', '0': '0', '1': '1', '2': '2'}


class BrowserDriver(Driver):
    name = 'browser'
    caps = frozenset({'layout', 'cursor', 'releases', 'focus', 'keypad', 'page', 'repeat'})

    def __init__(self, game, work):
        super().__init__(game, work)
        missing = browser_session.cannot_run(game)
        if missing:
            raise Skip(missing)
        self.session = None
        self.options = None
        self.touch = False
        self.started_at = 0.0

    def variants(self):
        return [('keys', {}, self.caps), ('touch', {'touch': True}, self.caps - {'keypad', 'focus', 'repeat'} | {'touch'})]

    def start(self, cols, rows, touch=False, **page):
        """A game on a freshly loaded page; a new browser when the kind of screen changes (touch,
        or the page's options of browser_session: query, blocked)."""
        options = dict(touch=touch, **page)
        if self.session is None or options != self.options:
            self.close()
            self.session = browser_session.BrowserSession(self.game, **options)
            self.options = options
            self.session.start(wait=False)
        else:
            self.session.open(wait=False)
        self.touch = touch
        self.started_at = time.time()
        self.session.wait_until(lambda p: p['state'] != 'loading', 30, 'the page to load')

    def stop(self):
        if self.session is not None:
            self.session.fingers.clear()

    def close(self):
        if self.session is not None:
            self.session.stop()
            self.session = None

    # keys: by code, or on a touch screen the touch key under a finger
    def press(self, key):
        if self.touch:
            self.session.pointer_down(TOUCH_KEYS[key])
        else:
            self.session.key_down(KEYS[key])

    def release(self, key):
        if self.touch:
            self.session.pointer_up(TOUCH_KEYS[key])
        else:
            self.session.key_up(KEYS[key])

    def repeat(self, key):
        self.session.key_down(KEYS[key], repeat=True)

    def screen(self):
        cursor = self.session.cursor()
        return Screen(self.session.rows(), cursor and (cursor[0] - 1, cursor[1] - 1))

    def terminal_size(self):
        rows = self.session.rows()
        return (len(rows[0]), len(rows)) if rows else None

    def ended(self):
        page = self.session.page()
        if page['state'] == 'ended':
            return ('exit', page['exit_status'])
        return ('error', page['error']) if page['state'] == 'error' else None

    def focus_away(self):
        self.session.lose_focus()

    def focus_back(self):
        self.session.regain_focus()

    def new_game(self, by_enter=False):
        """A new game once one has ended: by the page's New game button, or by ENTER (on its
        release). The game seeds from the clock's second: a new second first, for a new order."""
        self.session.wait_until(lambda p: int(time.time()) > int(self.started_at), 5, 'a new second')
        games = self.session.page()['games']
        if by_enter:
            self.session.tap('Enter')
        else:
            self.session.new_game()
        self.session.wait_until(lambda p: p['games'] > games and p['state'] == 'running', 30, 'the new game')
        self.started_at = time.time()
