"""What the game shows, step by step: one expectation that every driver compares against.

The texts come from the game itself (tools/catalog_model.cpp writes them as JSON); where they
stand on the screen is this model's own knowledge of the layout: the prompt on row 2, the Options
on rows 4 to 6, the outcome from row 8, the effects line on row 10 from column 81, the panel in
rows 1 to 9, columns 81 to 102. A screen is a list of rows of text (0-based here) and a cursor.

In a window too small for that layout the game lays the same screen out to fit; which way, and in
how many rows, the game says (the model tool's "windows"). There a screen is held to what a
player sees, not to cells: every text of the layout whole (wrapped at blanks where the window is
narrower than it) and in reading order, the effects line after the outcome, the panel whole beside
the Event or under every text, nothing else on the screen, the cursor on the chosen answer.
"""
import json
import re
import subprocess
import tempfile

PANEL_COL = 80          # the panel's and the effects line's first column, 0-based
EFFECTS_ROW = 9


class Screen:
    """What a terminal shows: rows of text (right-trimmed) and the cursor (row, column), 0-based."""

    def __init__(self, rows, cursor=None, texts=(), absent=(), fit=None):
        self.rows = [r.rstrip() for r in rows]
        self.cursor = cursor
        # laid out to fit a window ('beside' or 'stacked'): these rows are the game's own layout
        self.fit = fit
        # for a terminal that does not carry out the layout: texts that must be on the screen
        # somewhere, and texts that must not
        self.texts, self.absent = [t for t in texts if t], list(absent)

    def text(self, row, col=0, end=None):
        return self.rows[row][col:end].rstrip() if row < len(self.rows) else ''

    def __str__(self):
        shown = [f'{i + 1:2}|{r}' for i, r in enumerate(self.rows)]
        while shown and shown[-1].endswith('|'):
            shown.pop()
        return '\n'.join(shown) + f'\n  cursor {self.cursor}'


class Canvas:
    """A blank terminal to write the expected texts on."""

    def __init__(self, cols, rows):
        self.cols, self.cells = cols, [[' '] * cols for _ in range(rows)]
        self.cursor = (0, 0)

    def write(self, text, row=None, col=None):
        """Writes at the position (or on from the cursor) as a terminal does: "\\n" starts the
        next row at column 1, a full row wraps."""
        r, c = self.cursor if row is None else (row, col)
        base = 0 if row is None else col
        for ch in text:
            if ch == '\n':
                r, c = r + 1, base
                continue
            if c >= self.cols:
                r, c = r + 1, 0
            if r < len(self.cells):
                self.cells[r][c] = ch
            c += 1
        self.cursor = (r, c)
        return self

    def screen(self, cursor='here', texts=None, absent=()):
        """The screen written; the cursor where the writing left it, as given, or None: any."""
        rows = [''.join(r) for r in self.cells]
        return Screen(rows, self.cursor if cursor == 'here' else cursor,
                      [r.strip() for r in rows] if texts is None else texts, absent)


def read_in_order(rows, beside):
    """A laid-out screen's text as a player reads it: row after row, the panel beside left out."""
    return '\n'.join((r[:PANEL_COL] if beside else r).rstrip() for r in rows)


def found_wrapped(read, text, start=0):
    """Where `text` begins in `read` from `start` on, each of its blanks a blank or a row break."""
    pattern = re.escape(text).replace(r'\ ', '[ \n]')
    match = re.compile(pattern).search(read, start)
    return match.span() if match else None


class Model:
    def __init__(self, data):
        self.layout = tuple(data['layout'])
        self.windows = data['windows']
        self.names, self.start = data['names'], tuple(data['start'])
        self.intro_text, self.endings, self.notice_text = data['intro'], data['endings'], data['size_notice']
        self.events = data['events']
        self.by_prompt = {e['prompt']: e for e in self.events}

    @classmethod
    def from_tool(cls, command):
        """Runs the model tool (a command line: the tool, or an emulator and the tool)."""
        with tempfile.TemporaryDirectory(prefix='bootcamp-model.') as work:
            subprocess.run(list(command) + ['model.json'], cwd=work, check=True, timeout=120,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
            with open(f'{work}/model.json') as f:
                return cls(json.load(f))

    # ---- the rules -------------------------------------------------------------------------
    @staticmethod
    def apply(values, option):
        """The conditions after an Option: each pair clamped on its own, in list order."""
        values = list(values)
        for index, delta in option['effects']:
            values[index] = max(0, values[index] + delta) if delta < 0 else min(100, values[index] + delta)
        return tuple(values)

    @staticmethod
    def cause(values):
        """The ending whose test holds first (Health 0, Sanity 0, Reputation 0, Punchability
        100), or None."""
        for index, bound in enumerate((0, 0, 0, 100)):
            if values[index] == bound:
                return index
        return None

    def effects_line(self, option):
        return ''.join(f'{self.names[i]} {"+" if d > 0 else ""}{d} ' for i, d in option['effects'])

    # ---- screens ---------------------------------------------------------------------------
    def intro(self, cols, rows):
        return Canvas(cols, rows).write(self.intro_text, 0, 0).screen()

    def ending(self, cause, days, cols, rows):
        return Canvas(cols, rows).write(self.endings[cause][days], 0, 0).screen()

    def notice(self, cols, rows, stacked=False):
        table = self.windows['stacked' if stacked else 'fitted']['notice']
        needed = table[min(cols, len(table) - 1)]
        text = self.notice_text.replace('{columns}', str(cols)).replace('{rows}', str(rows))
        text = text.replace('{needed_columns}', str(needed[0])).replace('{needed_rows}', str(needed[1]))
        return Canvas(cols, rows).write(text, 0, 0).screen(texts=[text.replace('\n', '')])

    # ---- windows ---------------------------------------------------------------------------
    def arrangement(self, cols, rows, stacked=False):
        """How the game places its screen in a window: 'as_drawn', 'beside', 'stacked', or None
        where nothing fits (the notice)."""
        if not stacked:
            if cols >= self.layout[0] and rows >= self.layout[1]:
                return 'as_drawn'
            if cols >= self.windows['beside'][0] and rows >= self.windows['beside'][1]:
                return 'beside'
        needed = self.stacked_rows(cols)
        return 'stacked' if needed and rows >= needed else None

    def stacked_rows(self, cols):
        table = self.windows['stacked']['rows']
        return table[min(cols, len(table) - 1)]

    def rows_taken(self, cols, rows, stacked=False):
        """The window's rows the game's screen takes: cut short, the cursor goes under them."""
        fit = self.arrangement(cols, rows, stacked)
        return {'beside': self.windows['beside'][1], 'stacked': self.stacked_rows(cols)}.get(fit, self.layout[1])

    def placed(self, window, want):
        """The window shows `want` (a screen of the game's own layout) laid out to fit, as a player
        reads it: see the module's text. Returns what is wrong, or None."""
        rows, beside = want.rows + [''] * self.layout[1], want.fit == 'beside'
        side = lambda r: rows[r][:PANEL_COL].strip()  # noqa: E731
        texts = [side(r) for r in range(self.layout[1])] + [rows[EFFECTS_ROW][PANEL_COL:].strip()]
        read = read_in_order(window.rows, beside)
        at, last = 0, 0
        for text in filter(None, texts):
            span = found_wrapped(read, text, at)
            if not span:
                return f'"{text}" is not whole after the texts before it'
            at, last = span[1], read.count('\n', 0, span[1])
        panel = [r[PANEL_COL:PANEL_COL + 22].rstrip() for r in rows[:EFFECTS_ROW]]
        if any(panel):
            def whole(top, col):
                return all(top + i < len(window.rows) and window.rows[top + i][col:col + 22].rstrip() == line
                           for i, line in enumerate(panel))
            places = ([(0, col) for col in range(PANEL_COL, self.layout[0])] if beside else
                      [(top, 0) for top in range(last + 2, len(window.rows))])
            if not any(whole(top, col) for top, col in places):
                return 'the panel is not whole ' + ('beside the Event' if beside else 'under every text')
        count = lambda rs: sum(len(r.replace(' ', '')) for r in rs)  # noqa: E731
        if count(window.rows) != count(want.rows):
            return f'{count(window.rows)} characters on the screen, not {count(want.rows)}'
        if want.cursor and window.cursor and want.cursor[1] == 0:
            chosen = f'{want.cursor[0] - 3})'
            y, x = window.cursor
            if rows[want.cursor[0]].startswith(chosen) and not window.rows[y][x:].startswith(chosen):
                return f'the cursor is at {window.cursor}, not on answer {chosen}'
        return None

    def panel(self, canvas, values):
        canvas.write('Conditions', 0, PANEL_COL + (22 - len('Conditions')) // 2)
        for i, (name, value) in enumerate(zip(self.names, values)):
            canvas.write(f'{name}: {value}', 1 + 2 * i, PANEL_COL)
            canvas.write('[' + '=' * (value // 5) + ' ' * (20 - value // 5) + ']', 2 + 2 * i, PANEL_COL)

    def turn(self, event, values, cols, rows, chosen=None):
        """An Event on screen with the panel at `values`; waiting for a digit, or with Option
        `chosen` answered (outcome, effects line, the cursor on its line, the panel as before)."""
        canvas = Canvas(cols, rows)
        self.panel(canvas, values)
        canvas.write(event['prompt'], 1, 0)
        for i, option in enumerate(event['options']):
            canvas.write(f'{i}){option["label"]}', 3 + i, 0)
        waiting = canvas.cursor
        if chosen is None:
            return canvas.screen(waiting, [event['prompt']],
                                 [self.effects_line(o).strip() for o in event['options']])
        option = event['options'][chosen]
        canvas.write(option['outcome'], len(event['options']) + 4, 0)
        canvas.write(self.effects_line(option), EFFECTS_ROW, PANEL_COL)
        # where the layout is not carried out, the prompt and the effects line stay whole
        return canvas.screen((3 + chosen, 0), [event['prompt'], self.effects_line(option).strip()])

    def blank(self, cols, rows, cursor=None):
        return Canvas(cols, rows).screen(cursor)
