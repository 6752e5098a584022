"""The built site played in headless Chromium with real key and pointer events, screens checked
on exact rows and columns against a model of the game. Exit 0 passed, 1 failed, 77 skipped.

usage: /usr/bin/python3 tests/e2e/browser_smoke.py [build-web/site]
"""
import os
import random
import re
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser_session  # noqa: E402
from browser_session import BrowserSession  # noqa: E402

NAMES = ['Health', 'Sanity', 'Reputation', 'Punchability']
START = [100, 50, 50, 30]
INTRO = ['You have made the mistake of joining the Marines',
         'This is your attempt to get through bootcamp',
         '',
         'Press ENTER to continue']
# The endings in the order they are tested, each with its test and its lines.
ENDINGS = [
    (lambda v: v[0] == 0, ['You collapse from exhaustion and are set to be medically discharged',
                           "Should've laid off on those peanut butter packets fatty", '']),
    (lambda v: v[1] == 0, ['During a manic episode you accidentally say the magic words to your Senior DI',
                           "Now you can't even have your own shoelaces", '']),
    (lambda v: v[2] == 0, ['"Clearly you don\'t care about being here"', 'at least thats what the Senior DI said',
                           "Well it doesn't matter now, a discharge is a discharge", '']),
    (lambda v: v[3] == 100, ['You know all those crazy DI stories you hear?', 'Imagine that but 10x worse',
                             'at least you made the local news', '']),
]
EFFECT_RE = re.compile(r'(Health|Sanity|Reputation|Punchability) ([+-]?\d+) ')
SIZE_NOTICE = 'This game needs a terminal'


def bar(value):
    filled = value // 5
    return '[' + '=' * filled + ' ' * (20 - filled) + ']'


def panel(values):
    """Rows 1 to 9, columns 81 to 102, as the conditions panel draws them."""
    rows = [' ' * 6 + 'Conditions' + ' ' * 6]
    for name, value in zip(NAMES, values):
        rows.append(f'{name}: {value}  '.ljust(22))
        rows.append(bar(value))
    return rows


def clamp_add(value, delta):
    total = value + delta
    return max(total, 0) if delta < 0 else min(total, 100)


class Mismatch(AssertionError):
    pass


def expect(condition, message, session):
    if not condition:
        raise Mismatch(f'{message}\nscreen:\n' + '\n'.join(f'{i + 1:2}|{r}|' for i, r in enumerate(session.rows()))
                       + f'\ncursor {session.cursor()}')


class Play:
    """One game in the page, followed step by step: the recruit's values, the day count, the
    turn's phase, and what the screen must show at each point."""

    def __init__(self, session):
        self.s = session
        self.values = list(START)
        self.days = 0
        self.phase = 'intro'
        self.event = None          # rows 1 to 7 of the Event area, as first shown
        self.first_prompts = []    # the prompts of this run, in order
        self.ending = None

    # --- checks

    def check_intro(self):
        rows = self.s.rows()
        width = len(rows[0])
        expect(width == 133 and len(rows) == 15, f'the terminal is {width}x{len(rows)}, not 133x15', self.s)
        expect([r.rstrip() for r in rows[:4]] == INTRO and all(not r.strip() for r in rows[4:]),
               'the intro is not on rows 1 to 4', self.s)
        expect(self.s.cursor() == (5, 1), 'the cursor is not under the intro', self.s)

    def check_panel(self, rows):
        for i, expected in enumerate(panel(self.values)):
            expect(rows[i][80:102] == expected, f'panel row {i + 1} is {rows[i][80:102]!r}, not {expected!r}', self.s)

    def check_event(self):
        """An Event's prompt and Options, the panel, nothing else; the cursor after the last
        Option. Returns the Event area as shown."""
        rows = self.s.rows()
        self.check_panel(rows)
        left = [r[:80] for r in rows]
        expect(not left[0].strip() and left[1][0] != ' ' and left[1].strip(), 'no prompt on row 2', self.s)
        expect(not left[2].strip(), 'row 3 is not blank', self.s)
        for i in range(3):
            expect(left[3 + i].startswith(f'{i})'), f'no Option {i} on row {4 + i}', self.s)
        expect(all(not r.strip() for r in left[6:]), 'the rows under the Options are not blank', self.s)
        expect(not rows[9][80:].strip(), 'the effects line is not blank', self.s)
        expect(all(not r[102:].strip() for r in rows), 'something right of the panel', self.s)
        expect(self.s.cursor() == (6, len(left[5].rstrip()) + 1), 'the cursor is not after the last Option', self.s)
        self.event = left[:7]
        return left

    def check_outcome(self, choice):
        """The Event as before, the outcome from row 8, the effects line; returns the deltas."""
        rows = self.s.rows()
        left = [r[:80] for r in rows]
        expect(left[:7] == self.event, 'the Event area changed with the choice', self.s)
        expect(left[7].strip() and left[7][0] != ' ', 'no outcome on row 8', self.s)
        last = max(i for i, r in enumerate(left) if r.strip())
        expect(all(left[i].strip() for i in range(7, last + 1)), 'the outcome has a gap', self.s)
        self.check_panel(rows)  # the old values until the turn closes
        effects = rows[9][80:]
        pairs = EFFECT_RE.findall(effects)
        expect(pairs and ''.join(f'{n} {d} ' for n, d in pairs) == effects.rstrip() + ' ',
               f'the effects line is {effects.rstrip()!r}', self.s)
        expect(self.s.cursor() == (choice + 4, 1), f'the cursor is not at the start of Option {choice}', self.s)
        return [(NAMES.index(n), int(d)) for n, d in pairs]

    def check_ending(self):
        lines = self.ending + [f'You survived {self.days} Day' + ('' if self.days == 1 else 's'), '',
                               'Press ENTER to restart or Q to quit']
        rows = self.s.rows()
        expect([r.rstrip() for r in rows[:len(lines)]] == lines and all(not r.strip() for r in rows[len(lines):]),
               f'not the ending {lines[0]!r} after {self.days} days', self.s)
        expect(self.s.cursor() == (len(lines) + 1, 1), 'the cursor is not under the ending', self.s)

    def check_blank(self):
        expect(all(not r.strip() for r in self.s.rows()), 'the screen is not clear', self.s)

    def settle(self):
        self.s.wait_settled()
        expect(SIZE_NOTICE not in self.s.text(), 'the size notice appeared', self.s)

    # --- steps: each does what a player does, then checks the screen it leads to

    def shown_event(self):
        self.phase = 'choose'
        left = self.check_event()
        if len(self.first_prompts) < 3:
            self.first_prompts.append(left[1].rstrip())

    def passed_intro(self):
        self.shown_event()

    def chosen(self, choice):
        self.pending = self.check_outcome(choice)
        self.phase = 'outcome'

    def closed_turn(self):
        """After the ENTER that closes a turn: the next Event, an ending, or nothing more."""
        for index, delta in self.pending:
            self.values[index] = clamp_add(self.values[index], delta)
        for test, lines in ENDINGS:
            if test(self.values):
                self.ending = lines
                self.phase = 'ending'
                self.check_ending()
                return
        self.days += 1
        rows = self.s.rows()
        if not rows[1][:80].strip():  # every Event played: the panel stays, nothing more
            self.check_panel(rows)
            self.phase = 'exhausted'
            return
        self.shown_event()

    def next_ends(self):
        """Would the ENTER closing this turn lead to an ending?"""
        values = list(self.values)
        for index, delta in self.pending:
            values[index] = clamp_add(values[index], delta)
        return any(test(values) for test, _ in ENDINGS)

    # --- plain playing

    def press(self, code):
        self.s.tap(code)
        self.settle()

    def enter_intro(self):
        self.press('Enter')
        self.passed_intro()

    def choose(self, choice):
        self.press(f'Digit{choice}')
        self.chosen(choice)

    def close_turn(self):
        self.press('Enter')
        self.closed_turn()

    def play_to_end(self, rng):
        """Random answers until an ending (or every Event played)."""
        while self.phase in ('choose', 'outcome'):
            if self.phase == 'choose':
                self.choose(rng.randrange(3))
            else:
                self.close_turn()

    def restart(self):
        """ENTER on the end screen: the intro of a new run with the same play order."""
        prompts = self.first_prompts
        self.press('Enter')
        self.check_intro()
        self.values, self.days, self.phase, self.first_prompts = list(START), 0, 'intro', []
        self.enter_intro()
        expect(self.first_prompts[0] == prompts[0], 'a restart did not play the same first Event', self.s)


# --- the scenarios, each on a page of its own or on the page the one before left

def scenario_keyboard(site, rng, report):
    with BrowserSession(site) as s:
        first_seeded_by = time.time()  # the first game took its seed (the clock's second) by now
        play = Play(s)
        s.wait_settled()
        report('intro on its exact rows and columns', play.check_intro)
        report('no touch keys without a touch screen', lambda: expect(s.touch_key_centre('1') is None,
                                                                      'the touch keys are shown', s))

        def relative_only():
            urls = s.driver.execute_script("return performance.getEntriesByType('resource').map((e) => e.name);")
            base = s.url.split('?')[0]
            expect(urls and all(u.startswith(base) for u in urls), f'loaded from elsewhere: {urls}', s)
        report('everything comes from the site, under its sub-path', relative_only)

        def q_and_keypad_at_intro():
            for code in ('KeyQ', 'Numpad5', 'Digit1'):
                play.press(code)
            play.check_intro()
        report('Q, keypad and digits do nothing at the intro', q_and_keypad_at_intro)

        def enter_held_from_intro():
            s.key_down('Enter')
            play.settle()
            play.passed_intro()
            play.choose(0)
            s.key_down('Enter', repeat=True)  # auto-repeat is not a new press
            play.settle()
            play.check_outcome(0)
            s.key_up('Enter')
            play.settle()
            play.check_outcome(0)
            play.close_turn()
        report('ENTER held from the intro does not close the first turn', enter_held_from_intro)

        def until_playing():
            while play.phase != 'choose':
                if play.phase == 'outcome':
                    play.close_turn()
                else:  # an ending, or every Event played: a new run
                    play.restart()

        def digit_held_through_enter_screen():
            until_playing()
            s.key_down('Digit1')
            play.settle()
            play.chosen(1)
            while play.next_ends():
                s.key_up('Digit1')
                play.close_turn()
                until_playing()
                s.key_down('Digit1')
                play.settle()
                play.chosen(1)
            for index, delta in play.pending:
                play.values[index] = clamp_add(play.values[index], delta)
            play.days += 1
            play.press('Enter')
            rows = s.rows()
            expect(rows[1][:80].strip(), 'no next Event after ENTER', s)
            play.event = [r[:80] for r in rows[:7]]
            play.chosen(1)  # the outcome of Option 1, with no other key
            s.key_up('Digit1')
            play.settle()
            play.check_outcome(1)
        report('a digit held through ENTER is the next Event\'s choice at once', digit_held_through_enter_screen)

        def keypad_ignored_numpad_enter_taken():
            while play.phase != 'outcome' or play.next_ends():
                if play.phase == 'choose':
                    for code in ('Numpad0', 'Numpad1', 'Numpad2', 'KeyQ'):
                        play.press(code)
                    s.tap('Digit1', modifiers=('ctrl',))  # the browser's, not the game's
                    play.settle()
                    play.check_event()
                    play.choose(2)
                elif play.phase == 'outcome':
                    play.close_turn()
                else:
                    play.restart()
            play.press('NumpadEnter')
            play.closed_turn()
            expect(play.phase == 'choose', 'NumpadEnter did not close the turn', s)
        report('keypad digits, Q and Ctrl+digit ignored; NumpadEnter taken', keypad_ignored_numpad_enter_taken)

        def typed_ahead():
            until_playing()
            play.choose(0)
            while play.next_ends():
                play.close_turn()
                until_playing()
                play.choose(0)
            for code in ('Enter', 'Digit2'):  # no wait between them
                s.tap(code)
            play.settle()
            for index, delta in play.pending:
                play.values[index] = clamp_add(play.values[index], delta)
            play.days += 1
            rows = s.rows()
            play.event = [r[:80] for r in rows[:7]]
            expect(rows[1][:80].strip(), 'no next Event', s)
            play.chosen(2)
        report('keys typed ahead are taken in order', typed_ahead)

        def focus_lost_releases():
            until_playing()
            play.choose(1)
            while play.next_ends():
                play.close_turn()
                until_playing()
                play.choose(1)
            s.key_down('Digit2')  # held through the ENTER wait: it would choose at once
            play.settle()
            before = s.page()['let_go']
            s.lose_focus()
            s.regain_focus()
            expect(s.page()['let_go'] > before, 'the page did not see the focus go', s)
            play.close_turn()
            expect(play.phase == 'choose', 'the digit held when the focus went was not released', s)
            s.key_up('Digit2')  # the release the page never saw comes late: nothing happens
            play.settle()
            play.check_event()
        report('a digit held while the page loses the focus is released', focus_lost_releases)

        def whole_run():
            until_playing()
            play.play_to_end(rng)
            expect(play.phase in ('ending', 'exhausted'), 'the run did not end', s)
        report('a whole run to an ending, every screen on its rows and columns', whole_run)

        def restart_same_order():
            play.restart()
            play.play_to_end(rng)
        report('ENTER on the end screen restarts with the same play order', restart_same_order)

        first_game_prompts = list(play.first_prompts)

        def q_quits():
            cursor = s.cursor()
            play.press('KeyQ')
            play.check_blank()
            page = s.page()
            expect(page['state'] == 'ended' and page['exit_status'] == 0 and not page['error'],
                   f'the page after Q: {page}', s)
            expect(s.cursor() == cursor, 'the cursor moved on Q', s)
            expect(s.driver.execute_script("return !document.getElementById('game-over').hidden;"),
                   'no new game offered', s)
        report('Q on the end screen clears the screen and ends the game', q_quits)

        second = Play(s)

        def new_game():
            # a new process seeds with the clock's second: a new one, so a new play order
            while int(time.time()) <= int(first_seeded_by):
                time.sleep(0.05)
            s.new_game()
            s.wait_settled()
            page = s.page()
            expect(page['games'] == 2 and page['state'] == 'running', f'no second game: {page}', s)
            second.check_intro()
            second.enter_intro()
            while len(second.first_prompts) < 3 and second.phase in ('choose', 'outcome'):
                if second.phase == 'choose':
                    second.choose(0)
                else:
                    second.close_turn()
            expect(second.first_prompts != first_game_prompts[:len(second.first_prompts)],
                   f'the new game plays the same order: {second.first_prompts}', s)
        report('New game starts a new process: a new play order', new_game)

        def q_by_layout():
            second.play_to_end(rng)
            end_screen = s.rows()
            s.tap('KeyQ', key='a')  # AZERTY: the key where Q sits on a US layout types a
            second.settle()
            expect(s.rows() == end_screen and s.page()['state'] == 'running', 'the key typing a quit', s)
            s.tap('KeyA', key='q')  # AZERTY's Q
            second.settle()
            second.check_blank()
            expect(s.page()['state'] == 'ended', 'the Q of an AZERTY layout did not quit', s)
        report('Q by the letter it types (AZERTY)', q_by_layout)

        third = Play(s)

        def enter_starts_new_game():
            s.tap('Enter')  # on its release, so the new game does not find ENTER held
            s.wait_until(lambda p: p['games'] == 3 and p['state'] == 'running', 30, 'a third game')
            s.wait_settled()
            third.check_intro()
            third.enter_intro()
            third.play_to_end(rng)
            s.tap('KeyQ', key='й')  # a Cyrillic layout: no Latin letters
            third.settle()
            third.check_blank()
            expect(s.page()['state'] == 'ended', 'Q of a Cyrillic layout did not quit', s)
        report('ENTER starts a new game; Q by its key on a Cyrillic layout', enter_starts_new_game)

        def held_enter_at_start():
            s.key_down('Enter')
            s.new_game()  # with ENTER held, the intro is passed at once, as at any program start
            s.wait_settled()
            fourth = Play(s)
            fourth.passed_intro()
            s.key_up('Enter')
            fourth.settle()
            fourth.check_event()
        report('ENTER held when a game starts passes its intro at once', held_enter_at_start)
        log = [e for e in s.console() if e.get('level') == 'SEVERE']
        report('nothing went wrong in the browser\'s console',
               lambda: expect(not log, f'console errors: {log}', s))


def scenario_touch(site, rng, report):
    with BrowserSession(site, touch=True) as s:
        play = Play(s)
        s.wait_settled()

        def shown():
            for label in ('0', '1', '2', 'ENTER', 'Q'):
                expect(s.touch_key_centre(label) is not None, f'no touch key {label}', s)
        report('touch keys shown on a touch screen', shown)

        def held_with_fingers():
            s.pointer_down('ENTER')
            play.settle()
            play.passed_intro()
            s.pointer_down('1')  # a second finger, ENTER still held
            play.settle()
            play.chosen(1)
            s.pointer_up('1')
            play.settle()
            play.check_outcome(1)  # ENTER held since the intro does not close the turn
            s.pointer_up('ENTER')
            play.settle()
            play.check_outcome(1)
            s.pointer_down('ENTER')
            s.pointer_up('ENTER')
            play.settle()
            play.closed_turn()
        report('touch keys: held ENTER and a second finger keep the latch rules', held_with_fingers)

        def until_playing():
            while play.phase != 'choose':
                if play.phase == 'outcome':
                    s.pointer_down('ENTER')
                    s.pointer_up('ENTER')
                    play.settle()
                    play.closed_turn()
                else:
                    play.restart()

        def held_digit_and_cancel():
            until_playing()
            s.pointer_down('2')
            play.settle()
            play.chosen(2)
            if not play.next_ends():
                s.pointer_down('ENTER')  # the digit still held: the next Event takes it at once
                s.pointer_up('ENTER')
                play.settle()
                for index, delta in play.pending:
                    play.values[index] = clamp_add(play.values[index], delta)
                play.days += 1
                rows = s.rows()
                play.event = [r[:80] for r in rows[:7]]
                play.chosen(2)
            s.pointer_cancel()  # the browser takes the touches: every key up
            play.settle()
            if play.next_ends():
                return
            s.pointer_down('ENTER')
            s.pointer_up('ENTER')
            play.settle()
            play.closed_turn()
            expect(play.phase == 'choose', 'a cancelled touch still holds its key', s)
        report('a touch key held through ENTER; a cancelled touch lets go', held_digit_and_cancel)

        def quit_by_touch():
            until_playing()
            while play.phase in ('choose', 'outcome'):
                if play.phase == 'choose':
                    choice = rng.randrange(3)
                    label = str(choice)
                    s.pointer_down(label)
                    play.settle()
                    play.chosen(choice)
                    s.pointer_up(label)
                    play.settle()
                else:
                    s.pointer_down('ENTER')
                    s.pointer_up('ENTER')
                    play.settle()
                    play.closed_turn()
            s.pointer_down('Q')
            s.pointer_up('Q')
            play.settle()
            play.check_blank()
            expect(s.page()['state'] == 'ended', 'Q by touch did not quit', s)
        report('a run played to its end by touch, Q by touch', quit_by_touch)

    with BrowserSession(site, query='?touch') as s:
        play = Play(s)
        s.wait_settled()

        def by_mouse():
            s.pointer_down('ENTER', by='mouse')
            play.settle()
            play.passed_intro()
            s.pointer_up('ENTER', by='mouse')
            s.pointer_down('0', by='mouse')
            play.settle()
            play.chosen(0)
            s.pointer_up('0', by='mouse')
            play.settle()
            play.check_outcome(0)
        report('touch keys by mouse (?touch)', by_mouse)


def scenario_phone(site, rng, report):
    with BrowserSession(site, touch=True) as s:
        def fits(width, height, portrait):
            s.cdp('Emulation.setDeviceMetricsOverride', width=width, height=height, deviceScaleFactor=3,
                  mobile=True)
            s.open()
            s.wait_settled()
            box = s.driver.execute_script('''
                const r = document.querySelector('#screen .xterm').getBoundingClientRect();
                const k = document.getElementById('touch-keys').getBoundingClientRect();
                const hint = document.getElementById('turn-hint');
                return {left: r.left, right: r.right, bottom: r.bottom, keysTop: k.top, keysBottom: k.bottom,
                        width: innerWidth, height: innerHeight, hint: hint.offsetParent !== null};''')
            expect(box['left'] >= 0 and box['right'] <= box['width'] + 0.5, f'the terminal does not fit: {box}', s)
            expect(box['keysTop'] >= box['bottom'] - 0.5 and box['keysBottom'] <= box['height'] + 0.5,
                   f'the touch keys are not under the terminal on screen: {box}', s)
            expect(box['hint'] == portrait, f'the landscape hint shown: {box["hint"]}', s)
            Play(s).check_intro()
            expect(SIZE_NOTICE not in s.text(), 'the size notice appeared', s)
        report('a phone in portrait: the layout fits its width, landscape suggested',
               lambda: fits(390, 844, True))
        report('a phone in landscape: the layout and the keys fit', lambda: fits(844, 390, False))


def scenario_errors(site, rng, report):
    def error_reaches_page(blocked, words):
        with BrowserSession(site, blocked=[blocked]) as s:
            page = s.wait_until(lambda p: p['state'] == 'error', 30, 'the error')
            shown = s.driver.execute_script("const e = document.getElementById('error'); "
                                            "return e.hidden ? '' : e.textContent;")
            expect(words in page['error'] and words in shown, f'the page shows {shown!r}; {page}', s)
            expect(s.driver.execute_script("return !document.getElementById('game-over').hidden;"),
                   'no new game offered after the error', s)
    report('an error the game reports reaches the page (no terminal script)',
           lambda: error_reaches_page('*xterm.js', 'bootcamp: this page cannot show a terminal'))
    report('a game that cannot load says so on the page',
           lambda: error_reaches_page('*bootcamp.wasm', 'the game could not be loaded'))


def main():
    site = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..', 'build-web', 'site')
    missing = browser_session.missing_tools()
    if missing:
        print(f'SKIP: {missing}')
        return 77
    if not os.path.isfile(os.path.join(site, 'index.html')):
        print(f'SKIP: no built site in {site} (cmake --preset web && cmake --build --preset web)')
        return 77
    seed = int(os.environ.get('BOOTCAMP_SMOKE_SEED', time.time_ns() % 100000))
    rng = random.Random(seed)
    print(f'answers drawn with seed {seed}')
    passed, failed = [], []

    def report(name, check):
        started = time.monotonic()
        try:
            check()
        except Exception:  # every failure is told, and the scenarios go on
            failed.append(name)
            print(f'FAIL {name}\n' + traceback.format_exc())
        else:
            passed.append(name)
            print(f'ok   {name} ({time.monotonic() - started:.1f} s)')

    for scenario in (scenario_keyboard, scenario_touch, scenario_phone, scenario_errors):
        try:
            scenario(site, rng, report)
        except Exception:
            failed.append(scenario.__name__)
            print(f'FAIL {scenario.__name__}\n' + traceback.format_exc())
    print(f'{len(passed)} passed, {len(failed)} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
