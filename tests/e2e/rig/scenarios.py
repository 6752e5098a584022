"""The scenarios, written once for every driver, and the table of which runs where.

A scenario gets a Context: c.play(cols, rows, **opts) starts a game (ending the one before) and
returns a Play; c.caps are the capabilities of the driver (and terminal) it runs on. A scenario
raises Failed (an AssertionError) with what it saw when the game goes wrong.
"""
import os
import re
import shutil
import signal
import subprocess
import termios
import time

from .driver import wait_until
from .inside import MARKER
from .model import Canvas
from .pty_driver import NUM_LOCK, RELEASE, kitty_key
from .play import LIMIT, TURNS, Play, check

# What the game writes to a POSIX terminal around its screens.
OPENING = b'\x1b=\x1b[?1004h\x1b[?2004h\x1b[?1035$p\x1b[?u'   # first, in the same write as the intro
PUSH = b'\x1b[>15u\x1b[?u'                                  # once the terminal answered the query
POP = b'\x1b[<u'
REPORTS_OFF = b'\x1b>\x1b[?1004l\x1b[?2004l'
NUMLOCK_MODE_ON = b'\x1b[?1035h'


class Context:
    def __init__(self, driver, model, opts, caps):
        self.d, self.m, self.opts, self.caps = driver, model, opts, caps

    def play(self, cols=None, rows=None, **opts):
        self.d.stop()
        return Play(self.d, self.m, cols or self.d.size[0], rows or self.d.size[1], **{**self.opts, **opts})

    @property
    def kitty(self):
        """The terminal answers the keyboard flags query (its keys may then come as events)."""
        return self.opts.get('answers', True) and 'legacy' not in self.caps


# ---- checks shared by the scenarios ---------------------------------------------------------

def game_bytes(p, shell_line=MARKER):
    """What the game wrote (the pty driver) before the shell's line after it."""
    return bytes(p.d.raw[:p.d.raw.rfind(shell_line.encode())])


def given_back(c, p, how, what, before=None, cut_short=True):
    """The game ended `how` and gave the terminal back as it found it (see Play.wait_end), with
    no key left for the shell; the bytes that did it; cut short, the cursor under the layout, so
    that the shell's output comes below the game's rows (`before`: the screen then)."""
    p.wait_end(how, what)
    p.check(p.d.unread() in ('', None), f'{what}: keys left for the shell: {p.d.unread()}')
    if 'bytes' in c.caps:
        # cut short: the hand-back after whatever was on the screen; quit: after its last clear
        # the tail is worked out as each look is taken: whether the flags were pushed can show
        # in the bytes after the game has already been seen at the intro
        last = (lambda b: b) if cut_short else (lambda b: b[b.rfind(b'\x1b[2J') + 4:])
        p.expect(f'{what}: the keyboard flags popped, the reports off', lambda: p.d.flags == [0] and any(
                 last(game_bytes(p)).endswith(tail) and (cut_short or last(game_bytes(p)) == tail)
                 for tail in hand_back(p, cut_short)),
                 detail=lambda: f': flags {p.d.flags}, the last bytes {game_bytes(p)[-40:]!r}, '
                                f'expected one of {hand_back(p, cut_short)!r}')
    if before and 'shell' in c.caps:
        shell_below(p, before, MARKER, what)


def hand_back(p, cut_short=True):
    """The bytes that may give the terminal back: cut short, the cursor under the layout first;
    the flags popped if pushed; the reports off; xterm's NumLock mode set again if the game reset
    it. An end that comes just as the game reads that the mode was set may set it back before the
    game's reset is out: harmless, the mode is as it was."""
    tail = (below(p) if cut_short else b'') + (POP if pushed(p) else b'') + REPORTS_OFF
    if b'\x1b[?1035l' in p.d.raw:
        return (tail + NUMLOCK_MODE_ON,)
    if getattr(p.d, 'decrqm_at_start', {}).get(1035) and b'\x1b[?1035$p' in p.d.raw:
        return (tail, tail + NUMLOCK_MODE_ON)
    return (tail,)


def below(p):
    """The cursor to column 1 under the layout (the tty adds a CR to the LF)."""
    return f'\x1b[{p.rows_taken};1H\r\r\n'.encode()


def pushed(p):
    return PUSH in p.d.raw


def shell_below(p, before, line, what):
    """The shell's `line` on the row under the game's rows, which stay as they were (in a
    window of just the layout's rows, the game's rows scrolled up to make room)."""
    rows = p.rows_taken
    shift = max(0, rows + 2 - p.rows)
    want = Canvas(p.cols, p.rows)
    for r, text in enumerate(before.rows[shift:rows]):
        want.write(text, r, 0)
    want.write(line, rows - shift, 0)
    p.expect(f'{what}: "{line}" under the game\'s {rows} rows', want.screen(None, [line]))


def stopped_and_back(c, p, stop, what):
    """Suspended by `stop`: the terminal given back while stopped; continued by the shell, the
    game takes its modes again and redraws exactly what was there, cursor included, before it
    goes on."""
    before = p.d.screen()
    stop()

    def given_back_stopped():
        modes = p.d.modes()
        return p.d.stopped() and modes.get('stopped') == modes['before'] and (
            'bytes' not in c.caps or p.d.flags == [0] and game_bytes(p, 'stopped').endswith(hand_back(p)))
    p.expect(f'{what}: stopped, the terminal given back', given_back_stopped,
             detail=lambda: f': stopped {p.d.stopped()}, {p.d.modes()}' + (
                 f', flags {p.d.flags}, the last bytes {game_bytes(p, "stopped")[-40:]!r}, expected {hand_back(p)!r}'
                 if 'bytes' in c.caps else ''))
    p.check(p.d.unread() == '', f'{what}: keys left for the shell while stopped: {p.d.unread()}')
    if 'shell' in c.caps:
        shell_below(p, before, 'stopped', what)
    p.d.resume()

    def back():
        # the whole state, not a part of it: the redraw, the cursor, the game's modes, the flags
        return (p.shows(before) and p.d.modes_now() != p.d.modes()['before'] and not p.d.stopped() and
                ('bytes' not in c.caps or p.d.flags == ([0, 15] if c.kitty else [0])))
    p.expect(f'{what}: all as it was after the continue', back)


# ---- playing --------------------------------------------------------------------------------

def run_restart_quit(c):
    """Two runs to an ending with a restart between them, then Q. Every turn is checked against
    the model: the Event as drawn, the panel unchanged until ENTER and then showing the new
    values, the outcome and effects line, the cursor on the chosen line; no Event twice in a run;
    the ending exactly when a condition reaches its bound, the first whose test holds, with the
    days survived. The restart shows the intro, the starting values and the same Events in the
    same order. Where releases are reported, ENTER held on the end screen restarts once and the
    intro then wants a new press."""
    p = c.play()
    p.at_intro()
    p.pass_intro()
    first, days = p.play_to_ending()
    if 'releases' in c.caps:
        p.d.press('enter')
        p.at_intro()
        p.quiet('ENTER still held at the intro')
        p.d.release('enter')
        p.quiet('ENTER released at the intro')
    else:
        p.d.tap('enter')
        p.at_intro()
    p.new_run()
    p.pass_intro()
    again, days_again = p.play_to_ending()
    p.check((again, days_again) == (first, days),
            f'the same choices after the restart met other Events: {first}, {days} days; then {again}, {days_again}')
    p.end_by_quit()
    if 'bytes' in c.caps:
        given_back(c, p, ('exit', 0), 'Q', cut_short=False)


def stale_keys_pass_by(c):
    """A key tapped while the game waits for another is passed by: ENTER while a digit is awaited
    does not close the turn answered after it; a digit while ENTER is awaited does not choose in
    the next Event."""
    p = c.play()
    p.pass_intro()
    p.d.tap('enter')
    p.choose(p.safe())
    p.quiet('the outcome, after an ENTER tapped before the answer')
    p.d.tap(str(p.safe()))
    p.close_turn()
    p.quiet('the next Event, after a digit tapped before ENTER')


def typed_ahead(c):
    """Keys typed ahead reach the game in one read and each counts, in order: ENTER and 2 at the
    intro give the first Event answered with 2; 2 ENTER 0 ENTER 1 at an Event play Options 2, 0
    and 1 in three Events (another digit first where 2 would end the run)."""
    p = c.play()
    p.at_intro()
    p.d.type('enter', '2')
    p.arrive('ENTER and 2 typed ahead at the intro', chosen=2)
    p.close_turn()
    first = p.event
    a = 2 if p.m.cause(p.m.apply(p.values, first['options'][2])) is None else p.safe()
    after_first = p.m.apply(p.values, first['options'][a])
    # every screen the three turns can end on, with the Events unseen
    wanted, meaning = [], {}
    for second in p.m.events:
        if second['prompt'] in p.seen:
            continue
        after_second = p.m.apply(after_first, second['options'][0])
        if p.m.cause(after_second) is not None:
            screen = p.m.ending(p.m.cause(after_second), p.days + 1, p.cols, p.rows)
            wanted.append(screen)
            meaning[id(screen)] = None
            continue
        for third in p.m.events:
            if third['prompt'] not in p.seen and third is not second:
                screen = p.turn(third, after_second, chosen=1)
                wanted.append(screen)
                meaning[id(screen)] = (third, after_second)
    p.d.type(str(a), 'enter', '0', 'enter', '1')
    found = p.expect(f'{a} ENTER 0 ENTER 1 typed ahead: three Events answered {a}, 0 and 1', *wanted)
    if meaning[id(found)]:
        p.event, p.values = meaning[id(found)]
        p.seen.append(p.event['prompt'])
        p.days += 2
        p.answered(1)
        p.close_turn()


# ---- held keys ------------------------------------------------------------------------------

def held_enter(c):
    """ENTER held down from the intro passes it and does not close the first turn, neither while
    held nor when released; pressed anew, it does."""
    p = c.play()
    p.at_intro()
    p.keys_followed()
    p.d.press('enter')
    p.arrive('the first Event: ENTER held down passes the intro')
    p.choose(p.safe())
    p.quiet('ENTER held since the intro')
    p.d.release('enter')
    p.quiet('the release of ENTER')
    p.d.press('enter')
    p.after_turn('ENTER pressed anew')
    p.d.release('enter')


def held_digit(c):
    """A digit held down through the ENTER that closes the turn chooses in the next Event at once;
    its release does nothing."""
    p = c.play()
    p.pass_intro()
    digit = p.digit_held_through_enter()
    p.d.release(str(digit))
    p.quiet('the release of the held digit')


def two_digits(c):
    """Two digits down: the one that went down first chooses (in one write, where the driver can);
    both held through the ENTER that closes the turn, the lowest chooses in the next Event."""
    p = c.play()
    p.pass_intro()
    if 'bytes' in c.caps:
        p.d.send(p.d.encode('2', 1) + p.d.encode('0', 1))
    else:
        p.d.press('2')
        p.expect('2 down', p.turn(p.event, chosen=2))
        p.d.press('0')
    p.expect('2 went down before 0: Option 2', p.turn(p.event, chosen=2))
    p.answered(2)
    p.quiet('0 down while ENTER is awaited')
    p.d.tap('enter')
    p.after_turn('0 and 2 held through ENTER: the lowest', chosen=0)
    p.d.release('2')
    p.d.release('0')
    p.quiet('the releases of 2 and 0')


# What a browser tells a page of being left, kept from the page's own listeners (wrapped as the
# page adds them; the browser's own stay as they are): the page then hears only of coming back,
# as in Chromium when the page's own window.open puts another tab in front.
KEEP_LEAVING_QUIET = """
    const add = EventTarget.prototype.addEventListener;
    const leaving = (type) => type === 'blur' || type === 'pagehide' ||
        (type === 'visibilitychange' && document.hidden);
    EventTarget.prototype.addEventListener = function (type, listener, options) {
        const told = function (event) { if (!leaving(event.type)) listener.call(this, event); };
        return add.call(this, type, ['blur', 'pagehide', 'visibilitychange'].includes(type) ? told : listener, options);
    };"""


def focus_away_while_held(c):
    """A digit held, the focus given to another window, the digit released there, the focus back:
    the next Event waits for a key, and a digit pressed anew chooses. On a page, again with the
    page told only of coming back: that lets go of every key too."""
    for told_of_leaving in (True, False) if 'preload' in c.caps else (True,):
        p = c.play(**({} if told_of_leaving else {'preload': KEEP_LEAVING_QUIET}))
        p.pass_intro()
        digit = p.safe(carried=True)
        p.press_digit(digit)
        let_go = c.d.session.page()['let_go'] if 'page' in c.caps else 0
        p.d.focus_away()
        p.d.release(str(digit))
        p.d.focus_back()
        if not told_of_leaving:
            p.check(c.d.session.page()['let_go'] > let_go, 'the page did not let go of the keys on coming back')
        p.close_turn()
        p.quiet(f'the focus back{"" if told_of_leaving else " (the page told only of that)"}, no digit pressed anew')
        # pressed anew, the same digit answers (kitty 0.26 reports that press as a repeat)
        p.choose(digit)


def keypad(c):
    """The keypad's Enter goes on like ENTER (held from the intro, one press); the keypad's digits
    choose nothing."""
    p = c.play()
    p.at_intro()
    p.keys_followed()
    p.d.press('kp_enter')
    p.arrive('the first Event after keypad Enter')
    p.d.tap('kp1')
    p.quiet('keypad 1')
    if hasattr(c.d, 'numlock'):
        check(c.d.numlock() == 'on', 'NumLock went off with keypad 1')
    if 'bytes' in c.caps and c.kitty:
        # NumLock rides along on the main row's keys too and must not hide them
        p.d.send(kitty_key(49, NUM_LOCK) + kitty_key(49, NUM_LOCK, RELEASE))
        p.expect('1 with NumLock on', p.turn(p.event, chosen=1))
        p.answered(1)
    else:
        p.choose(p.safe())
    if 'releases' in c.caps:
        p.quiet('keypad Enter still held from the intro')
    p.d.release('kp_enter')
    p.d.tap('kp_enter')
    p.after_turn('keypad Enter after the outcome')


# ---- ways out -------------------------------------------------------------------------------

def ctrl_c(c):
    """Ctrl+C at the intro, and while a digit is awaited right after keys typed just before it,
    ends the game at once as an interrupt: the terminal given back as it was, none of those keys
    left for the shell, whose output comes under the game's rows."""
    p = c.play()
    p.at_intro()
    before = p.d.screen()
    p.d.tap('ctrl+c')
    given_back(c, p, p.d.interrupted, 'Ctrl+C at the intro', before)
    p = c.play()
    p.pass_intro()
    before = p.d.screen()
    p.d.type('q', 'q', 'ctrl+c')
    given_back(c, p, p.d.interrupted, 'Ctrl+C', before)


def signals(c):
    """SIGINT, SIGTERM, SIGHUP and SIGQUIT while a digit is awaited, and SIGTERM while an outcome
    is shown: each ends the game by that signal with the terminal given back. Two in a row, as
    when a terminal window closes (SIGHUP, SIGTERM), and SIGTERM while SIGINT's hand-back is under
    way: the first ends the game, and the terminal is given back once."""
    for sig, answer in ((signal.SIGINT, False), (signal.SIGTERM, False), (signal.SIGHUP, False),
                        (signal.SIGQUIT, False), (signal.SIGTERM, True)):
        p = c.play()
        p.pass_intro()
        if answer:
            p.choose(p.safe())
        before = p.d.screen()
        p.d.signal(sig)
        given_back(c, p, ('signal', sig), f'{sig.name}{" with an outcome shown" if answer else ""}', before)
    for first, during in ((signal.SIGINT, True), (signal.SIGHUP, False)):
        p = c.play()
        p.pass_intro()
        before = p.d.screen()
        what = f'{first.name}, then SIGTERM{" during its hand-back" if during else ""}'
        p.d.signal(first)
        if during:
            # the hand-back swallows what the terminal sends until it is quiet: bytes typed
            # meanwhile keep it going while SIGTERM comes
            p.d.wait_until(lambda: p.d.send(b'x') or REPORTS_OFF in p.d.raw, LIMIT)
        try:
            p.d.signal(signal.SIGTERM)
        except ProcessLookupError:
            pass    # already ended (the hand-back was over): nothing to see then
        given_back(c, p, ('signal', first), what, before)
        once = p.d.raw.count(REPORTS_OFF) == 1 and p.d.raw.count(POP) == pushed(p) and p.d.raw.count(below(p)) == 1
        p.check(once, f'{what}: the terminal given back more than once: {bytes(p.d.raw[-80:])!r}')


def terminal_gone(c):
    """The terminal going away ends the game, with or without it as its controlling terminal."""
    for ctty in (True, False):
        p = c.play(ctty=ctty)
        p.pass_intro()
        p.d.hang_up()
        end = p.d.wait_until(p.d.ended, LIMIT)
        p.check(end in ((('signal', signal.SIGHUP), ('exit', 1)) if ctty else (('exit', 1),)),
                f'the terminal gone (controlling: {ctty}): the game ended with {end}')


def typed_while_stopped(c):
    """Keys typed while the game is stopped, and it ended before it runs again: they are dropped
    with the modes, not left for the shell."""
    p = c.play()
    p.pass_intro()
    before = p.d.screen()
    p.d.signal(signal.SIGSTOP)
    p.check(p.d.wait_until(lambda: p.d.state() == 'T', LIMIT), 'not stopped by SIGSTOP')
    p.d.send(b'ls\n')
    p.d.signal(signal.SIGTERM)
    p.d.signal(signal.SIGCONT)
    given_back(c, p, ('signal', signal.SIGTERM), 'SIGTERM after keys typed while stopped', before)


# ---- suspend, continue, resize --------------------------------------------------------------

def suspend(c):
    """Ctrl+Z at an answered Event, then SIGTSTP from outside at the next one: each time the
    terminal given back while stopped, and everything as it was when the shell continues the game;
    the run then plays on to its ending, and Q quits with the terminal as it was."""
    p = c.play(jobs=True)
    p.pass_intro()
    p.choose(p.safe())
    stopped_and_back(c, p, lambda: p.d.tap('ctrl+z'), 'Ctrl+Z')
    p.close_turn()
    stops = 1
    if not p.ended_run():
        stopped_and_back(c, p, lambda: p.d.signal(signal.SIGTSTP), 'SIGTSTP')
        stops += 1
        p.play_to_ending()
    p.end_by_quit()
    if 'bytes' in c.caps:
        given_back(c, p, ('exit', 0), 'Q after the continues', cut_short=False)
        # popped for each stop, pushed again for each continue
        p.check(p.d.raw.count(PUSH) == (1 + stops if c.kitty else 0), f'flags pushed {p.d.raw.count(PUSH)} times')


def releases_after_ctrl_z(c):
    """The terminal sends the releases of Ctrl and Z before it sees the flags popped: they are
    swallowed, not left for the shell."""
    p = c.play(jobs=True)
    p.pass_intro()
    p.d.press('ctrl+z')
    # the terminal's releases come a moment later, once the game is giving the terminal back
    p.expect('the flags popped for the suspend', lambda: p.d.flags == [0])
    p.d.send(b'\x1b[57442;5:3u\x1b[122;1:3u')
    p.check(p.d.wait_until(p.d.stopped, LIMIT), 'Ctrl+Z did not stop the game')
    p.check(p.d.unread() == '', f'key releases left for the shell: {p.d.unread()}')


def stop_and_continue(c):
    """SIGSTOP, the screen wiped by someone else meanwhile, SIGCONT: the game redraws exactly
    what was there, cursor included, in a small write, without pushing its flags again; a SIGCONT
    with no stop before it pushes nothing either."""
    p = c.play()
    p.pass_intro()
    p.choose(p.safe())
    before = p.d.screen()
    p.d.signal(signal.SIGSTOP)
    p.check(p.d.wait_until(lambda: p.d.state() == 'T', LIMIT), 'not stopped by SIGSTOP')
    p.d.scribble(b'\x1b[2J\x1b[1;1Hwiped while stopped')
    p.expect('the screen wiped while stopped', lambda: 'wiped while stopped' in p.d.screen().rows[0])
    mark = len(p.d.raw) if 'bytes' in c.caps else 0
    p.d.signal(signal.SIGCONT)
    p.expect('redrawn after SIGCONT', before)
    if 'bytes' in c.caps:
        p.quiet('the continued game')
        p.check(len(p.d.raw) - mark <= 2048, f'the redraw took {len(p.d.raw) - mark} bytes')
        p.check(p.d.raw.count(PUSH) == (1 if c.kitty else 0), 'flags pushed again after SIGSTOP')
        p.d.signal(signal.SIGCONT)          # with no stop before it
        p.expect('redrawn after a SIGCONT alone', before)
        p.quiet('the game after a SIGCONT alone')
        p.check(p.d.raw.count(PUSH) == (1 if c.kitty else 0) and p.d.flags == ([0, 15] if c.kitty else [0]),
                f'flags pushed again after a SIGCONT alone: {p.d.flags}')
    p.close_turn()


def resize(c):
    """Resized at the digit wait and at the ENTER wait, the game redraws the screen as it was;
    where nothing fits, the size notice follows the size and keys are dropped; large again, the
    screen and cursor come back exactly, in a small write; Q at the notice quits."""
    p = c.play(140, 40)
    p.pass_intro()
    p.resize(150, 35, wipe=True)
    p.expect('resized to 150x35 at the digit wait', p.turn(p.event))
    values, digit = p.values, p.safe()
    p.choose(digit)
    answered = lambda: p.turn(p.event, values, chosen=digit)  # noqa: E731
    p.resize(140, 30, wipe=True)
    p.expect('resized to 140x30 at the ENTER wait', answered())
    for cols, rows in ((90, 20), (60, 24)):
        p.resize(cols, rows)
        p.expect(f'resized to {cols}x{rows}: the notice', p.m.notice(cols, rows))
    p.d.tap('enter')
    mark = len(p.d.raw) if 'bytes' in c.caps else 0
    p.resize(140, 40, wipe=True)
    p.expect('large again: the screen as it was', answered())
    p.quiet('the ENTER typed while the window was too small')
    if 'bytes' in c.caps:
        p.check(len(p.d.raw) - mark <= 2048, f'the redraw took {len(p.d.raw) - mark} bytes')
    p.close_turn()
    p.resize(90, 20)
    notice = p.expect('resized to 90x20: the notice', p.m.notice(90, 20))
    p.end_by_quit(where=notice.cursor)


def resize_in_outcome(c):
    """From 133x40 to 80x24 and back while an outcome is shown, and to 60x40 at the next Event:
    each time the same screen at once, laid out for the window, with no key pressed; large again,
    as the game draws it; the turns then go on."""
    p = c.play(133, 40)
    p.pass_intro()
    values, digit = p.values, p.safe()
    p.choose(digit)
    answered = lambda: p.turn(p.event, values, chosen=digit)  # noqa: E731
    for cols, rows in ((80, 24), (133, 40)):
        mark = len(p.d.raw) if 'bytes' in c.caps else 0
        p.resize(cols, rows)
        p.expect(f'resized to {cols}x{rows} with the outcome shown', answered())
        if 'bytes' in c.caps:
            p.quiet(f'the outcome at {cols}x{rows}')
            print(f'# the resize to {cols}x{rows} took {len(p.d.raw) - mark} bytes')
    p.close_turn()
    if not p.ended_run():
        p.resize(60, 40)
        p.expect('resized to 60x40 at the next Event', p.turn(p.event))
        p.choose(p.safe(or_any=True))


def windows_players_open(c):
    """Played in the windows terminals open at: a whole run to its ending and Q at 80x24 (xterm at
    the window it opens at when asked for none), then a few turns at 120x30 and at 60x40 (a
    phone held upright). Every screen is laid out to fit, checked as the player reads it. Where
    the terminal does not carry out the layout (wine's console), the whole run at the Windows
    console's 120x30, its texts and flow checked."""
    runs = [(80, 24, True), (120, 30, False), (60, 40, False)] if 'layout' in c.caps else [(120, 30, True)]
    for cols, rows, whole in runs:
        p = c.play(cols, rows, **({'own_size': True} if 'own_size' in c.caps and (cols, rows) == (80, 24) else {}))
        p.at_intro()
        p.pass_intro()
        if whole:
            p.play_to_ending()
            p.end_by_quit()
            continue
        for _ in range(3):
            p.choose(p.safe(or_any=True))
            if p.ended_run():
                break
            p.close_turn()


def stacked_for_a_screen_reader(c):
    """--stacked in a window that holds the game's own layout: one column, with no gauge on the
    rows of the Event, its outcome and effects line, and the panel under them all."""
    p = c.play(140, 40, args=['--stacked'])
    p.pass_intro()
    p.choose(p.safe())
    screen = p.d.screen()
    top = next(i for i, row in enumerate(screen.rows) if row.strip() == 'Conditions')
    p.check(not any(f'{name}: ' in row or '[' in row for row in screen.rows[:top] for name in p.m.names),
            f'a gauge among the rows of the Event:\n{screen}')
    p.close_turn()


def too_small(c):
    """Started one row lower than the smallest window of its width, the game shows the size notice
    with that window and the size it has, drops the keys, and starts once the window has the row."""
    rows = c.m.stacked_rows(80)
    p = c.play(80, rows - 1)
    p.expect('one row too low: the notice', p.m.notice(80, rows - 1))
    p.d.tap('enter')
    p.d.tap('1')
    p.quiet('keys while the window is too small')
    p.resize(80, rows)
    p.at_intro()
    p.pass_intro()


def quit_at_notice(c):
    """Started where nothing fits, the game shows the size notice; Q there quits (status 0, the
    screen cleared, the terminal as it was)."""
    cols, rows = 100, c.m.stacked_rows(100) - 1
    p = c.play(cols, rows)
    notice = p.expect('too small: the notice', p.m.notice(cols, rows))
    p.end_by_quit(where=notice.cursor)
    if 'bytes' in c.caps:
        given_back(c, p, ('exit', 0), 'Q at the notice', cut_short=False)


def smallest_terminal(c):
    """In a terminal of exactly the size the layout needs, turns show as the model draws them:
    the effects line does not wrap. (The real terminals play every scenario at this width.)"""
    p = c.play(*c.m.layout)
    p.pass_intro()
    for _ in range(4):
        p.choose(1)
        p.close_turn()
        if p.ended_run():
            break


# ---- the terminal's protocol (the pseudo-terminal) ------------------------------------------

def protocol(c):
    """The first write is the set-up and the intro together, with nothing waited for: ENTER typed
    before any answer counts. A terminal that answers the flags query gets the flags pushed once
    (with the question again) and popped at the end; one that does not gets nothing pushed."""
    p = c.play()
    p.d.tap('enter')                    # before the terminal has answered anything
    p.arrive('the first Event: ENTER typed before any answer')
    at, first = next((at, data) for at, data in p.d.chunks if OPENING in data)
    intro_lines = [line for line in p.m.intro_text.split('\n') if line]
    first = first[first.index(OPENING):]
    p.check(all(line.encode() in first for line in intro_lines),
            f'the set-up and the intro are not in one write: {first[:120]!r}')
    print(f'# {"kitty" if c.kitty else "legacy"} terminal: intro {1000 * (at - p.d.note("at")):.1f} ms after start')
    p.expect('the flags in force', lambda: p.d.flags == ([0, 15] if c.kitty else [0]))
    p.play_to_ending()
    p.check(p.d.flags == ([0, 15] if c.kitty else [0]), f'flags while playing: {p.d.flags}')
    p.end_by_quit()
    given_back(c, p, ('exit', 0), 'Q', cut_short=False)
    p.check(p.d.raw.count(PUSH) == (1 if c.kitty else 0) and below(p) not in p.d.raw,
            f'pushed {p.d.raw.count(PUSH)} times')


def late_reply(c):
    """Over a slow link the answers come late: keys before them count as plain bytes, and once
    the flags are confirmed key events are followed (a held digit chooses in the next Event, a
    held ENTER does not close it). Stopped before they came, the game asks again when continued:
    the shell has read them meanwhile."""
    p = c.play(reply_delay=0.3)
    p.at_intro()
    p.check(p.d.flags == [0], 'flags pushed before any answer came')
    p.d.send(b'\r')
    p.arrive('the first Event: a plain Enter before the answers')
    p.expect('the late answers taken', lambda: p.d.flags == [0, 15] and not p.d.delayed)
    digit = p.safe(carried=True)
    p.press_digit(digit)
    p.d.press('enter')
    p.after_turn(f'ENTER with {digit} held', chosen=digit)
    p.quiet('ENTER held from the turn before')
    p.d.release('enter')
    p.d.release(str(digit))
    before = p.d.screen()
    p.d.tap('ctrl+c')
    given_back(c, p, p.d.interrupted, 'Ctrl+C', before)
    p.check(p.d.raw.count(PUSH) == 1, 'flags pushed more than once')
    p = c.play(reply_delay=0.3, jobs=True, decrqm={1035: True})
    p.at_intro()
    before = p.d.screen()
    p.d.signal(signal.SIGTSTP)
    p.expect('stopped at the intro', p.d.stopped)
    p.d.wait_until(lambda: not p.d.delayed, LIMIT)
    p.d.resume()
    p.expect('the answers asked for again after the continue, and taken', lambda: p.shows(before) and
             p.d.flags == [0, 15] and p.d.decrqm[1035] is False and not p.d.delayed,
             detail=lambda: f': flags {p.d.flags}, NumLock mode set {p.d.decrqm[1035]}')
    p.d.tap('ctrl+c')
    given_back(c, p, p.d.interrupted, 'Ctrl+C after the answers came again', before)


def partial_flags(c):
    """A terminal that takes the flags without event types (it confirms 9, or 13): presses are
    whole taps, so a digit pressed in one Event does not choose in the next; played to an ending
    and quit, the flags popped."""
    for honours in (9, 13):
        p = c.play(honours=honours)
        p.at_intro()
        p.expect(f'flags {honours} in force', lambda: p.d.flags == [0, honours] and PUSH in p.d.raw)
        p.d.press('enter')
        p.arrive('the first Event')
        digit = p.safe(carried=True)
        p.press_digit(digit)
        p.d.press('enter')
        p.after_turn(f'ENTER after {digit} (a tap: not held)')
        p.play_to_ending()
        p.end_by_quit()
        given_back(c, p, ('exit', 0), f'Q with flags {honours}', cut_short=False)


def paste_and_layouts(c):
    """A paste answers nothing, nor does a key release cut in two by a slow link; Q of a Cyrillic
    layout (its base-layout key is q) does nothing at the intro and quits at the end screen; Ctrl+C
    of that layout is an interrupt."""
    p = c.play()
    p.at_intro()
    cyrillic_q = b'\x1b[1081::113u\x1b[1081::113;1:3u'
    p.d.send(cyrillic_q)
    p.quiet('the Q of a Cyrillic layout at the intro')
    p.pass_intro()
    p.d.send(b'\x1b[200~2\r0\r\x1b[201~')
    p.quiet('a paste of 2, Enter, 0, Enter')
    p.d.send(b'\x1b[57;')
    p.d.settle(0.15)        # a slow link: the rest of the release of 9 comes 150 ms later
    p.d.send(b'1:3u')
    p.quiet('the release of 9 cut in two by a slow link')
    p.play_to_ending()
    p.end_by_quit(send=cyrillic_q)
    p = c.play()
    p.pass_intro()
    before = p.d.screen()
    p.d.send(b'\x1b[1089::99;5u')
    given_back(c, p, ('signal', signal.SIGINT), 'the Ctrl+C of a Cyrillic layout', before)


def numlock_mode(c):
    """xterm's NumLock mode, set before the game: reset while it plays, set back on every way out
    (Q, Ctrl+C, SIGTERM) and while suspended, reset again after; a mode already reset is left
    alone."""
    for way in ('q', 'ctrl+c', 'sigterm'):
        p = c.play(decrqm={1035: True})
        p.expect('NumLock mode reset while playing', lambda: p.d.decrqm[1035] is False)
        p.pass_intro()
        if way == 'q':
            p.play_to_ending()
            p.end_by_quit()
        elif way == 'ctrl+c':
            p.d.tap('ctrl+c')
        else:
            p.d.signal(signal.SIGTERM)
        p.d.wait_until(p.d.ended, LIMIT)
        p.expect(f'NumLock mode set back after {way}', lambda: p.d.decrqm[1035] is True)
    p = c.play(decrqm={1035: True}, jobs=True)
    p.pass_intro()
    p.d.signal(signal.SIGTSTP)
    p.expect('NumLock mode set back while stopped', lambda: p.d.stopped() and p.d.decrqm[1035] is True)
    p.d.resume()
    p.expect('NumLock mode reset again after the continue', lambda: p.d.decrqm[1035] is False,
             detail=lambda: f': the process {p.d.state()}, the last notes {p.d.notes()[-2:]}, '
                            f'the last bytes {bytes(p.d.raw[-120:])!r}')
    p = c.play(decrqm={1035: False})
    p.pass_intro()
    p.d.signal(signal.SIGTERM)
    p.d.wait_until(p.d.ended, LIMIT)
    p.check(b'\x1b[?1035h' not in p.d.raw and b'\x1b[?1035l' not in p.d.raw, 'a reset NumLock mode was touched')


def legacy_bytes(c):
    """Without the protocol each byte is one press: CR passes the intro, LF closes a turn, and an
    arrow, a mouse report or keypad 1 in application mode choose nothing, alone or in one read, nor
    does a sequence cut in two by a slow link; Alt+[ chooses nothing, and keeps no key typed after
    it from choosing."""
    p = c.play()
    p.d.send(b'\r')
    p.arrive('CR at the intro')
    for seq in (b'\x1b[A', b'\x1b[M !!', b'\x1bOq', b'\x1b[A\x1b[M !!\x1bOq\x1b[1;2B'):
        p.d.send(seq)
        p.d.settle(0.02)    # apart, so that each comes in a read of its own
    p.quiet('an arrow, a mouse report, keypad 1 in application mode, alone and in one read')
    for first, rest in ((b'\x1b[1;', b'2A'), (b'\x1b', b'[1;2A'), (b'\x1b[', b'2~')):
        p.d.send(first)
        p.d.settle(0.15)    # a slow link: the rest comes 150 ms later
        p.d.send(rest)
    p.quiet('Shift+Up and Insert cut in two by a slow link')
    p.d.send(b'\x1b[')     # Alt+[: no key of the game's, and the digit typed after it still chooses
    p.quiet('Alt+[', seconds=0.6)
    p.choose(1)
    p.d.send(b'\n')
    p.after_turn('LF after the outcome')


def held_key_repeats(c):
    """A key held down in a terminal that repeats it (its character again and again where no
    releases are reported; presses alone where the flags are honoured in part): ENTER held on the
    outcome that ends a run shows the ending, which stays through the whole hold; released and
    pressed again, it restarts, and the intro then waits for a new press. Again with a slow repeat
    (the first after 1 s, then every 200 ms), where the driver can set it, seen for the first time."""
    cases = [({}, 1.5)] + ([({'honours': 9}, 1.5)] if 'bytes' in c.caps and c.kitty else [])
    if 'repeat_setting' in c.caps and 'legacy' in c.caps:
        cases.append(({'repeat': (1000, 200)}, 2.5))
    for opts, seconds in cases:
        p = c.play(**opts)
        p.at_intro()
        if 'honours' in opts:
            p.expect('flags 9 in force', lambda: p.d.flags == [0, 9] and not p.d.delayed)
            p.d.tap('enter')
            p.arrive('the first Event')
        else:
            p.pass_intro()
        p.answer_until_ending()
        p.d.press('enter')
        p.d.hold(seconds)
        p.expect(f'the ending, ENTER held for {seconds} s{"".join(f" ({k} {v})" for k, v in opts.items())}',
                 p.ending())
        p.d.release('enter')
        p.quiet('ENTER released on the ending')
        p.d.tap('enter')
        p.at_intro()
        p.quiet('the intro, after the ENTER that restarted')


def repeats(c):
    """Repeats keep a key down without new presses: ENTER repeated does not choose or close a
    turn; a digit repeated is still down in the next Event."""
    p = c.play()
    p.keys_followed()
    p.d.press('enter')
    p.arrive('the first Event')
    for _ in range(3):
        p.d.repeat('enter')
    p.choose(p.safe())
    for _ in range(4):
        p.d.repeat('enter')
    p.quiet('ENTER repeats after the answer')
    p.d.release('enter')
    p.close_turn()
    digit = p.safe(carried=True)
    p.press_digit(digit)
    for _ in range(3):
        p.d.repeat(str(digit))
    p.d.tap('enter')
    p.after_turn(f'ENTER with {digit} kept down by repeats', chosen=digit)
    p.d.release(str(digit))


def not_a_terminal(c):
    """Without a terminal the game says so on one line and ends with status 1, writing nothing to
    standard output and touching no terminal's modes."""
    cases = [('standard input from /dev/null', 'null', 'pipe')]
    if 'bytes' in c.caps:
        cases += [('standard input a terminal, output a pipe', 'tty', 'pipe'),
                  ('standard input from /dev/null, output a terminal', 'null', 'tty')]
    for what, stdin, stdout in cases:
        master, slave = os.openpty()
        try:
            modes = termios.tcgetattr(master)
            with open(os.devnull, 'rb') as null:
                result = subprocess.run(c.d.plain_command(), stdin=slave if stdin == 'tty' else null,
                                        stdout=slave if stdout == 'tty' else subprocess.PIPE, stderr=subprocess.PIPE,
                                        timeout=60, start_new_session=True)
            os.set_blocking(master, False)
            try:
                shown = os.read(master, 4096)
            except OSError:
                shown = b''
            err = result.stderr.decode(errors='replace')
            check(result.returncode == 1 and len(err.splitlines()) == 1 and err.endswith('\n') and not result.stdout
                  and not shown and termios.tcgetattr(master) == modes,
                  f'{what}: status {result.returncode}, stderr {err!r}, stdout {result.stdout!r}, terminal {shown!r}')
        finally:
            os.close(slave)
            os.close(master)


def xterm_numlock_mode(c):
    """xterm with NumLock on sends keypad 1 as the main row's 1, keypad mode or not, unless its
    NumLock mode (1035) is reset; then keypad 1 is ESC O q. The game finds the mode set, resets it
    while it plays (keypad 1 chooses nothing, NumLock stays on) and sets it back after."""
    for setup, want in ((b'\x1b=', b'11'), (b'\x1b[?1035l\x1b=', b'\x1bOq1\x1bOM')):
        heard = c.d.listen(setup, ['kp1', '1', 'kp_enter'])
        check(heard.startswith(want),
              f'xterm sent {heard!r} for keypad 1, 1, keypad Enter after {setup!r}; expected {want!r}')
    p = c.play()
    check(b'\x1b[?1035;1$y' in p.d.asked('before'), f'the mode is not set before the game: {p.d.asked("before")!r}')
    p.pass_intro()
    p.d.tap('kp1')
    p.quiet('keypad 1')
    p.choose(p.safe())
    before = p.d.screen()
    p.d.tap('ctrl+c')
    given_back(c, p, p.d.interrupted, 'Ctrl+C', before)    # the terminal's answers as before


def latency(c):
    """Key to screen, measured (the outcome must come each time)."""
    p = c.play()
    p.pass_intro()
    samples = []
    for i in range(10):
        sent = time.monotonic()
        p.choose(p.safe(or_any=True))
        samples.append(1000 * (time.monotonic() - sent))
        p.close_turn()
        if p.ended_run():
            break
    samples.sort()
    print(f'# key to screen over {len(samples)} answers: median {samples[len(samples) // 2]:.1f} ms, '
          f'max {samples[-1]:.1f} ms')


def screenshot(c, path):
    """The README's picture: the first Event answered with 1, in kitty."""
    p = c.play()
    p.pass_intro()
    p.choose(1)
    c.d.screenshot(path)


# ---- the web page ---------------------------------------------------------------------------

def page_new_game(c):
    """On the page, Q goes by the letter it types (AZERTY's Q key types a), or on a layout without
    Latin letters by where Q sits; Ctrl with a digit is the browser's. After Q the page offers a
    new game, started by ENTER or its button: a new process, so a new play order (the game seeds
    from the clock's second); with ENTER held as a game starts the intro passes at once, as at any
    program start. (The layouts only where the engine can send them.)"""
    layouts = 'layouts' in c.caps
    p = c.play()
    s = c.d.session
    p.at_intro()
    seeded = time.time()    # the game has seeded by now, from the clock's second
    p.pass_intro()
    s.tap('Digit1', modifiers=('ctrl',))
    p.quiet('Ctrl+1')
    first, _ = p.play_to_ending()
    if layouts:
        s.tap('KeyQ', key='a')
        p.quiet('the key that types a, where Q sits on a US board')
    p.end_by_quit(send=lambda: s.tap('KeyA', key='q') if layouts else s.tap('KeyQ'))
    p.check(s.driver.execute_script("return !document.getElementById('game-over').hidden;"), 'no new game offered')
    # the next game seeds in a later second, so its order is a new one (a short run may end first)
    p.check(wait_until(lambda: time.time() >= int(seeded) + 1, 2), 'the clock stands still')
    c.d.new_game(by_enter=True)
    p.new_run()
    p.at_intro()
    p.pass_intro()
    second, _ = p.play_to_ending()
    p.check(second[:3] != first[:3], f'the new game plays the same order: {second[:3]}')
    p.end_by_quit(send=lambda: s.tap('KeyQ', key='й' if layouts else None))
    s.key_down('Enter')
    c.d.new_game()
    p.new_run()
    p.arrive('the first Event: ENTER held as the game started')
    s.key_up('Enter')


def page_fits(c):
    """The page loads everything from the site, under its sub-path; shows no touch keys without a
    touch screen; the size notice never appears; nothing goes wrong in the console; axe-core finds
    nothing in either view at the intro."""
    p = c.play()
    s = c.d.session
    p.at_intro()
    urls = s.driver.execute_script("return performance.getEntriesByType('resource').map((e) => e.name);")
    p.check(urls and all(u.startswith(s.url.split('?')[0]) for u in urls), f'loaded from elsewhere: {urls}')
    p.check(s.touch_key_centre('1') is None, 'touch keys without a touch screen')
    errors = [e for e in s.console() or () if e.get('level') == 'SEVERE']
    p.check(not errors, f'console errors: {errors}')
    for view in ('the page\'s own', 'the other'):  # page_controls' checks, in every engine
        found = s.axe()
        p.check(not found, f'the intro, {view} view: axe finds {found}')
        s.click('view-switch')


def lines_of(text):
    """A text's lines as the page shows and says them: right-trimmed, the blank ones left out."""
    return [line.rstrip() for line in text.split('\n') if line.strip()]


def event_said(p):
    return lines_of(p.event['prompt']) + [f'{i}){o["label"]}'.rstrip() for i, o in enumerate(p.event['options'])]


def outcome_said(p, option):
    chosen = p.event['options'][option]
    return lines_of(chosen['outcome']) + lines_of(p.m.effects_line(chosen))


def legible(p, what, fits=False):
    """The text view shows, its game text 16 CSS px or more, nothing wider than the screen, every
    button 44 CSS px or more each way, the touch keys over none of its lines or gauges; with fits,
    all its lines (its game keys among them) and the touch keys on the screen, unscrolled."""
    looks = p.d.session.looks()
    p.check(looks['shown'] == 'text' and looks['textPx'] >= 16 and not looks['sideways'] and looks['buttonPx'] >= 44,
            f'{what}: {looks}')
    width, height = looks['viewport']
    inside = lambda b: b and b[0] >= 0 and b[1] >= 0 and b[2] <= width + 0.5 and b[3] <= height + 0.5  # noqa: E731
    p.check(not fits or all(inside(b) for b in looks['lines'] + [looks['touchKeys']]),
            f'{what}: not all on the screen at once: {looks}')
    keys = looks['touchKeys']
    over = lambda b: b[0] < keys[2] - 0.5 and keys[0] < b[2] - 0.5 and b[1] < keys[3] - 0.5 and keys[1] < b[3] - 0.5  # noqa: E731
    p.check(not keys or not any(over(b) for b in looks['lines'] + looks['gauges']),
            f'{what}: the touch keys cover the text: {looks}')


def page_text_view(c):
    """On a phone held upright (390x844, by touch), on its side (844x390, by touch) and on a small
    one (320x568, by keys) the page shows its text view by itself, and a whole run plays to the end
    there, each screen of the text view held to the model, the gauges' meters included; the game's
    text is 16 CSS px or more, nothing is wider than the screen and the touch keys cover none of
    it; at 390x844 an Event's question, its answers and the touch keys are on the screen together.
    The live region says each new text once, politely, exactly as the model has it, in one node: the
    intro, each Event with its answers, each outcome with its effects line, the ending with its
    day count; on a phone through a restart and the next run's first turn, at 320x568 nothing more
    after Q."""
    for width, height, touch in ((390, 844, True), (844, 390, True), (320, 568, False)):
        size = f'{width}x{height}'
        p = c.play(touch=touch, read='text', device=(width, height, 3, True))
        said = [lines_of(p.m.intro_text)]
        p.at_intro()
        legible(p, f'{size}: the intro')
        p.pass_intro()
        for _ in p.m.events:
            said.append(event_said(p))
            legible(p, f'{size}: "{p.event["prompt"]}"', fits=height > width and touch)
            said.append(outcome_said(p, 2))
            p.choose(2)
            legible(p, f'{size}: the outcome of "{p.event["prompt"]}"')
            p.close_turn()
            if p.ended_run():
                break
        p.check(p.ended_run(), f'{size}: no ending after every Event')
        said.append(lines_of(p.m.endings[p.m.cause(p.values)][p.days]))
        legible(p, f'{size}: the ending')
        if touch:
            p.d.tap('enter')
            p.at_intro()
            said.append(lines_of(p.m.intro_text))
            p.new_run()
            p.pass_intro()
            option = p.safe(or_any=True)
            said += [event_said(p), outcome_said(p, option)]
            p.choose(option)
        else:
            p.end_by_quit()
        heard = c.d.session.heard()
        p.check([live for _, live in heard['regions']] == ['polite'] and heard['said'] == said,
                f'{size}: the live regions {heard["regions"]} said\n' +
                '\n'.join(map(str, heard['said'])) + '\nexpected\n' + '\n'.join(map(str, said)))


def page_views(c):
    """Which view shows: the terminal in a window where its text is 12 CSS px or more; the same
    window at 200% zoom (half the CSS size at twice the density) the text view, its game text at
    least twice as large on the screen as the terminal's at 100%; a phone held sideways or
    upright the text view. The switch chooses the other view for the device: chosen on an upright
    phone, the terminal stays through a reload, fits the phone's width with the touch keys under
    it and suggests turning the phone; switched back, the page chooses by itself again. A view
    chosen in another tab is followed at once."""
    p = c.play(touch=True, device=(1280, 800, 1, False))
    s = c.d.session

    def shows(view, what, width, height, density=1, mobile=False, chosen=None):
        if width:
            s.emulate(width, height, density, mobile)
            s.open()
        p.at_intro()
        p.expect(f'{what}: the {view} view', lambda: (s.view()['shown'], s.view()['chosen']) == (view, chosen),
                 detail=lambda: f': {s.view()}')
        looks = s.looks()
        p.check(looks['shown'] == view and not looks['sideways'] and looks['buttonPx'] >= 44, f'{what}: {looks}')
        return looks
    wide = shows('terminal', '1280x800', 1280, 800)
    p.check(wide['textPx'] >= 12, f'1280x800: the terminal\'s text is {wide["textPx"]:.1f} px')
    zoomed = shows('text', '1280x800 at 200%', 640, 400, 2)
    p.check(zoomed['textPx'] * 2 >= 2 * wide['textPx'],
            f'at 200% the game\'s text is {zoomed["textPx"] * 2:.1f} device px, at 100% {wide["textPx"]:.1f}')
    shows('text', 'a phone held sideways', 844, 390, 3, True)
    shows('text', 'a phone held upright', 390, 844, 3, True)
    s.click('view-switch')
    shows('terminal', 'the terminal chosen', None, None, chosen='terminal')
    looks = shows('terminal', 'the terminal chosen, after a reload', 390, 844, 3, True, chosen='terminal')
    screen, keys = looks['terminal'], looks['touchKeys']
    p.check(screen[0] >= 0 and screen[2] <= 390.5 and screen[3] - 0.5 <= keys[1] and keys[3] <= 844.5 and looks['hint'],
            f'the terminal on an upright phone: {looks}')
    s.click('view-switch')
    looks = shows('text', 'the text view chosen again', None, None)
    p.check(not looks['hint'], f'the text view suggests turning the phone: {looks}')
    # a view chosen in another tab of the site is followed here at once
    main = s.driver.current_window_handle
    s.driver.switch_to.new_window('tab')
    s.driver.get(s.url)
    s.wait_until(lambda page: page['state'] == 'running', 30, 'the page in the other tab')
    s.click('view-switch')
    there = s.view()['chosen']
    s.driver.close()
    s.driver.switch_to.window(main)
    p.expect('the view chosen in another tab', lambda: there is not None and s.view()['chosen'] == there,
             detail=lambda: f': {s.view()}, there {there}')


def page_controls(c):
    """Keyboard only: Tab reaches the view switch, the game's keys of the screen (shown over the
    terminal view while one has the focus) and, once the game is over, New game, and then leaves
    the page's controls; Shift+Tab goes back through them. ENTER and Space press the control with
    the focus and reach no game: the switch, an answer's button (which chooses it, and is then
    marked as chosen), New game (which hands the focus to the switch as it hides); ENTER on an
    answer already chosen, and the digits and Q anywhere, are the game's. At the intro, an Event,
    an outcome, the end screen and after Q, in either view: axe-core finds nothing against WCAG 2
    A and AA (nor its best practices), and the accessibility tree (where the engine lets it be
    read) holds each line of the game's text once, an answer twice (its line and its button; the
    terminal's rows are not in it)."""
    p = c.play()
    s = c.d.session

    def blur():
        s.driver.execute_script('document.activeElement.blur();')

    def tab(*stops, back=False):
        for stop in stops:
            s.tap('Tab', modifiers=('shift',) if back else ())
            p.expect(f'{"Shift+" if back else ""}Tab to {stop or "out of the page"}', lambda: s.focused() == stop,
                     detail=lambda: f': the focus on {s.focused()}')

    def audited(what):
        """axe and the tree on the view shown and, the switch pressed with Space, on the other,
        then back."""
        for _ in range(2):
            view = s.view()['shown']
            found = s.axe()
            p.check(not found, f'{what}, the {view} view: axe finds {found}')
            text = s.text_view()
            spoken = s.spoken() if 'accessibility_tree' in c.caps else None
            keys = [label for _, label, _, _ in text['keys']]
            effects = re.findall(r'\S.*?\s[+-]?\d+(?=\s|$)', text['effects'])  # each condition's change
            lines = [t for _, t in text['lines']] + effects + [g['text'] for g in text['gauges']]
            p.check(spoken is None or all(spoken.count(t) == 1 + (t in keys) for t in filter(None, lines)),
                    f'{what}, the {view} view: the accessibility tree holds {spoken}, the game\'s text {lines}')
            s.focus('view-switch')
            s.tap('Space')
            p.expect(f'{what}: Space on the switch', lambda: s.view()['shown'] != view)
            blur()
    p.at_intro()
    tab('view-switch', 'key-enter', None)
    tab('key-enter', 'view-switch', back=True)
    view = s.view()['shown']
    s.tap('Enter')
    p.expect('ENTER on the switch pressed it', lambda: s.view()['shown'] != view)
    p.quiet('ENTER on the switch')
    s.tap('Enter')
    p.expect('ENTER on the switch pressed it again', lambda: s.view()['shown'] == view)
    audited('the intro')
    p.pass_intro()
    audited('an Event')
    option = p.safe(or_any=True)
    s.focus(f'key-{option}')
    s.tap('Space')
    p.expect(f'Space on the button of Option {option}', p.turn(p.event, chosen=option))
    p.answered(option)
    keys = s.text_view()['keys']
    p.check([(k, chosen, off) for k, _, chosen, off in keys] ==
            [(str(i), i == option, True) for i in range(len(p.event['options']))] + [('enter', False, False)],
            f'the answer chosen by its button is not marked: {keys}')
    audited('an outcome')
    s.focus(f'key-{option}')
    p.close_turn()
    blur()
    if not p.ended_run():
        p.play_to_ending()
    audited('the end screen')
    p.end_by_quit()
    audited('after Q')
    tab('new-game', None)
    tab('new-game', 'view-switch', back=True)
    tab('new-game')
    games = s.page()['games']
    c.d.new_game(by_enter=True)
    p.new_run()
    p.at_intro()
    p.check(s.page()['games'] == games + 1, f'ENTER on New game started {s.page()["games"] - games} games')
    p.expect('the focus on the switch once New game hid', lambda: s.focused() == 'view-switch')


def page_heard(c):
    """A screen reader, Orca, hears a whole run in Chromium and in Firefox: each new screen said
    once, whole (one utterance) and in the model's order: each Event with its answers, each
    outcome with its effects line, the ending with its day count and prompt, the intro again after
    ENTER. In browse mode, a web page's default, where Orca takes the digits for its own keys,
    ENTER goes on and an answer is its button in the text view: Tab reaches it, ENTER presses it
    (and, on that answer chosen, closes the turn); the first two turns are played so, the rest in
    focus mode (Orca+A) by the game's own keys."""
    p = c.play()
    r, s = c.d.reader, c.d.session
    expected, said_at = [], [len(r.spoken())]  # said_at: where the first screen, then the next, is looked for
    words = lambda text: ' '.join(text.split())  # noqa: E731 (speech has no lines)

    def heard(lines, what):
        """Waits for the screen's text said after the last screen heard (the intro the page says
        as it loads, before the first Event, is no intro after ENTER)."""
        expected.append(words(' '.join(lines)))
        at = lambda: next((i for i, u in enumerate(r.spoken()) if i >= said_at[-1]  # noqa: E731
                           and words(u) == expected[-1]), None)
        p.expect(f'Orca says {what}', lambda: at() is not None, timeout=20,
                 detail=lambda: f'; it said {r.spoken()[said_at[0]:]}')
        said_at.append(at() + 1)

    def tab_to(key):
        for _ in range(12):
            if s.focused() == key:
                return
            before = s.focused()
            r.key('Tab')
            wait_until(lambda: s.focused() != before, 3)
        p.check(False, f'Tab never reached {key}: the focus is on {s.focused()}')
    p.at_intro()
    p.pass_intro()
    heard(event_said(p), f'"{p.event["prompt"]}"')
    for turn in range(TURNS):
        option = p.safe(or_any=True) if turn < 2 else 2  # 2 every turn ends a run
        if turn < 2:
            tab_to(f'key-{option}')
            r.key('Return')
            p.expect(f'browse mode: ENTER on the button of Option {option}', p.turn(p.event, chosen=option))
            p.answered(option)
        else:
            if turn == 2:
                r.key('Insert+a')
                p.expect('Orca in focus mode', lambda: 'Focus mode' in r.spoken()[said_at[0]:])
            p.choose(option)
        heard(outcome_said(p, option), f'the outcome of "{p.event["prompt"]}"')
        c.d.tap('enter')
        p.after_turn(f'turn {turn + 1}')
        if p.ended_run():
            break
        heard(event_said(p), f'"{p.event["prompt"]}"')
    heard(lines_of(p.m.endings[p.m.cause(p.values)][p.days]), 'the ending')
    c.d.tap('enter')
    p.at_intro()
    heard(lines_of(p.m.intro_text), 'the intro after ENTER')
    said = [words(u) for u in r.spoken()[said_at[1] - 1:]]
    p.check([u for u in said if u in expected] == expected,
            'Orca said these screens otherwise than once each, in order:\n' +
            '\n'.join(map(str, [u for u in said if u in expected])) + '\nexpected\n' + '\n'.join(map(str, expected)))


# Forced colours as the page shows them: the switch's mark (pressed and not), the chosen answer's
# button and another's, the terminal's cursor and its background, the terminal's edge.
FORCED_MARKS = """
    const style = (e, pseudo) => getComputedStyle(e, pseudo || null);
    const cursor = document.querySelector('#screen .xterm-cursor');
    const chosen = document.querySelector('#game-keys [aria-current="true"]');
    const other = document.querySelector('#game-keys [aria-disabled="true"]:not([aria-current])');
    return {mark: style(document.getElementById('view-switch'), '::before').backgroundColor,
            canvas: style(document.body).backgroundColor,
            chosen: chosen && style(chosen).backgroundColor, other: other && style(other).backgroundColor,
            cursor: cursor && style(cursor).backgroundColor,
            terminal: style(document.querySelector('#screen .xterm-viewport')).backgroundColor,
            edge: style(document.getElementById('screen-box')).outlineStyle};"""


def page_keys(c):
    """Played by clicks alone, in the text view: ENTER's button (which says what ENTER does: start,
    go on, play again), each answer's button, Q's; the chosen answer marked. A click on each touch
    key with no pointer (a screen reader's, a switch's) is one press. The gauges are coloured by how
    close each is to ending the run (Punchability's end is its top), and an answer's effects are
    kept whole per condition. In forced colours (where the engine can emulate them) the switch's
    mark, the chosen answer, the terminal's cursor and its edge still show."""
    p = c.play(query='?touch')
    s = c.d.session
    p.at_intro()
    s.click('view-switch')
    p.expect('the text view chosen', lambda: s.view()['shown'] == 'text')
    labels = lambda: {k: label for k, label, _, _ in s.text_view()['keys']}  # noqa: E731
    p.check(labels() == {'enter': 'ENTER: start'}, f'the intro\'s keys: {labels()}')
    s.click('key-enter')
    p.arrive('the first Event after a click on ENTER: start')
    p.check(labels() == {str(i): f'{i}){o["label"]}'.rstrip() for i, o in enumerate(p.event['options'])},
            f'the keys of "{p.event["prompt"]}": {labels()}')
    gauges = s.text_view()['gauges']
    ends_high = [g['optimum'] < g['low'] for g in gauges]
    p.check(ends_high == [False, False, False, True] and all(g['low'] < g['high'] for g in gauges),
            f'the gauges are not coloured by their ends: {gauges}')
    option = p.safe(or_any=True)
    s.click(f'key-{option}')
    p.expect(f'a click on Option {option}', p.turn(p.event, chosen=option))
    p.answered(option)
    p.check(labels().get('enter') == 'ENTER: go on' and
            [k for k, _, chosen, _ in s.text_view()['keys'] if chosen] == [str(option)],
            f'the outcome\'s keys: {s.text_view()["keys"]}')
    effects = s.driver.execute_script("""return [...document.querySelectorAll('#story .effect')].map((e) =>
        [e.textContent, getComputedStyle(e).whiteSpace]);""")
    chosen = p.event['options'][option]
    p.check(effects == [[f'{p.m.names[i]} {"+" if d > 0 else ""}{d}', 'nowrap'] for i, d in chosen['effects']],
            f'the effects of Option {option} are not kept whole: {effects}')
    if 'forced_colors' in c.caps:
        s.cdp('Emulation.setEmulatedMedia', features=[{'name': 'forced-colors', 'value': 'active'}])
        on = s.driver.execute_script(FORCED_MARKS)
        s.click('view-switch')
        off = s.driver.execute_script(FORCED_MARKS)
        s.click('view-switch')
        s.cdp('Emulation.setEmulatedMedia', features=[])
        p.check(on['mark'] != off['mark'] and on['chosen'] != on['other'] and on['cursor'] != on['terminal']
                and on['edge'] == 'solid', f'forced colours hide a mark: switch on {on}, off {off}')
    s.click('key-enter')
    p.after_turn('a click on ENTER: go on')
    for key in ('0', '1', '2'):  # the touch keys, clicked with no pointer
        if p.ended_run():
            break
        s.driver.execute_script('document.querySelector(`#touch-keys [data-key="${arguments[0]}"]`).click();', key)
        p.expect(f'a click on the touch key {key}', p.turn(p.event, chosen=int(key)))
        p.answered(int(key))
        s.driver.execute_script('document.querySelector(\'#touch-keys [data-key="enter"]\').click();')
        p.after_turn(f'a click on the touch key ENTER after {key}')
    while not p.ended_run():
        s.click('key-2')
        p.expect('a click on Option 2', p.turn(p.event, chosen=2))
        p.answered(2)
        s.click('key-enter')
        p.after_turn('a click on ENTER: go on')
    p.check(labels() == {'enter': 'ENTER: play again', 'q': 'Q: quit'}, f'the end screen\'s keys: {labels()}')
    p.end_by_quit(send=lambda: s.click('key-q'))


def page_errors(c):
    """What stops the game reaches the page, with a new game offered: an error the game reports
    (the page's terminal script missing), and a game that cannot load."""
    for blocked, words in (('*/xterm.*.js', 'bootcamp: this page cannot show a terminal'),
                           ('*/bootcamp.*.wasm', 'the game could not be loaded')):
        c.d.start(*c.m.layout, blocked=(blocked,))
        s = c.d.session
        page = s.wait_until(lambda page: page['state'] == 'error', 30, 'the error')
        shown = s.driver.execute_script("const e = document.getElementById('error'); return e.hidden ? '' : e.textContent;")
        check(words in page['error'] and words in shown, f'without {blocked} the page shows {shown!r}; {page}')
        check(s.driver.execute_script("return !document.getElementById('game-over').hidden;"),
              f'without {blocked} no new game is offered')
        c.d.close()


def lost_keyup(c):
    """A keyup that never comes (macOS sends none for a key released while Cmd is held): a keydown
    of a key held that is no repeat counts as released and pressed again, so an ENTER whose keyup
    was lost closes the turn; Meta coming up lets go of every key, so a digit held through it is
    up in the next Event."""
    p = c.play()
    s = c.d.session
    p.pass_intro()
    if 'raw_keys' in c.caps:
        s.raw_key('keyDown', 'Enter')
        p.quiet('ENTER down (its keyup will be lost) while a digit is awaited')
        p.choose(p.safe())
        s.raw_key('keyDown', 'Enter')
        p.after_turn('ENTER down again with no keyup between, no repeat')
        s.key_up('Enter')
    digit = p.safe(carried=True)
    p.press_digit(digit)
    s.key_down('MetaLeft')
    s.key_up('MetaLeft')
    p.d.tap('enter')
    p.after_turn('ENTER after Meta went up with a digit held')
    p.quiet('a digit held through Meta going up')
    p.d.release(str(digit))
    p.choose(digit)


def composition(c):
    """Keys of an input method's composition (keyCode 229) are no keys of the game's: a digit
    chooses nothing, and the Enter that ends a composition does not close the turn."""
    p = c.play()
    s = c.d.session
    p.pass_intro()
    s.raw_key('keyDown', 'Digit1', key='Process', key_code=229)
    s.raw_key('keyUp', 'Digit1')
    p.quiet('1 in a composition')
    p.choose(p.safe())
    s.raw_key('keyDown', 'Enter', key='Process', key_code=229)
    s.raw_key('keyUp', 'Enter')
    p.quiet('the Enter that ends a composition')
    p.close_turn()


def offline(c):
    """The page played once, at the root and under a sub-path, and on a host that redirects
    /index.html to /: its server stopped, the page loaded again plays to an Event. A site rebuilt
    with a changed game (a JS and a wasm of their own) is taken whole on a later visit, never an
    old bootcamp.js with a new bootcamp.wasm: not while the server has only half of it (the new
    set's service worker is not taken), and once it has all of it."""
    c.play(index_redirects=True)
    c.d.session.wait_until(lambda page: page['offline'], 30, 'the site kept for offline play')
    c.d.session.server_down()
    c.play(index_redirects=True).pass_intro()
    c.d.close()
    for sub_path in ('/', '/games/bootcamp/'):
        p = c.play(sub_path=sub_path)
        s = c.d.session
        s.wait_until(lambda page: page['offline'], 30, 'the site kept for offline play')
        s.server_down()
        p = c.play(sub_path=sub_path)
        p.pass_intro()
        s.server_up()
        new, half = rebuilt_sites(s.site, c.d.work)
        for folder, taken in ((half, False), (new, True)):
            s.serve(folder)
            deadline = time.monotonic() + 60
            while True:
                s.new_visit(wait=False)  # the old set's page gone: a new set waiting is taken
                p = c.play(sub_path=sub_path)
                game = s.driver.execute_script(GAME_LOADED)
                check(game[0] == game[1],
                      f'{sub_path}: the page runs bootcamp.js of build {game[0]} with bootcamp.wasm of build {game[1]}')
                # an update check, waited for (Chromium's own, after a navigation, comes later)
                pending = s.driver.execute_script(SET_PENDING)
                if game[0] == ('2' if taken else '1') and (taken or not pending):
                    break
                check(time.monotonic() < deadline, f'{sub_path}: the page kept build {game[0]}; serving {folder}')
            p.pass_intro()


# Which build of the game the page runs: its script's (bootcamp.js sets self.bootcampBuild in a
# build other than the first), and its wasm's, as the page gets it (from its service worker's set).
GAME_LOADED = """
    return fetch(window.bootcamp.wasm).then((r) => r.arrayBuffer()).then((bytes) => [
        self.bootcampBuild || '1',
        new TextDecoder('latin1').decode(bytes).includes('bootcamp-build-2') ? '2' : '1']);"""
# A newer set of the site on its way: its service worker installing after an update check.
SET_PENDING = """
    return navigator.serviceWorker.getRegistration().then(async (r) => {
        await r.update().catch(() => null);
        for (let i = 0; r.installing && i < 200; i += 1) await new Promise((done) => setTimeout(done, 50));
        return Boolean(r.installing || r.waiting);
    });"""


def rebuilt_sites(site, work):
    """The site rebuilt with a changed game: every file of the game marked as build 2 (the wasm
    with a custom section, the JS setting self.bootcampBuild), the site made again from its files
    as the build makes it (new names for the changed files, the page, the service worker); and
    that site half copied to the server over the old one: build 2's page, service worker and JS,
    without its wasm."""
    files, new, half = (os.path.join(work, name) for name in ('site-files', 'site-2', 'site-half'))
    for folder in (files, new, half):
        shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(files)
    for name in os.listdir(site):  # the site's files under their own names
        if name not in ('index.html', 'sw.js'):
            shutil.copy(os.path.join(site, name), os.path.join(files, re.sub(r'\.[0-9a-f]{16}\.', '.', name)))
    with open(os.path.join(files, 'bootcamp.wasm'), 'ab') as f:
        name, payload = b'bootcamp-build', b'bootcamp-build-2'
        body = bytes([len(name)]) + name + payload
        f.write(bytes([0, len(body)]) + body)  # a custom section (id 0), its size in one LEB128 byte
    with open(os.path.join(files, 'bootcamp.js'), 'a') as f:
        f.write("\nself.bootcampBuild = '2';\n")
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'web')
    subprocess.run(['cmake', f'-DFILES={files}', f'-DSITE={new}', f'-DWEB={source}', '-DPROJECT_VERSION=2', '-P',
                    os.path.join(source, 'stamp_site.cmake')], check=True, timeout=60)
    shutil.copytree(site, half)
    for name in os.listdir(new):
        if not name.startswith('bootcamp.') or not name.endswith('.wasm'):
            shutil.copy(os.path.join(new, name), os.path.join(half, name))
    return new, half


def installable(c):
    """Chromium finds the page installable (its manifest, icons and service worker)."""
    c.play()
    s = c.d.session
    s.wait_until(lambda page: page['offline'], 30, 'the site kept for offline play')
    errors = s.cdp('Page.getInstallabilityErrors').get('installabilityErrors')
    check(errors == [], f'Chromium finds the page not installable: {errors}')


def touch_cancel(c):
    """A touch key is down while its finger holds it: a digit held through ENTER answers the next
    Event at once; once the browser cancels the touches it is up, and the Event after waits. The
    mouse holds a touch key as a finger does."""
    p = c.play()
    p.pass_intro()
    p.digit_held_through_enter()
    c.d.session.pointer_cancel()
    p.close_turn()
    p.quiet('the digit let go by the cancel')
    p = c.play(query='?touch')
    s = c.d.session
    s.pointer_down('ENTER', by='mouse')
    p.arrive('the first Event: ENTER held by the mouse')
    s.pointer_up('ENTER', by='mouse')
    s.pointer_down('0', by='mouse')
    p.expect('0 held by the mouse', p.turn(p.event, chosen=0))


# ---- the table: every scenario, and what a driver must be able to do to play it -------------

TABLE = [
    (run_restart_quit, set()),
    (stale_keys_pass_by, set()),
    (ctrl_c, {'terminal'}),
    (too_small, {'resize'}),
    (typed_ahead, {'layout'}),
    (held_enter, {'releases'}),
    (held_digit, {'releases'}),
    (two_digits, {'releases'}),
    (repeats, {'releases', 'repeat'}),
    (held_key_repeats, {'autorepeat'}),
    (focus_away_while_held, {'releases', 'focus'}),
    (keypad, {'keypad'}),
    (suspend, {'jobs'}),
    (releases_after_ctrl_z, {'jobs', 'releases', 'bytes'}),
    (stop_and_continue, {'signals', 'scribble'}),
    (resize, {'resize', 'scribble'}),
    (resize_in_outcome, {'resize'}),
    (smallest_terminal, {'resize'}),
    (windows_players_open, {'terminal'}),
    (stacked_for_a_screen_reader, {'args'}),
    (signals, {'signals', 'bytes'}),
    (terminal_gone, {'bytes'}),
    (typed_while_stopped, {'signals', 'bytes'}),
    (protocol, {'bytes'}),
    (late_reply, {'bytes', 'releases', 'jobs'}),
    (partial_flags, {'bytes', 'releases'}),
    (paste_and_layouts, {'bytes', 'releases'}),
    (numlock_mode, {'bytes', 'legacy'}),
    (legacy_bytes, {'bytes', 'legacy'}),
    (not_a_terminal, {'no_terminal'}),
    (latency, {'bytes', 'releases'}),
    (xterm_numlock_mode, {'numlock_mode'}),
    (page_new_game, {'page', 'keyboard'}),    # the page's scenarios: once, with the keyboard
    (page_fits, {'page', 'keyboard'}),
    (page_text_view, {'page', 'keyboard', 'phone'}),
    (page_views, {'page', 'keyboard', 'phone'}),
    (page_controls, {'page', 'keyboard', 'key_activation', 'tab_out'}),
    (page_keys, {'page', 'keyboard'}),
    (page_errors, {'page', 'keyboard'}),
    (page_heard, {'page', 'screen_reader'}),
    (lost_keyup, {'page', 'keyboard', 'releases'}),
    (composition, {'page', 'raw_keys'}),
    (offline, {'page', 'offline'}),
    (installable, {'page', 'installable'}),
    (touch_cancel, {'touch'}),
    (quit_at_notice, {'terminal'}),    # last: a window of another size
]
