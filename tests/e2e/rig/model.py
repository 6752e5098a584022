"""What the game shows, step by step: one expectation that every driver compares against.

The texts come from the game itself (tools/catalog_model.cpp writes them as JSON); where they
stand on the screen is this model's own knowledge of the layout: the prompt on row 2, the Options
on rows 4 to 6, the outcome from row 8, the effects line on row 10 from column 81, the panel in
rows 1 to 9, columns 81 to 102. A screen is a list of rows of text (0-based here) and a cursor.
"""
import json
import subprocess
import tempfile

PANEL_COL = 80          # the panel's and the effects line's first column, 0-based
EFFECTS_ROW = 9


class Screen:
    """What a terminal shows: rows of text (right-trimmed) and the cursor (row, column), 0-based."""

    def __init__(self, rows, cursor=None, texts=(), absent=()):
        self.rows = [r.rstrip() for r in rows]
        self.cursor = cursor
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


class Model:
    def __init__(self, data):
        self.layout = tuple(data['layout'])
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

    def notice(self, cols, rows):
        text = self.notice_text.replace('{columns}', str(cols)).replace('{rows}', str(rows))
        return Canvas(cols, rows).write(text, 0, 0).screen(texts=[text.replace('\n', '')])

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
