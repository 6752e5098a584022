"""End-to-end tests of the built game in a pty: kitty protocol, key timing, exit paths, fallback."""
# Usage: /usr/bin/python3 tests/e2e/pty_protocol_test.py PATH_TO_BOOTCAMP [unittest options]
# The Event order is random per process, so every check reads what the screen shows.
import os
import re
import signal
import statistics
import subprocess
import sys
import termios
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    import pyte  # noqa: F401  (the rig's screen)
except ImportError:
    print(f'SKIP: {sys.executable} cannot import pyte (apt-get install python3-pyte, run with /usr/bin/python3)')
    sys.exit(77)
from pty_rig import (CTRL, KEY_ENTER, KEY_Q, KEYPAD_1, NUM_LOCK, RELEASE,  # noqa: E402
                     GameTerminal, digit, kitty_key, kitty_tap)

GAME = None  # the binary under test, from the command line

NAMES = ('Health', 'Sanity', 'Reputation', 'Punchability')
STARTING = {'Health': 100, 'Sanity': 50, 'Reputation': 50, 'Punchability': 30}
INTRO = ('You have made the mistake of joining the Marines',
         'This is your attempt to get through bootcamp',
         '',
         'Press ENTER to continue')
END_PROMPT = 'Press ENTER to restart or Q to quit'
CLEAR = b'\x1b[2J'
POP = b'\x1b[<u'
KEYPAD_NUMERIC = b'\x1b>'
QUERIES = b'\x1b=\x1b[?1035$p\x1b[?u\x1b[c'   # keypad mode, NumLock mode, flags, device
# The cursor to column 1 under the 15 rows of the layout (the tty adds a CR to the LF).
BELOW_LAYOUT = b'\x1b[15;1H\r\r\n'
KEYPAD_ENTER = 57414
PANEL_COL = 80          # the conditions panel's first column (0-based)
EFFECTS_ROW = 9         # the effects line, at PANEL_COL
OUTCOME_ROW = 7
QUIET = 0.3             # how long "nothing happens" is watched for
TURN_LIMIT = 25         # more turns than a run has Events: a run that never ends fails


# ---- reading the game's screen ------------------------------------------------------------

def left(t, row):
    """The Event area of a row: the columns left of the panel."""
    return t.text_at(row, 0, PANEL_COL).rstrip()


def at_intro(t):
    return tuple(t.line(r) for r in range(4)) == INTRO and all(not t.line(r) for r in range(4, 12))


def options(t):
    found = []
    for row in range(3, 3 + 10):
        text = left(t, row)
        if not re.match(r'\d\)', text):
            break
        found.append(text)
    return found


def prompt(t):
    return left(t, 1)


def effects_text(t):
    return t.text_at(EFFECTS_ROW, PANEL_COL)


def awaiting_choice(t):
    """An Event drawn and no Option chosen yet."""
    opts = options(t)
    return (bool(prompt(t)) and len(opts) >= 3 and
            [o[:2] for o in opts] == [f'{i})' for i in range(len(opts))] and
            not left(t, OUTCOME_ROW) and not effects_text(t) and panel(t) is not None)


def outcome_shown(t):
    """An Option chosen: outcome and effects on screen, the cursor at that Option's line."""
    row, col = t.cursor()
    return (bool(left(t, OUTCOME_ROW)) and bool(effects_text(t)) and col == 0 and
            3 <= row < 3 + len(options(t)))


def chosen_option(t):
    return t.cursor()[0] - 3


def at_ending(t):
    return t.find_text(END_PROMPT) is not None


def panel(t):
    """The conditions panel as {name: value}, or None if it is not fully drawn."""
    if t.text_at(0, 86, 10) != 'Conditions':
        return None
    values = {}
    for i, name in enumerate(NAMES):
        match = re.fullmatch(rf'{name}: (\d+)', t.text_at(1 + 2 * i, PANEL_COL))
        bar = t.text_at(2 + 2 * i, PANEL_COL)
        if not match or not re.fullmatch(r'\[=*\s*\]', bar.ljust(22)[:22]):
            return None
        values[name] = int(match.group(1))
    return values


def bar_fill(t, i):
    return t.text_at(2 + 2 * i, PANEL_COL, 22).count('=')


def parse_effects(text):
    pairs = re.findall(r'(Health|Sanity|Reputation|Punchability) ([+-]\d+)', text)
    return [(name, int(delta)) for name, delta in pairs]


def apply_effects(values, effects):
    values = dict(values)
    for name, delta in effects:
        values[name] = max(0, min(100, values[name] + delta))
    return values


def ended(values):
    return (values['Health'] == 0 or values['Sanity'] == 0 or values['Reputation'] == 0 or
            values['Punchability'] == 100)


def after_last_clear(t):
    return bytes(t.raw[t.raw.rfind(CLEAR) + len(CLEAR):])


# ---- playing ------------------------------------------------------------------------------

class GameCase(unittest.TestCase):
    """Starting the game and playing turns, with the checks every turn makes."""

    def start(self, kitty=True, cols=140, rows=40, intro=True, **kwargs):
        t = GameTerminal([GAME], cols=cols, rows=rows, kitty=kitty, **kwargs)
        self.addCleanup(t.close)
        if intro:
            self.assertTrue(t.wait_until(at_intro, 5), f'no intro; screen: {t.snapshot()[:6]}')
        return t

    def keys(self, t):
        """ENTER and digit keys as this terminal sends them: kitty taps, or plain bytes."""
        if t.kitty:
            return kitty_tap(KEY_ENTER), lambda n: kitty_tap(digit(n)), kitty_tap(KEY_Q)
        return b'\r', lambda n: str(n).encode(), b'q'

    def pass_intro(self, t):
        enter, _, _ = self.keys(t)
        t.send(enter)
        self.assertTrue(t.wait_until(awaiting_choice, 5), f'no Event after the intro: {t.snapshot()[:10]}')

    def wait_outcome(self, t, option, what=''):
        self.assertTrue(t.wait_until(outcome_shown, 5), f'no outcome {what}: {t.snapshot()[:12]}')
        self.assertEqual(chosen_option(t), option, f'wrong Option chosen {what}')

    def choose(self, t, option):
        """Taps a digit; checks the outcome is shown and the panel not yet updated."""
        _, digit_key, _ = self.keys(t)
        before = panel(t)
        t.send(digit_key(option))
        self.wait_outcome(t, option)
        self.assertEqual(panel(t), before, 'the panel changed before ENTER closed the turn')
        effects = parse_effects(effects_text(t))
        self.assertTrue(effects, f'effects line unreadable: {effects_text(t)!r}')
        return effects

    def close_turn(self, t):
        """Taps ENTER after an outcome; waits for the next Event or the ending."""
        enter, _, _ = self.keys(t)
        t.send(enter)
        self.assertTrue(t.wait_until(lambda s: awaiting_choice(s) or at_ending(s), 5),
                        f'ENTER did not close the turn: {t.snapshot()[:12]}')

    def play_to_ending(self, t, option=2):
        """Plays `option` every turn from a drawn Event to the ending screen. Returns the
        prompts seen, the conditions at the end and the days the ending says."""
        values = panel(t)
        self.assertEqual(values, STARTING)
        prompts = []
        for _ in range(TURN_LIMIT):
            prompts.append(prompt(t))
            effects = self.choose(t, option)
            values = apply_effects(values, effects)
            self.close_turn(t)
            if at_ending(t):
                break
            self.assertFalse(ended(values), f'no ending although a condition hit its bound: {values}')
            self.assertEqual(panel(t), values, 'the panel does not show the new values')
            for i, name in enumerate(NAMES):
                self.assertEqual(bar_fill(t, i), values[name] // 5, f'{name} bar')
            self.assertNotIn(prompt(t), prompts, 'an Event came twice in one run')
        else:
            self.fail(f'no ending after {TURN_LIMIT} turns of Option {option}')
        self.assertTrue(ended(values), f'an ending although no condition is at its bound: {values}')
        return prompts, values, self.check_ending_screen(t, values, len(prompts))

    def check_ending_screen(self, t, values, turns):
        lines = [t.line(r) for r in range(t.rows)]
        survived = [i for i, line in enumerate(lines) if line.startswith('You survived')]
        self.assertEqual(len(survived), 1, f'ending screen: {lines[:10]}')
        row = survived[0]
        match = re.fullmatch(r'You survived (\d+) (Days?)', lines[row])
        self.assertTrue(match, lines[row])
        days = int(match.group(1))
        self.assertEqual(match.group(2), 'Day' if days == 1 else 'Days', lines[row])
        self.assertIn(days, (turns - 1, turns), 'days survived against turns played')
        self.assertEqual(lines[row + 1], '')
        self.assertEqual(lines[row + 2], END_PROMPT)
        self.assertTrue(row >= 1 and lines[0], 'no ending text above the days')
        if values['Health'] == 0:
            self.assertTrue(lines[0].startswith('You collapse from exhaustion'), lines[0])
        return days

    def quit_at_ending(self, t):
        _, _, q = self.keys(t)
        t.send(q)
        code = t.wait_exit(5)
        self.assertEqual(code, 0, 'Q on the ending screen')
        self.assertTrue(t.is_blank(), f'screen left after Q: {t.snapshot()[:5]}')

    def assert_given_back(self, t, pushed, below=True):
        """The terminal as it was before the game: modes, kitty flags, keypad mode. Cut short
        (below=True), the game leaves the cursor at column 1 under its layout, where the
        shell's prompt then lands; after Q it stays where the cleared screen left it."""
        self.assertEqual(t.termios_now(), t.termios_before, 'terminal modes not restored')
        self.assertEqual(t.flags, [0], 'kitty flag stack not back to where it was')
        tail = (BELOW_LAYOUT if below else b'') + (POP if pushed else b'') + KEYPAD_NUMERIC
        self.assertTrue(bytes(t.raw).endswith(tail), f'last bytes written: {bytes(t.raw[-40:])!r}')
        if below:
            self.assertEqual(t.cursor(), (15, 0), 'the cursor is not under the layout')
        else:
            self.assertNotIn(BELOW_LAYOUT, t.raw)
        if not pushed:
            self.assertNotIn(POP, t.raw)

    def assert_nothing_happens(self, t, what):
        before_raw, before_screen = len(t.raw), t.snapshot()
        t.settle(QUIET)
        self.assertEqual(bytes(t.raw[before_raw:]), b'', f'the game reacted to {what}')
        self.assertEqual(t.snapshot(), before_screen, f'the screen changed after {what}')


# ---- 1. protocol detection, push and pop --------------------------------------------------

class ProtocolTests(GameCase):

    def test_kitty_terminal_gets_flags_pushed_and_popped(self):
        t = self.start(kitty=True)
        first_clear = t.raw.find(CLEAR)
        self.assertEqual(bytes(t.raw[:first_clear]), QUERIES + b'\x1b[>15u')
        self.assertEqual(t.flags, [0, 15])
        self.pass_intro(t)
        self.assertEqual(t.flags, [0, 15])
        self.play_to_ending(t)
        self.assertEqual(t.flags, [0, 15])
        self.quit_at_ending(t)
        self.assertEqual(t.flags, [0])
        self.assertEqual(after_last_clear(t), POP + KEYPAD_NUMERIC)
        self.assertEqual(t.raw.count(b'\x1b[>'), 1, 'pushed more than once')

    def test_terminal_without_protocol_gets_nothing_pushed(self):
        t = self.start(kitty=False)
        first_clear = t.raw.find(CLEAR)
        self.assertEqual(bytes(t.raw[:first_clear]), QUERIES)
        self.pass_intro(t)
        self.assertEqual(t.flags, [0])
        self.play_to_ending(t)
        self.quit_at_ending(t)
        self.assertEqual(after_last_clear(t), KEYPAD_NUMERIC)
        self.assertNotIn(b'\x1b[>', t.raw)
        self.assertNotIn(POP, t.raw)


class LateReplyTests(GameCase):
    """Over a slow link the terminal's replies come after the game's half-second wait."""

    def test_a_late_flags_reply_switches_to_key_events(self):
        t = self.start(reply_delay=0.8, intro=False)
        self.assertTrue(t.wait_until(at_intro, 5))
        self.assertEqual(t.flags, [0], 'pushed before any reply came')
        self.assertTrue(t.wait_until(lambda s: s.flags == [0, 15], 3), 'the late reply was not taken')
        # from now on keys come as events: a held digit and a held ENTER follow the latch rules
        self.pass_intro(t)
        t.press(digit(2))
        self.wait_outcome(t, 2)
        first = prompt(t)
        t.press(KEY_ENTER)
        self.assertTrue(t.wait_until(lambda s: (prompt(s) != first and outcome_shown(s)) or at_ending(s), 5),
                        f'ENTER did not close the turn: {t.snapshot()[:12]}')
        if not at_ending(t):
            # the digit still held chose in the next Event; the ENTER still held does not close it
            self.assertEqual(chosen_option(t), 2)
            self.assert_nothing_happens(t, 'ENTER held from the turn before')
        t.release(KEY_ENTER)
        t.release(digit(2))
        t.send(kitty_key(ord('c'), CTRL))
        self.assertEqual(t.wait_exit(5), 130)
        self.assert_given_back(t, pushed=True)
        self.assertEqual(t.raw.count(b'\x1b[>'), 1, 'pushed more than once')

    def test_keys_before_a_late_reply_still_count(self):
        t = self.start(reply_delay=0.8, intro=False)
        self.assertTrue(t.wait_until(at_intro, 5))
        t.send(b'\r')                         # a legacy Enter, before the terminal has answered
        self.assertTrue(t.wait_until(awaiting_choice, 5))
        self.assertTrue(t.wait_until(lambda s: s.flags == [0, 15], 3))
        self.choose(t, 0)


class NumLockModeTests(GameCase):
    """xterm sends keypad digits as main-row digits while its NumLock mode (1035) is set."""

    def test_the_mode_is_reset_while_playing_and_set_back_on_every_way_out(self):
        for way in ('q', 'ctrl-c', 'sigterm'):
            with self.subTest(way=way):
                t = self.start(kitty=False, modes={1035: True})
                self.assertFalse(t.modes[1035], 'NumLock mode still set while playing')
                self.pass_intro(t)
                if way == 'q':
                    self.play_to_ending(t)
                    self.quit_at_ending(t)
                elif way == 'ctrl-c':
                    t.send(b'\x03')
                    t.wait_exit(5)
                else:
                    t.signal(signal.SIGTERM)
                    t.wait_exit(5)
                self.assertTrue(t.modes[1035], 'NumLock mode not set back')

    def test_set_back_while_stopped_and_reset_again_after(self):
        t = self.start(kitty=False, modes={1035: True}, job_control=True)
        self.pass_intro(t)
        t.signal(signal.SIGTSTP)
        self.assertTrue(t.wait_stopped(True, 5))
        t.pump(0.2)
        self.assertTrue(t.modes[1035])
        t.signal(signal.SIGCONT)
        self.assertTrue(t.wait_stopped(False, 5))
        self.assertTrue(t.wait_until(lambda s: not s.modes[1035], 5))
        t.signal(signal.SIGTERM)
        t.wait_exit(5)

    def test_a_mode_already_reset_is_left_alone(self):
        t = self.start(kitty=False, modes={1035: False})
        self.pass_intro(t)
        t.signal(signal.SIGTERM)
        t.wait_exit(5)
        self.assertNotIn(b'\x1b[?1035h', t.raw)
        self.assertNotIn(b'\x1b[?1035l', t.raw)


# ---- 2. a whole run, restart, quit --------------------------------------------------------

class PlaythroughTests(GameCase):

    def test_run_restart_and_quit(self):
        t = self.start(kitty=True)
        self.pass_intro(t)
        self.assertEqual(t.text_at(0, 86, 10), 'Conditions')
        first_prompts, first_values, first_days = self.play_to_ending(t)

        # ENTER held down on the ending screen restarts once; the intro then wants a new press
        t.press(KEY_ENTER)
        self.assertTrue(t.wait_until(at_intro, 5), f'ENTER did not restart: {t.snapshot()[:6]}')
        self.assert_nothing_happens(t, 'ENTER still held at the intro')
        t.release(KEY_ENTER)
        self.assert_nothing_happens(t, 'ENTER released at the intro')
        self.pass_intro(t)
        self.assertEqual(panel(t), STARTING, 'restart did not reset the conditions')
        self.assertEqual(prompt(t), first_prompts[0], 'restart changed the Event order')

        prompts, values, days = self.play_to_ending(t)
        self.assertEqual(prompts, first_prompts, 'the same choices gave other Events')
        self.assertEqual((values, days), (first_values, first_days))
        self.quit_at_ending(t)
        self.assert_given_back(t, pushed=True, below=False)
        self.assertEqual(after_last_clear(t), POP + KEYPAD_NUMERIC)


# ---- 3. held keys, keypad, repeats --------------------------------------------------------

class HeldKeyTests(GameCase):

    def test_enter_held_from_the_intro_does_not_close_the_first_turn(self):
        t = self.start()
        t.press(KEY_ENTER)
        self.assertTrue(t.wait_until(awaiting_choice, 5), 'a held ENTER did not pass the intro')
        t.tap(digit(1))
        self.wait_outcome(t, 1)
        self.assert_nothing_happens(t, 'ENTER held since the intro')
        t.release(KEY_ENTER)
        self.assert_nothing_happens(t, 'the release of ENTER')
        first = prompt(t)
        t.press(KEY_ENTER)
        self.assertTrue(t.wait_until(awaiting_choice, 5), 'a new ENTER press did not close the turn')
        self.assertNotEqual(prompt(t), first)
        t.release(KEY_ENTER)

    def test_digit_held_through_enter_chooses_in_the_next_event(self):
        t = self.start()
        self.pass_intro(t)
        first = prompt(t)
        t.press(digit(1))
        self.wait_outcome(t, 1, 'for the held 1')
        t.tap(KEY_ENTER)
        self.assertTrue(t.wait_until(lambda s: outcome_shown(s) and prompt(s) != first, 5),
                        f'the held 1 was not taken in the next Event: {t.snapshot()[:12]}')
        self.assertEqual(chosen_option(t), 1)
        t.release(digit(1))
        self.assert_nothing_happens(t, 'the release of the held 1')

    def test_zero_and_two_down_together_choose_zero(self):
        t = self.start()
        self.pass_intro(t)
        t.send(kitty_key(digit(2)) + kitty_key(digit(0)))
        self.wait_outcome(t, 0, 'for 2 and 0 down together')
        t.send(kitty_key(digit(2), event=RELEASE) + kitty_key(digit(0), event=RELEASE))
        self.assert_nothing_happens(t, 'the releases of 2 and 0')

    def test_keypad_digit_chooses_nothing(self):
        t = self.start()
        self.pass_intro(t)
        t.press(KEYPAD_1, NUM_LOCK)
        self.assert_nothing_happens(t, 'keypad 1 down')
        t.repeat(KEYPAD_1, NUM_LOCK)
        t.release(KEYPAD_1, NUM_LOCK)
        self.assert_nothing_happens(t, 'keypad 1 repeated and released')
        self.assertTrue(awaiting_choice(t))
        # Num Lock rides along on the main-row keys too and must not hide them
        t.tap(digit(1), NUM_LOCK)
        self.wait_outcome(t, 1, 'for main-row 1 with Num Lock on')

    def test_keypad_enter_goes_on_like_enter(self):
        for kitty in (True, False):
            with self.subTest(kitty=kitty):
                t = self.start(kitty=kitty)
                # kitty reports the keypad's Enter as its own key; others send ESC O M in the
                # keypad's application mode
                kp_enter = kitty_tap(KEYPAD_ENTER, NUM_LOCK) if kitty else b'\x1bOM'
                t.send(kp_enter)
                self.assertTrue(t.wait_until(awaiting_choice, 5), f'keypad Enter at the intro: {t.snapshot()[:6]}')
                self.choose(t, 0)
                t.send(kp_enter)
                self.assertTrue(t.wait_until(lambda s: awaiting_choice(s) or at_ending(s), 5),
                                f'keypad Enter did not close the turn: {t.snapshot()[:12]}')

    def test_keypad_enter_held_is_one_press(self):
        t = self.start()
        t.press(KEYPAD_ENTER)
        self.assertTrue(t.wait_until(awaiting_choice, 5))
        self.choose(t, 1)
        self.assert_nothing_happens(t, 'keypad Enter still held from the intro')
        t.release(KEYPAD_ENTER)
        t.tap(KEY_ENTER)
        self.assertTrue(t.wait_until(lambda s: awaiting_choice(s) or at_ending(s), 5))

    def test_repeats_keep_a_key_down_without_new_presses(self):
        t = self.start()
        t.press(KEY_ENTER)
        self.assertTrue(t.wait_until(awaiting_choice, 5))
        for _ in range(3):
            t.repeat(KEY_ENTER)
            t.settle(0.05)
        self.assertTrue(awaiting_choice(t), 'ENTER repeats chose something')
        t.tap(digit(1))
        self.wait_outcome(t, 1)
        for _ in range(4):
            t.repeat(KEY_ENTER)
            t.settle(0.05)
        self.assert_nothing_happens(t, 'ENTER repeats after the choice')
        self.assertTrue(outcome_shown(t), 'ENTER repeats closed the turn')
        t.release(KEY_ENTER)
        t.tap(KEY_ENTER)
        self.assertTrue(t.wait_until(awaiting_choice, 5))

        # a digit kept down by repeats is still down in the next Event
        first = prompt(t)
        t.press(digit(1))
        self.wait_outcome(t, 1)
        for _ in range(3):
            t.repeat(digit(1))
            t.settle(0.05)
        self.assertTrue(outcome_shown(t))
        t.tap(KEY_ENTER)
        self.assertTrue(t.wait_until(lambda s: outcome_shown(s) and prompt(s) != first, 5),
                        f'a repeated 1 was not down in the next Event: {t.snapshot()[:12]}')
        self.assertEqual(chosen_option(t), 1)
        t.release(digit(1))


# ---- 4. keys in one read, and the lapse of untaken changes ---------------------------------

class KeyTimingTests(GameCase):

    def test_digit_and_enter_tapped_in_one_write_are_both_taken(self):
        t = self.start()
        self.pass_intro(t)
        first, before = prompt(t), panel(t)
        mark = len(t.raw)
        t.send(kitty_tap(digit(1)) + kitty_tap(KEY_ENTER))
        self.assertTrue(t.wait_until(lambda s: (awaiting_choice(s) or at_ending(s)) and prompt(s) != first, 5),
                        f'not both keys were taken: {t.snapshot()[:12]}')
        # the outcome went by on the way: its effects line was written, then the new panel
        written = bytes(t.raw[mark:])
        match = re.search(rb'\x1b\[10;81H([^\x1b]+)', written)
        self.assertTrue(match, f'no effects line written: {written[:200]!r}')
        effects = parse_effects(match.group(1).decode())
        self.assertTrue(effects)
        if awaiting_choice(t):
            self.assertEqual(panel(t), apply_effects(before, effects))

    def test_stale_enter_tap_does_not_close_the_next_enter_wait(self):
        t = self.start()
        self.pass_intro(t)
        t.tap(KEY_ENTER)                      # while the game waits for a digit
        self.assert_nothing_happens(t, 'ENTER while a digit is awaited')
        t.tap(digit(1))
        self.wait_outcome(t, 1)
        self.assert_nothing_happens(t, 'the stale ENTER')
        self.assertTrue(outcome_shown(t), 'the stale ENTER closed the turn')
        self.close_turn(t)

    def test_stale_digit_tap_does_not_choose_in_the_next_event(self):
        t = self.start()
        self.pass_intro(t)
        self.choose(t, 0)
        t.tap(digit(1))                       # while the game waits for ENTER
        self.assert_nothing_happens(t, 'a digit while ENTER is awaited')
        self.close_turn(t)
        self.assertTrue(awaiting_choice(t))
        self.assert_nothing_happens(t, 'the stale digit')

    def test_enter_and_digit_tapped_in_one_write_close_and_choose(self):
        t = self.start()
        self.pass_intro(t)
        first = prompt(t)
        self.choose(t, 0)
        t.send(kitty_tap(KEY_ENTER) + kitty_tap(digit(2)))
        self.assertTrue(t.wait_until(lambda s: (outcome_shown(s) or at_ending(s)) and prompt(s) != first, 5),
                        f'not both keys were taken: {t.snapshot()[:12]}')
        if outcome_shown(t):
            self.assertEqual(chosen_option(t), 2)

# ---- 5. every way out gives the terminal back ---------------------------------------------

class ExitPathTests(GameCase):

    def start_playing(self, kitty=True, **kwargs):
        t = self.start(kitty=kitty, **kwargs)
        self.pass_intro(t)
        self.assertEqual(t.flags, [0, 15] if kitty else [0])
        return t

    def test_q_on_the_ending_screen(self):
        t = self.start_playing()
        self.play_to_ending(t)
        self.quit_at_ending(t)
        self.assert_given_back(t, pushed=True, below=False)

    def test_ctrl_c_reported_as_a_key(self):
        t = self.start_playing()
        t.send(kitty_key(ord('c'), CTRL))
        self.assertEqual(t.wait_exit(5), 130, 'exit status after Ctrl+C')
        self.assert_given_back(t, pushed=True)

    def test_ctrl_c_at_the_intro(self):
        t = self.start()
        t.send(kitty_key(ord('c'), CTRL) + kitty_key(ord('c'), CTRL, RELEASE))
        self.assertEqual(t.wait_exit(5), 130)
        self.assert_given_back(t, pushed=True)

    def test_ending_signals(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
            with self.subTest(signal=sig.name):
                t = self.start_playing()
                t.signal(sig)
                t.wait_exit(5)
                self.assertEqual(t.killed_by, sig, f'status {t.exit_code}')
                self.assert_given_back(t, pushed=True)

    def test_signal_while_an_outcome_is_shown(self):
        t = self.start_playing()
        self.choose(t, 0)
        t.signal(signal.SIGTERM)
        t.wait_exit(5)
        self.assertEqual(t.killed_by, signal.SIGTERM)
        self.assert_given_back(t, pushed=True)

    def test_terminal_going_away_ends_the_game(self):
        for ctty in (True, False):
            with self.subTest(controlling_terminal=ctty):
                t = self.start_playing(ctty=ctty)
                t.close_master()
                gone = time.monotonic()
                while not t.poll_exit() and time.monotonic() - gone < 2.0:
                    time.sleep(0.01)
                self.assertTrue(t.poll_exit(), 'still running 2 s after the terminal went away')
                self.assertIn(t.killed_by, (None, signal.SIGHUP),
                              f'ended by {t.killed_by} (status {t.exit_code})')
                if not ctty:
                    self.assertNotEqual(t.exit_code, 0)

    def test_keys_typed_ahead_never_reach_the_shell(self):
        # stopped, the game cannot read what is typed; ended before it runs again, the bytes
        # must be dropped with the modes, not left for the shell
        t = self.start_playing(spare_slave=True)
        t.signal(signal.SIGSTOP)
        t.settle(0.1)
        t.send(b'ls\n')
        t.settle(0.1)
        self.assertEqual(t.unread_input(), 3, 'typed bytes not waiting in the tty')
        t.signal(signal.SIGTERM)
        t.signal(signal.SIGCONT)
        t.wait_exit(5)
        self.assertEqual(t.killed_by, signal.SIGTERM, f'status {t.exit_code}')
        self.assertEqual(t.unread_input(), 0, 'typed-ahead bytes left for the shell')
        self.assert_given_back(t, pushed=True)

    def test_legacy_q(self):
        t = self.start_playing(kitty=False)
        self.play_to_ending(t)
        self.quit_at_ending(t)
        self.assert_given_back(t, pushed=False, below=False)

    def test_legacy_sigint(self):
        t = self.start_playing(kitty=False)
        t.signal(signal.SIGINT)
        t.wait_exit(5)
        self.assertEqual(t.killed_by, signal.SIGINT, f'status {t.exit_code}')
        self.assert_given_back(t, pushed=False)

    def test_legacy_ctrl_c_byte(self):
        # ISIG stays on without the protocol: the tty turns the byte into SIGINT
        t = self.start_playing(kitty=False)
        t.send(b'\x03')
        t.wait_exit(5)
        self.assertIn(t.exit_code, (-signal.SIGINT, 130), f'status {t.exit_code}')
        self.assert_given_back(t, pushed=False)


# ---- suspend, continue and resize ---------------------------------------------------------

class SuspendTests(GameCase):

    def suspend_and_resume(self, t, stop):
        snap, where = t.snapshot(), t.cursor()
        stop()
        self.assertTrue(t.wait_stopped(True, 5), 'the game did not stop')
        t.pump(0.2)
        self.assertEqual(t.termios_now(), t.termios_before, 'modes not given back while stopped')
        self.assertEqual(t.flags, [0], 'kitty flags still pushed while stopped')
        self.assertTrue(bytes(t.raw).endswith(BELOW_LAYOUT + POP + KEYPAD_NUMERIC), bytes(t.raw[-30:]))
        self.assertEqual(t.cursor(), (15, 0), '"Stopped" would land inside the game\'s text')
        t.signal(signal.SIGCONT)
        self.assertTrue(t.wait_stopped(False, 5), 'the game did not continue')
        self.assertTrue(t.wait_until(lambda s: s.snapshot() == snap and s.flags == [0, 15], 5),
                        f'not redrawn after continuing: {t.snapshot()[:12]} flags {t.flags}')
        self.assertNotEqual(t.termios_now(), t.termios_before, 'game modes not taken again')
        self.assertEqual(t.cursor(), where)

    def check_one_push_after_continue(self, t):
        t.settle(QUIET)
        playing = list(t.flags)
        self.choose(t, 0)
        t.send(kitty_key(ord('c'), CTRL))
        self.assertEqual(t.wait_exit(5), 130)
        self.assertEqual((playing, t.flags), ([0, 15], [0]),
                         'kitty flag stack (while playing, after exit): pushed again without a pop')
        self.assert_given_back(t, pushed=True)

    def test_ctrl_z_suspends_and_continue_resumes(self):
        t = self.start(job_control=True)
        self.pass_intro(t)
        self.choose(t, 1)
        self.suspend_and_resume(t, lambda: t.send(kitty_key(ord('z'), CTRL)))
        self.close_turn(t)                    # the keys work again
        t.send(kitty_key(ord('c'), CTRL))
        self.assertEqual(t.wait_exit(5), 130)
        self.assert_given_back(t, pushed=True)

    def test_releases_after_ctrl_z_never_reach_the_shell(self):
        # the terminal sends the releases of Ctrl and Z before it sees the flags popped
        t = self.start(job_control=True, spare_slave=True)
        self.pass_intro(t)
        t.send(kitty_key(ord('z'), CTRL))
        time.sleep(0.01)
        t.send(kitty_key(57442, CTRL, RELEASE) + kitty_key(ord('z'), 0, RELEASE))
        self.assertTrue(t.wait_stopped(True, 5), 'the game did not stop')
        t.send(b'\n')  # canonical mode again: only a whole line shows what is waiting
        t.settle(0.1)
        self.assertEqual(t.unread_input(), 1, 'key releases left for the shell')
        t.signal(signal.SIGTERM)
        t.signal(signal.SIGCONT)
        t.wait_exit(5)

    def test_sigtstp_from_outside(self):
        t = self.start(job_control=True)
        self.pass_intro(t)
        self.suspend_and_resume(t, lambda: t.signal(signal.SIGTSTP))
        self.choose(t, 2)
        t.signal(signal.SIGTERM)
        t.wait_exit(5)
        self.assertEqual(t.killed_by, signal.SIGTERM)
        self.assert_given_back(t, pushed=True)

    def test_legacy_ctrl_z_byte_suspends(self):
        # without the protocol the tty itself turns the byte into SIGTSTP
        t = self.start(kitty=False, job_control=True)
        self.pass_intro(t)
        snap = t.snapshot()
        t.send(b'\x1a')
        self.assertTrue(t.wait_stopped(True, 5), 'the game did not stop')
        t.pump(0.2)
        self.assertEqual(t.termios_now(), t.termios_before)
        self.assertTrue(bytes(t.raw).endswith(BELOW_LAYOUT + KEYPAD_NUMERIC), bytes(t.raw[-30:]))
        t.signal(signal.SIGCONT)
        self.assertTrue(t.wait_stopped(False, 5))
        self.assertTrue(t.wait_until(lambda s: s.snapshot() == snap, 5), f'not redrawn: {t.snapshot()[:12]}')
        self.choose(t, 1)
        t.send(b'\x03')
        t.wait_exit(5)
        self.assertEqual(t.killed_by, signal.SIGINT, f'status {t.exit_code}')
        self.assert_given_back(t, pushed=False)

    def test_sigstop_and_sigcont_push_the_flags_only_once(self):
        # SIGSTOP cannot be caught, so nothing was popped before it: continuing must not push
        t = self.start()
        self.pass_intro(t)
        t.signal(signal.SIGSTOP)
        t.settle(0.1)
        t.signal(signal.SIGCONT)
        self.check_one_push_after_continue(t)

    def test_sigcont_without_a_stop_pushes_nothing(self):
        t = self.start()
        self.pass_intro(t)
        t.signal(signal.SIGCONT)
        self.check_one_push_after_continue(t)


class TerminalSizeTests(GameCase):

    # The effects line runs from column 81 to column 133 at most with the authored Events.
    def size_notice(self, t):
        return t.find_text('This game needs a terminal of at least 133 columns and 15 rows') is not None

    def test_smallest_terminal_plays_without_wrapping(self):
        t = self.start(cols=133, rows=15)
        self.pass_intro(t)
        self.assertEqual(panel(t), STARTING)
        for turn in range(4):
            self.choose(t, 1)
            self.assertTrue(effects_text(t), 'no effects line')
            # nothing of the effects line wrapped onto the next row
            self.assertEqual(t.line(10).strip(), '', f'turn {turn}: {t.snapshot()[9:11]}')
            self.close_turn(t)
            if at_ending(t):
                break

    def test_too_small_waits_for_a_resize(self):
        t = self.start(cols=132, rows=15, intro=False)
        self.assertTrue(t.wait_until(self.size_notice, 5), f'no size notice: {t.snapshot()[:4]}')
        self.assertTrue(t.find_text('this one has 132 columns and 15 rows'))
        t.tap(KEY_ENTER)
        t.tap(digit(1))
        self.assert_nothing_happens(t, 'keys while the terminal is too small')
        t.resize(140, 40)
        self.assertTrue(t.wait_until(at_intro, 5), f'no intro after the resize: {t.snapshot()[:4]}')
        self.pass_intro(t)

    def test_q_while_too_small_quits(self):
        t = self.start(cols=140, rows=14, intro=False)
        self.assertTrue(t.wait_until(self.size_notice, 5))
        t.tap(KEY_Q)
        self.assertEqual(t.wait_exit(5), 0)
        self.assertTrue(t.is_blank())
        self.assert_given_back(t, pushed=True, below=False)

    def test_shrinking_mid_turn_and_growing_back_redraws(self):
        t = self.start()
        self.pass_intro(t)
        self.choose(t, 2)
        snap, where = t.snapshot(), t.cursor()
        t.resize(90, 30)
        self.assertTrue(t.wait_until(self.size_notice, 5), f'no size notice: {t.snapshot()[:4]}')
        t.tap(KEY_ENTER)                      # dropped while the notice is up
        t.resize(140, 40)
        self.assertTrue(t.wait_until(lambda s: s.snapshot() == snap, 5), f'not redrawn: {t.snapshot()[:12]}')
        self.assertEqual(t.cursor(), where)
        self.assert_nothing_happens(t, 'the ENTER typed while too small')
        self.close_turn(t)


# ---- 6. a terminal without the protocol: one byte, one press ------------------------------

class LegacyInputTests(GameCase):

    def test_bytes_drive_a_turn_and_sequences_choose_nothing(self):
        t = self.start(kitty=False)
        t.send(b'\r')
        self.assertTrue(t.wait_until(awaiting_choice, 5), 'CR did not pass the intro')
        first = prompt(t)
        for name, seq in (('an arrow', b'\x1b[A'), ('a mouse report', b'\x1b[M !!'),
                          ('keypad 1 in application mode', b'\x1bOq')):
            t.send(seq)
            self.assert_nothing_happens(t, name)
        t.send(b'\x1b[A\x1b[M !!\x1bOq\x1b[1;2B')
        self.assert_nothing_happens(t, 'the sequences in one read')
        t.send(b'1')
        self.wait_outcome(t, 1, 'for the byte 1')
        t.send(b'\n')
        self.assertTrue(t.wait_until(awaiting_choice, 5), 'LF did not close the turn')
        self.assertNotEqual(prompt(t), first)
        t.send(b'2')
        self.wait_outcome(t, 2, 'for the byte 2')


# ---- 7. not a terminal --------------------------------------------------------------------

class NotATerminalTests(unittest.TestCase):

    def check(self, stdin, stdout):
        result = subprocess.run([GAME], stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                                timeout=10, start_new_session=True)
        self.assertEqual(result.returncode, 1)
        lines = result.stderr.decode(errors='replace').splitlines()
        self.assertEqual(len(lines), 1, f'stderr: {result.stderr!r}')
        self.assertTrue(result.stderr.endswith(b'\n'))
        return result

    def test_stdin_from_dev_null_stdout_to_a_pipe(self):
        with open(os.devnull, 'rb') as null:
            result = self.check(null, subprocess.PIPE)
        self.assertEqual(result.stdout, b'')

    def test_stdin_a_terminal_stdout_to_a_pipe(self):
        master, slave = os.openpty()
        try:
            before = termios.tcgetattr(master)
            result = self.check(slave, subprocess.PIPE)
            self.assertEqual(result.stdout, b'')
            self.assertEqual(termios.tcgetattr(master), before, 'modes touched without a terminal')
        finally:
            os.close(slave)
            os.close(master)

    def test_stdin_from_dev_null_stdout_a_terminal(self):
        master, slave = os.openpty()
        try:
            with open(os.devnull, 'rb') as null:
                self.check(null, slave)
            os.set_blocking(master, False)
            try:
                written = os.read(master, 4096)
            except BlockingIOError:
                written = b''
            self.assertEqual(written, b'', 'wrote to stdout although stdin is no terminal')
        finally:
            os.close(slave)
            os.close(master)


# ---- measured, not asserted: key-to-screen latency ----------------------------------------

class LatencyMeasurement(GameCase):

    def test_key_to_screen_latency(self):
        t = self.start()
        self.pass_intro(t)
        samples, first_bytes = [], []
        for i in range(15):
            if at_ending(t):
                t.tap(KEY_ENTER)
                self.assertTrue(t.wait_until(at_intro, 5))
                self.pass_intro(t)
            self.assertTrue(awaiting_choice(t))
            mark = len(t.chunks)
            sent = time.monotonic()
            t.press(digit(i % 2))
            self.assertTrue(t.wait_until(outcome_shown, 5))
            samples.append((time.monotonic() - sent) * 1000.0)
            first_bytes.append((t.chunks[mark][0] - sent) * 1000.0)
            t.release(digit(i % 2))
            self.close_turn(t)
        print(f'\nkey-to-screen latency over {len(samples)} presses: median {statistics.median(samples):.1f} ms, '
              f'max {max(samples):.1f} ms (first output byte: median {statistics.median(first_bytes):.1f} ms, '
              f'max {max(first_bytes):.1f} ms)', file=sys.stderr)


def main():
    global GAME
    if len(sys.argv) < 2 or not os.access(sys.argv[1], os.X_OK):
        print(f'usage: {sys.argv[0]} PATH_TO_BOOTCAMP [unittest options]', file=sys.stderr)
        sys.exit(2)
    GAME = os.path.abspath(sys.argv.pop(1))
    unittest.main(argv=sys.argv)


if __name__ == '__main__':
    main()
