"""A game played through a driver and checked against the model at every step of every turn.

The play order is random per process, so the Event on screen is told by its prompt; the model
then says exactly what the screen must hold. Waits are for that screen, with a deadline.
"""
import time

from .inside import MARKER
from .model import PANEL_COL, Canvas, found_wrapped, read_in_order

LIMIT = 8.0     # how long the game may take to show what is due (both cores may be busy)
QUIET = 0.3     # how long "nothing happens" is watched for: a fixed wait that is the check itself
TURNS = 25      # more turns than a run has Events: a run that never ends fails


class Failed(AssertionError):
    pass


def check(good, what):
    if not good:
        raise Failed(what)


class Play:
    def __init__(self, driver, model, cols, rows, **opts):
        self.d, self.m = driver, model
        self.cols, self.rows = cols, rows
        self.layout = 'layout' in driver.caps
        self.stacked = '--stacked' in opts.get('args', ())
        driver.start(cols, rows, **opts)
        size = driver.terminal_size()
        check(size in (None, (cols, rows)), f'the terminal is {size}, not {cols}x{rows}')
        self.new_run()

    def new_run(self):
        self.values, self.event, self.seen, self.days = self.m.start, None, [], 0

    # ---- comparing screens -----------------------------------------------------------------
    @property
    def fit(self):
        """How the game places its screen in this window: 'as_drawn', 'beside', 'stacked', None."""
        return self.m.arrangement(self.cols, self.rows, self.stacked)

    @property
    def rows_taken(self):
        return self.m.rows_taken(self.cols, self.rows, self.stacked)

    def screen_of(self, draw):
        """A screen of the model's, drawn for this window: the game's own layout, marked to be laid
        out where the window does not hold it."""
        if self.fit in (None, 'as_drawn'):
            return draw(self.cols, self.rows)
        want = draw(*self.m.layout)
        want.fit = self.fit
        return want

    def matches(self, screen, want):
        if not self.layout:
            holds = [self.holds(screen, t) for t in want.texts + want.absent]
            return holds == [True] * len(want.texts) + [False] * len(want.absent)
        if want.fit:
            return self.m.placed(screen, want) is None
        pad = lambda s: (s.rows + [''] * self.rows)[:self.rows]  # noqa: E731
        if pad(screen) != pad(want):
            return False
        return screen.cursor is None or want.cursor is None or screen.cursor == want.cursor

    @staticmethod
    def holds(screen, text):
        """For a terminal that garbles the layout (wine's console breaks rows where it counts
        escape bytes as cells): the text is there, read without blanks, the left area (the
        Event's 80 columns) of every row first, or every row whole."""
        squeeze = lambda t: t.replace(' ', '')  # noqa: E731
        left = ''.join(r[:80] for r in screen.rows) + ''.join(r[80:] for r in screen.rows)
        return squeeze(text) in squeeze(left) or squeeze(text) in squeeze(''.join(screen.rows))

    def shows(self, *wanted):
        """The first of the wanted screens the game shows now, or None."""
        screen = self.d.screen()
        return next((w for w in wanted if self.matches(screen, w)), None)

    def expect(self, what, *wanted, timeout=LIMIT, detail=None):
        """Waits for one of the wanted screens, or for a check (a function) to hold. On failure
        says what was shown and expected, and what detail() tells."""
        ready = wanted[0] if callable(wanted[0]) else (lambda: self.shows(*wanted))
        found = self.d.wait_until(ready, timeout)
        if not found:
            shown = '\n'.join(f'expected{" laid out " + w.fit if w.fit else ""}:\n{w}' for w in wanted[:2]
                              if not callable(w))
            if self.layout and not callable(wanted[0]) and wanted[0].fit:
                shown += f'\nlaid out, what is wrong: {self.m.placed(self.d.screen(), wanted[0])}'
            raise Failed(f'{what}: not so within {timeout} s{detail() if detail else ""}\n'
                         f'shown:\n{self.d.screen()}\n{shown}')
        return found

    check = staticmethod(check)

    def quiet(self, what, seconds=QUIET):
        """Nothing changes on the screen for this long."""
        before = self.d.screen()
        settle = getattr(self.d, 'settle', time.sleep)
        settle(seconds)
        after = self.d.screen()
        self.check(after.rows == before.rows and after.cursor == before.cursor,
                   f'the screen changed after {what}:\nbefore:\n{before}\nafter:\n{after}')

    # ---- the game's screens ----------------------------------------------------------------
    def intro(self):
        return self.screen_of(self.m.intro)

    def turn(self, event, values=None, chosen=None):
        values = self.values if values is None else values
        return self.screen_of(lambda cols, rows: self.m.turn(event, values, cols, rows, chosen))

    def on_screen(self, exclude=()):
        """The Event whose prompt the screen shows, if not one of `exclude`."""
        screen = self.d.screen()
        if self.layout and self.fit not in (None, 'as_drawn'):
            read = read_in_order(screen.rows, self.fit == 'beside')
            event = next((e for e in self.m.events if e['prompt'] not in exclude and found_wrapped(read, e['prompt'])),
                         None)
        elif self.layout:
            event = self.m.by_prompt.get(screen.text(1, 0, 80))
        else:
            event = next((e for e in self.m.events if self.holds(screen, e['prompt'])), None)
        return None if event is None or event['prompt'] in exclude else event

    def new_event(self, chosen=None, values=None):
        """A check: an Event not yet seen in this run is on screen, as the model draws it."""
        def check():
            event = self.on_screen(self.seen)
            return event if event and self.shows(self.turn(event, values, chosen)) else None
        return check

    def ending(self):
        return self.screen_of(lambda cols, rows: self.m.ending(self.m.cause(self.values), self.days, cols, rows))

    # ---- playing ---------------------------------------------------------------------------
    def at_intro(self):
        self.expect('the intro', self.intro())

    def arrive(self, what, chosen=None):
        """Waits for the next Event (waiting for a digit, or with `chosen` taken at once)."""
        self.event = self.expect(what, self.new_event(chosen))
        self.seen.append(self.event['prompt'])
        if chosen is not None:
            self.answered(chosen)

    def pass_intro(self, key='enter'):
        """The key taps at once (typed ahead if the intro is not out yet); then, where the driver
        can tell, until the game follows key releases, so that a key held later is held."""
        self.d.tap(key)
        self.arrive(f'the first Event after {key} at the intro')
        self.keys_followed()

    def answered(self, option):
        self.values = self.m.apply(self.values, self.event['options'][option])

    def choose(self, option, key=None):
        self.d.tap(key or str(option))
        self.expect(f'Option {option} of "{self.event["prompt"]}" answered',
                    self.turn(self.event, chosen=option))
        self.answered(option)

    def keys_followed(self):
        """Waits until the game follows key releases, where the driver can tell (before that,
        each press counts as a whole tap)."""
        self.check(self.d.wait_until(self.d.releases_followed, LIMIT), 'the keyboard flags were never confirmed')

    def press_digit(self, digit):
        """A digit goes down, and stays down, while the Event waits for one: it answers."""
        self.d.press(str(digit))
        self.expect(f'digit {digit} down', self.turn(self.event, chosen=digit))
        self.answered(digit)

    def digit_held_through_enter(self):
        """A digit held down through the ENTER that closes the turn answers the next Event at
        once. Returns the digit, still down."""
        digit = self.safe(carried=True)
        self.press_digit(digit)
        self.d.tap('enter')
        self.after_turn(f'ENTER with {digit} held', chosen=digit)
        return digit

    def ended_run(self):
        return self.m.cause(self.values) is not None

    def after_turn(self, what, chosen=None):
        """After the ENTER that closes a turn: the ending if a condition is at its bound, else
        the next Event with the new values on the panel."""
        if self.ended_run():
            self.expect(f'{what}: the ending', self.ending())
        else:
            self.days += 1
            self.arrive(f'{what}: the next Event', chosen)

    def close_turn(self, key='enter'):
        self.d.tap(key)
        self.after_turn(f'{key} after the outcome')

    def play_to_ending(self, option=2):
        """Plays `option` every turn to the ending; returns the prompts met and the days."""
        self.answer_until_ending(option)
        self.close_turn()
        return list(self.seen), self.days

    def answer_until_ending(self, option=2):
        """Plays `option` every turn until the outcome that ends the run is shown."""
        for _ in range(TURNS):
            self.choose(option)
            if self.ended_run():
                return
            self.close_turn()
        raise Failed(f'no ending after {TURNS} turns of Option {option}')

    def safe(self, carried=False, avoid=None, or_any=False):
        """An Option of the Event on screen that keeps the run going; carried: also when its
        digit, still down, answers whichever Event comes next."""
        def ends(values, option, events):
            return any(self.m.cause(self.m.apply(values, e['options'][option])) is not None for e in events)
        unseen = [e for e in self.m.events if e['prompt'] not in self.seen]
        for option in (o for o in range(3) if o != avoid):
            after = self.m.apply(self.values, self.event['options'][option])
            if self.m.cause(after) is None and not (carried and ends(after, option, unseen)):
                return option
        if or_any:
            return 0
        raise Failed(f'no Option of "{self.event["prompt"]}" is safe at {self.values}')

    def resize(self, cols, rows, wipe=False):
        """The window to a new size; wiped first, so what comes back is the game's redraw."""
        if wipe:
            self.d.scribble(b'\x1b[2J')
            self.expect('the screen wiped', self.m.blank(self.cols, self.rows))
        self.cols, self.rows = cols, rows
        self.d.resize(cols, rows)

    def end_by_quit(self, where=None, send=None):
        """Q (or `send`: the bytes for it, or what presses it): the screen cleared, status 0, the
        modes as before; the shell goes on from where the cursor was (by default where the ending
        left it)."""
        # the ending's lines wrapped in a window narrower than them: the cursor where the game put it
        narrow = self.fit not in (None, 'as_drawn') and self.cols < PANEL_COL
        where = where or (self.d.screen().cursor if narrow else self.ending().cursor)
        if callable(send):
            send()
        else:
            self.d.send(send) if send else self.d.tap('q')
        self.wait_end(('exit', 0), 'Q')
        if 'page' in self.d.caps:   # no shell after the game on a page
            self.expect('the screen cleared by Q, the cursor left', Canvas(self.cols, self.rows).screen(where))
            return
        self.expect('the screen cleared by Q, the shell on from where the cursor was',
                    Canvas(self.cols, self.rows).write(MARKER, *where).screen((where[0] + 1, 0)))

    def wait_end(self, how, what):
        """The game ended `how`, and the terminal is as it was before: its modes, and its answers
        to the same questions (the keyboard flags, xterm's NumLock mode)."""
        got = self.d.wait_until(self.d.ended, LIMIT)
        self.check(got == how, f'{what}: the game ended with {got}, expected {how}')
        modes = self.d.modes()
        self.check(modes.get('after') == modes.get('before'),
                   f'{what}: terminal modes after the game differ from before:\n{modes}')
        if self.d.asked('before') is not None:
            after = self.d.wait_until(lambda: self.d.asked('after'), LIMIT)
            self.check(after == self.d.asked('before'),
                       f'{what}: the terminal answers {self.d.asked("before")!r} before the game, {after!r} after')
