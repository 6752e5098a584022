// The game's screen as cells: the few things the game writes, carried out as a terminal would.
#include "platform/screen_cells.h"

#include <algorithm>
#include <charconv>

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
}  // namespace

std::string drawCells(const Cells* shown, const Cells& wanted) {
    const bool blank = std::all_of(wanted.rows.begin(), wanted.rows.end(), [](const std::string& row) {
        return row.find_first_not_of(' ') == std::string::npos;
    });
    // an empty screen is an erase, whatever was there
    const bool known = shown != nullptr && shown->rows.size() == wanted.rows.size() && (!blank || *shown == wanted);
    std::string out = known ? "" : "\x1b[2J";
    for (std::size_t y = 0; y < wanted.rows.size(); ++y) {
        const std::string& row = wanted.rows[y];
        const std::string blank(row.size(), ' ');
        const std::string& before = known && shown->rows[y].size() == row.size() ? shown->rows[y] : blank;
        const auto differs = [&](std::size_t x) { return row[x] != before[x]; };
        std::size_t x = 0;
        while (x < row.size() && !differs(x)) ++x;
        while (x < row.size()) {
            // one run from x to `last`, across unchanged gaps short enough to write over
            std::size_t last = x + 1;
            std::size_t next = last;
            for (;;) {
                while (next < row.size() && !differs(next)) ++next;
                if (next == row.size() || next - last > longestWrittenGap) break;
                last = ++next;
            }
            out += cursorTo(static_cast<int>(y), static_cast<int>(x));
            out.append(row, x, last - x);
            x = next;
        }
    }
    if (!known || !out.empty() || shown->cursor != wanted.cursor)
        out += cursorTo(wanted.cursor.rows, wanted.cursor.columns);
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

Cells ScreenCells::cells() const { return {rows, {std::min(column, size.columns - 1), line}}; }

std::string ScreenCells::row(int y) const { return rows.at(static_cast<std::size_t>(y)); }
