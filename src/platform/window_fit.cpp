// The game's screen placed in the window at hand: which arrangement fits, the rows it needs, and
// the window's cells laid out from the screen's.
#include "platform/window_fit.h"

#include <algorithm>
#include <string>

namespace {
bool isNumberAt(std::string_view line, std::size_t at) {
    const auto digit = [&](std::size_t i) { return i < line.size() && line[i] >= '0' && line[i] <= '9'; };
    return digit(at) || ((line[at] == '+' || line[at] == '-') && digit(at + 1));
}

std::string_view trimmedRight(std::string_view text) {
    const std::size_t end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

int wrappedRows(std::string_view line, int width) {
    return static_cast<int>(wrapLine(trimmedRight(line), width).size());
}

// The rows the Event's side takes at most when its lines are wrapped to `width`: each row as tall
// as its tallest text. A layout that does not say what it writes may fill every row with a line
// as wide as the side.
int sideRowsAt(const ScreenLayout& layout, int width) {
    if (layout.sideRows.empty()) return layout.size.rows * ((layout.panelColumn + width - 1) / width);
    int rows = 0;
    for (const std::vector<std::string>& texts : layout.sideRows) {
        int tallest = 1;
        for (const std::string& text : texts) tallest = std::max(tallest, wrappedRows(text, width));
        rows += tallest;
    }
    return rows;
}

int effectsRowsAt(const ScreenLayout& layout, int width) {
    int tallest = 1;
    for (const std::string& line : layout.effectsLines) tallest = std::max(tallest, wrappedRows(line, width));
    return tallest;
}

// The side's text, a blank row, the effects line: what goes above the panel, or beside it.
int textRowsAt(const ScreenLayout& layout, int sideWidth, int effectsWidth) {
    return sideRowsAt(layout, sideWidth) + 1 + effectsRowsAt(layout, effectsWidth);
}

std::optional<int> besideRows(const ScreenLayout& layout, int columns) {
    if (columns < layout.panelColumn + layout.panelColumns) return std::nullopt;
    return std::max(layout.effectsRow, textRowsAt(layout, layout.panelColumn, layout.panelColumn));
}

// Stacked: the panel's first row, a blank row under the effects line.
std::optional<int> stackedPanelRow(const ScreenLayout& layout, int columns) {
    if (columns < narrowestColumns(layout)) return std::nullopt;
    return textRowsAt(layout, std::min(columns, layout.panelColumn), columns) + 1;
}

void put(Cells& window, int row, int column, std::string_view text) {
    if (row < 0 || row >= static_cast<int>(window.rows.size())) return;
    std::string& cells = window.rows[static_cast<std::size_t>(row)];
    for (std::size_t i = 0; i < text.size() && column + static_cast<int>(i) < static_cast<int>(cells.size()); ++i) {
        cells[static_cast<std::size_t>(column) + i] = text[i];
    }
}

// A text placed from a row in wrapped pieces; where each piece went, to place the cursor by.
struct Placed {
    int row = 0;
    std::vector<Piece> pieces;
};

Placed place(Cells& window, int row, std::string_view text, int width) {
    Placed placed{row, wrapLine(text, width)};
    for (const Piece& piece : placed.pieces) put(window, row++, 0, text.substr(piece.begin, piece.end - piece.begin));
    return placed;
}

// Where the character at `x` of a placed text went.
ScreenSize spot(const Placed& placed, int x) {
    const auto at = static_cast<std::size_t>(std::max(x, 0));
    std::size_t i = 0;
    while (i + 1 < placed.pieces.size() && at >= placed.pieces[i].end) ++i;
    const auto column = static_cast<int>(at) - static_cast<int>(placed.pieces[i].begin);
    return {std::max(column, 0), placed.row + static_cast<int>(i)};
}
}  // namespace

std::vector<Piece> wrapLine(std::string_view line, int width) {
    const std::size_t room = static_cast<std::size_t>(std::max(width, 1));
    std::vector<Piece> pieces;
    std::size_t begin = 0;
    while (line.size() - begin > room) {
        // the last blank that ends a piece which fits; one before a number only if nothing else
        std::size_t cut = std::string_view::npos;
        std::size_t beforeNumber = std::string_view::npos;
        for (std::size_t blank = begin + room; blank > begin && cut == std::string_view::npos; --blank) {
            if (line[blank] != ' ' || line[blank - 1] == ' ') continue;
            const std::size_t next = line.find_first_not_of(' ', blank);
            if (next != std::string_view::npos && isNumberAt(line, next)) {
                if (beforeNumber == std::string_view::npos) beforeNumber = blank;
            } else {
                cut = blank;
            }
        }
        if (cut == std::string_view::npos) cut = beforeNumber;
        if (cut == std::string_view::npos) cut = begin + room;  // one word wider than the window
        pieces.push_back({begin, cut});
        begin = line.find_first_not_of(' ', cut);
        if (begin == std::string_view::npos) return pieces;
    }
    pieces.push_back({begin, line.size()});
    return pieces;
}

int narrowestColumns(const ScreenLayout& layout) { return std::max(layout.panelColumns, layout.panelColumn / 2); }

std::optional<int> rowsNeeded(const ScreenLayout& layout, int columns, LayoutChoice choice) {
    std::optional<int> fewest;
    const auto take = [&](std::optional<int> rows) {
        if (rows && (!fewest || *rows < *fewest)) fewest = rows;
    };
    if (choice == LayoutChoice::fitted) {
        if (columns >= layout.size.columns) take(layout.size.rows);
        take(besideRows(layout, columns));
    }
    if (const std::optional<int> panelRow = stackedPanelRow(layout, columns)) take(*panelRow + layout.effectsRow);
    return fewest;
}

WindowsThatPlay windowsThatPlay(const ScreenLayout& layout) {
    const auto at = [&](int columns) {
        return ScreenSize{columns, rowsNeeded(layout, columns, LayoutChoice::fitted).value_or(0)};
    };
    return {layout.size, at(layout.panelColumn), at(narrowestColumns(layout))};
}

ScreenSize smallestWindow(const ScreenLayout& layout, ScreenSize window, LayoutChoice choice) {
    const int narrowest = narrowestColumns(layout);
    int columns = std::max(window.columns, narrowest);
    const int rows = rowsNeeded(layout, columns, choice).value_or(0);
    while (columns > narrowest && rowsNeeded(layout, columns - 1, choice) == rows) --columns;
    return {columns, rows};
}

std::optional<WindowPlan> planWindow(const ScreenLayout& layout, ScreenSize window, LayoutChoice choice) {
    if (choice == LayoutChoice::fitted) {
        if (window.columns >= layout.size.columns && window.rows >= layout.size.rows) {
            return WindowPlan{Arrangement::asDrawn, window, 0, layout.size.rows};
        }
        if (const std::optional<int> rows = besideRows(layout, window.columns); rows && window.rows >= *rows) {
            return WindowPlan{Arrangement::beside, window, 0, *rows};
        }
    }
    if (const std::optional<int> panelRow = stackedPanelRow(layout, window.columns)) {
        const int rows = *panelRow + layout.effectsRow;
        if (window.rows >= rows) return WindowPlan{Arrangement::stacked, window, *panelRow, rows};
    }
    return std::nullopt;
}

Cells fitScreen(const Cells& screen, const ScreenLayout& layout, const WindowPlan& plan) {
    const ScreenSize window = plan.window;
    Cells out{std::vector<std::string>(static_cast<std::size_t>(window.rows),
                                       std::string(static_cast<std::size_t>(window.columns), ' ')),
              {0, 0}};
    const auto clamped = [&](ScreenSize at) {
        return ScreenSize{std::clamp(at.columns, 0, window.columns - 1), std::clamp(at.rows, 0, window.rows - 1)};
    };
    const auto rowOf = [&](int y) {
        return y < static_cast<int>(screen.rows.size()) ? std::string_view(screen.rows[static_cast<std::size_t>(y)])
                                                        : std::string_view{};
    };
    if (plan.arrangement == Arrangement::asDrawn) {
        for (int y = 0; y < window.rows; ++y) put(out, y, 0, rowOf(y));
        out.cursor = clamped(screen.cursor);
        return out;
    }
    const bool beside = plan.arrangement == Arrangement::beside;
    const int sideWidth = beside ? layout.panelColumn : std::min(window.columns, layout.panelColumn);
    const auto panel = static_cast<std::size_t>(layout.panelColumn);
    const auto sideOf = [&](int y) { return trimmedRight(rowOf(y).substr(0, std::min(panel, rowOf(y).size()))); };
    const auto rightOf = [&](int y, std::size_t width) {
        const std::string_view row = rowOf(y);
        return row.size() > panel ? row.substr(panel, width) : std::string_view{};
    };

    // The Event's side, its rows flowed down to the last that holds text, each wrapped.
    int last = -1;
    for (int y = 0; y < static_cast<int>(screen.rows.size()); ++y) {
        if (!sideOf(y).empty()) last = y;
    }
    std::vector<Placed> side;
    int row = 0;
    for (int y = 0; y <= last; ++y) {
        side.push_back(place(out, row, sideOf(y), sideWidth));
        row += static_cast<int>(side.back().pieces.size());
    }
    // The effects line under the outcome, a row apart; the panel beside, or under it all.
    const Placed effects =
        place(out, row + (last >= 0 ? 1 : 0), trimmedRight(rightOf(layout.effectsRow, std::string::npos)),
              beside ? layout.panelColumn : window.columns);
    const int effectsEnd = effects.row + static_cast<int>(effects.pieces.size());
    const int panelRow = beside ? 0 : std::max(plan.panelRow, effectsEnd + 1);
    // beside, two blank columns part the panel from the longest lines where the window has them
    const int panelColumn = beside ? std::min(layout.panelColumn + 2, window.columns - layout.panelColumns) : 0;
    for (int y = 0; y < layout.effectsRow; ++y) {
        put(out, panelRow + y, panelColumn, rightOf(y, static_cast<std::size_t>(layout.panelColumns)));
    }

    // The cursor, in the text it stands in.
    const ScreenSize cursor = screen.cursor;
    if (cursor.columns >= layout.panelColumn && cursor.rows < layout.effectsRow) {
        out.cursor = clamped({cursor.columns - layout.panelColumn + panelColumn, panelRow + cursor.rows});
    } else if (cursor.columns >= layout.panelColumn && cursor.rows == layout.effectsRow) {
        out.cursor = clamped(spot(effects, cursor.columns - layout.panelColumn));
    } else if (cursor.rows <= last) {
        out.cursor = clamped(spot(side[static_cast<std::size_t>(cursor.rows)], cursor.columns));
    } else {
        out.cursor = clamped({cursor.columns, row + cursor.rows - last - 1});
    }
    return out;
}
