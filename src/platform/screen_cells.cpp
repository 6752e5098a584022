// The game's screen as cells: the few things the game writes, carried out as a terminal would.
#include "platform/screen_cells.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace {
constexpr char esc = '\x1b';
// A blank gap longer than this is crossed with a cursor move instead of written out.
constexpr std::size_t longestWrittenGap = 8;

std::string cursorTo(int y, int x) { return "\x1b[" + std::to_string(y + 1) + ";" + std::to_string(x + 1) + "H"; }

// A decimal parameter of a cursor move; absent or 0 means 1, as for a terminal.
int parameter(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < 1) return 1;
    return value;
}

// The runs of text on a row of `size` cells, each [start, end): cells that `held` says hold text,
// across gaps of blanks short enough to write out.
template <class Held>
std::vector<std::pair<std::size_t, std::size_t>> textRuns(std::size_t size, Held held) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    std::size_t x = 0;
    while (x < size && !held(x)) ++x;
    while (x < size) {
        std::size_t end = x;
        std::size_t next = x;
        while (next < size && next - end <= longestWrittenGap) {
            if (held(next)) end = next + 1;
            ++next;
        }
        while (next < size && !held(next)) ++next;
        runs.emplace_back(x, end);
        x = next;
    }
    return runs;
}
}  // namespace

std::string drawCells(const Cells* shown, const Cells& wanted) {
    const auto isBlank = [](const std::string& row) { return row.find_first_not_of(' ') == std::string::npos; };
    // an empty screen is an erase, whatever was there
    const bool blank = std::all_of(wanted.rows.begin(), wanted.rows.end(), isBlank);
    const bool known = shown != nullptr && shown->rows.size() == wanted.rows.size() && (!blank || *shown == wanted);
    const auto before = [&](std::size_t y) {
        const std::string& row = wanted.rows[y];
        return known && shown->rows[y].size() == row.size() ? shown->rows[y] : std::string(row.size(), ' ');
    };
    const auto changed = [&](std::size_t y) { return before(y) != wanted.rows[y]; };
    // The rows from the first that changed to the last, one under the other with the terminal's
    // own line breaks; in each, every text that changed written whole (a text: a run of cells
    // that hold text, old or new, across gaps of a few blanks), long blank gaps and unchanged
    // texts crossed with a cursor move. A reader of changed rows meets whole texts, and a console
    // that keeps the lines it is given itself (wine's, which counts escape sequences as cells and
    // breaks its lines where they fill) breaks none of them: a change starts on a line of its own,
    // and a screen drawn anew is drawn from the top-left corner down.
    std::size_t first = 0;
    while (known && first < wanted.rows.size() && !changed(first)) ++first;
    std::size_t last = wanted.rows.size();
    while (last > first && !changed(last - 1)) --last;
    std::string out = known ? "" : "\x1b[2J";
    for (std::size_t y = first; y < last; ++y) {
        if (y > first) {
            out += '\n';
        } else if (known) {
            // a line break where it scrolls nothing, then the cursor to the first change
            if (static_cast<std::size_t>(shown->cursor.rows) + 1 < wanted.rows.size()) out += '\n';
            out += cursorTo(static_cast<int>(y), 0);
        } else {
            out += "\x1b[1;1H";
        }
        const std::string& row = wanted.rows[y];
        const std::string old = before(y);
        const auto held = [&](std::size_t x) { return row[x] != ' ' || old[x] != ' '; };
        std::size_t at = 0;  // where the terminal's cursor is on the row
        for (const auto& [x, end] : textRuns(row.size(), held)) {
            if (row.compare(x, end - x, old, x, end - x) == 0) continue;
            const bool gap = x - at <= longestWrittenGap && row.compare(at, x - at, old, at, x - at) == 0 &&
                             row.find_first_not_of(' ', at) >= x;
            out += gap ? std::string(x - at, ' ') : cursorTo(static_cast<int>(y), static_cast<int>(x));
            out.append(row, x, end - x);
            at = end;
        }
    }
    if (!known || first < last || shown->cursor != wanted.cursor) {
        out += cursorTo(wanted.cursor.rows, wanted.cursor.columns);
    }
    return out;
}

ScreenCells::ScreenCells(ScreenSize size)
    : size(size), rows(static_cast<std::size_t>(std::max(size.rows, 1)), std::string(std::max(size.columns, 1), ' ')) {
    this->size = {static_cast<int>(rows.front().size()), static_cast<int>(rows.size())};
}

void ScreenCells::write(std::string_view bytes) {
    for (const char byte : bytes) put(byte);
}

void ScreenCells::put(char byte) {
    const auto code = static_cast<unsigned char>(byte);
    if (inSequence) {
        // ESC and one byte, or longer than anything the game writes: nothing the screen keeps
        if ((sequence.empty() && byte != '[') || sequence.size() > 32) {
            inSequence = false;
        } else if (code >= 0x40 && code <= 0x7e && !sequence.empty()) {
            inSequence = false;
            finishSequence(byte);
        } else {
            sequence.push_back(byte);
        }
        return;
    }
    if (byte == esc) {
        inSequence = true;
        sequence.clear();
    } else if (byte == '\n') {
        column = 0;
        if (line + 1 < size.rows) {
            ++line;
        } else {
            rows.erase(rows.begin());
            rows.emplace_back(static_cast<std::size_t>(size.columns), ' ');
        }
    } else if (byte == '\r') {
        column = 0;
    } else if (code >= 0x20 && code != 0x7f) {
        if (column < size.columns) rows[static_cast<std::size_t>(line)][static_cast<std::size_t>(column)] = byte;
        if (column < size.columns) ++column;
    }
}

void ScreenCells::finishSequence(char final) {
    const std::string_view body = std::string_view(sequence).substr(1);  // after the '['
    if (final == 'J' && body == "2") {
        for (std::string& row : rows) std::fill(row.begin(), row.end(), ' ');
    } else if (final == 'H' || final == 'f') {
        const std::size_t split = body.find(';');
        const int y = parameter(body.substr(0, split));
        const int x = split == std::string_view::npos ? 1 : parameter(body.substr(split + 1));
        line = std::min(y, size.rows) - 1;
        column = std::min(x, size.columns) - 1;
    }
}

std::string ScreenCells::redraw() const {
    std::string out = "\x1b[2J";
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const std::string& row = rows[y];
        for (const auto& [x, end] : textRuns(row.size(), [&](std::size_t at) { return row[at] != ' '; })) {
            out += cursorTo(static_cast<int>(y), static_cast<int>(x));
            out.append(row, x, end - x);
        }
    }
    out += cursorTo(line, std::min(column, size.columns - 1));
    return out;
}

Cells ScreenCells::cells() const { return {rows, {std::min(column, size.columns - 1), line}}; }

std::string ScreenCells::row(int y) const { return rows.at(static_cast<std::size_t>(y)); }
