"""The game on its web page in a browser, through browser_session: real key events by the key's
DOM code, or the page's touch keys held with fingers; the screen read back from the page's
terminal row by row, or (start(..., read='text')) from the page's text view.

GAME is the built site (build-web/site). The page's terminal is always the layout's size; a game
is a fresh load of the page (a new process, as far as the game can tell). Drivers: browser
(headless Chromium), firefox (headless Firefox) and webkit (WebKitGTK under Xvfb). Chromium's
variants: the keyboard, and a touch screen whose fingers hold the touch keys (0, 1, 2, ENTER and
Q only); the other engines play the keyboard's, without what their WebDriver cannot send
(browser_session.CANNOT, which says why).
"""
import time

from . import browser_session
from .driver import Driver, Skip
from .model import EFFECTS_ROW, PANEL_COL, Canvas, Screen

KEYS = {'enter': 'Enter', 'kp_enter': 'NumpadEnter', 'q': 'KeyQ', 'kp1': 'Numpad1',
        **{str(d): f'Digit{d}' for d in range(10)}}
TOUCH_KEYS = {'enter': 'ENTER', 'q': 'Q', '0': '0', '1': '1', '2': '2'}


class BrowserDriver(Driver):
    name = 'browser'
    engine = 'chromium'
    plays_site = True
    all_caps = frozenset({'layout', 'cursor', 'releases', 'focus', 'keypad', 'page', 'repeat', 'keyboard',
                          'layouts', 'raw_keys', 'offline', 'installable', 'preload', 'phone',
                          'accessibility_tree', 'key_activation', 'tab_out', 'forced_colors'})

    engines = ()  # every engine a run takes, where it is more than `engine`

    def __init__(self, game, work):
        super().__init__(game, work)
        self.cannot = browser_session.CANNOT.get(self.engine, {})
        self.caps = self.all_caps - set(self.cannot)
        missing = next(filter(None, (browser_session.cannot_run(game, engine)
                                     for engine in self.engines or (self.engine,))), None)
        if missing:
            raise Skip(missing)
        self.session = None
        self.options = None
        self.touch = False
        self.read = 'terminal'
        self.started_at = 0.0

    def variants(self):
        if 'touch' in self.cannot:
            return [('keys', {}, self.caps)]
        # the touch screen's: no keyboard; one pass of the page's own scenarios is enough
        touch = self.caps - {'keypad', 'focus', 'repeat', 'keyboard', 'layouts', 'raw_keys', 'offline', 'installable',
                             'preload', 'phone', 'accessibility_tree', 'key_activation', 'tab_out', 'forced_colors'}
        return [('keys', {}, self.caps), ('touch', {'touch': True}, touch | {'touch'})]

    def start(self, cols, rows, touch=False, read='terminal', **page):
        """A game on a freshly loaded page; a new browser when the kind of screen changes (touch,
        or the page's options of browser_session: query, blocked, device). read: where screen()
        reads the game, the page's 'terminal' or its 'text' view."""
        self.read, self.cols_rows = read, (cols, rows)
        options = dict(touch=touch, **page)
        if self.session is None or options != self.options:
            self.end_session()
            self.session = browser_session.BrowserSession(self.game, **{'engine': self.engine, **options})
            self.options = options
            self.session.start(wait=False)
        else:
            self.session.open(wait=False)
        self.touch = touch
        self.started_at = time.time()
        self.session.wait_until(lambda p: p['state'] not in ('loading', 'no page'), 30, 'the page to load')

    def stop(self):
        if self.session is not None:
            self.session.fingers.clear()

    def end_session(self):
        if self.session is not None:
            self.session.stop()
            self.session = None

    def close(self):
        self.end_session()

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
        if self.read == 'text':
            return self.text_screen()
        cursor = self.session.cursor()
        return Screen(self.session.rows(), cursor and (cursor[0] - 1, cursor[1] - 1))

    def text_screen(self):
        """The text view laid out as the game's screen, to be held to the same model: each line
        of the Event's side on its row; the panel's title centred over its 22 columns, each
        gauge's text and, under it, the bar its meter shows (its value's share of the meter's
        range in 20 cells, or '?' when the meter's value is not the one its text reads); the
        effects line under the panel. No cursor."""
        view = self.session.text_view()
        canvas = Canvas(*self.cols_rows)
        for row, text in view['lines']:
            canvas.write(text, row, 0)
        if view['title']:
            canvas.write(view['title'], 0, PANEL_COL + (22 - len(view['title'])) // 2)
        for i, gauge in enumerate(view['gauges']):
            canvas.write(gauge['text'], 1 + 2 * i, PANEL_COL)
            span = gauge['max'] - gauge['min']
            reads = gauge['text'].rsplit(' ', 1)[-1]
            cells = (20 * (gauge['value'] - gauge['min'])) // span if span > 0 and reads == str(gauge['value']) else -1
            canvas.write('[' + '=' * cells + ' ' * (20 - cells) + ']' if 0 <= cells <= 20 else '?', 2 + 2 * i, PANEL_COL)
        canvas.write(view['effects'], EFFECTS_ROW, PANEL_COL)
        return canvas.screen(None)

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


class FirefoxDriver(BrowserDriver):
    name = 'firefox'
    engine = 'firefox'


class WebKitDriver(BrowserDriver):
    name = 'webkit'
    engine = 'webkit'
