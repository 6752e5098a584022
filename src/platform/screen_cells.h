// The screen as the game drew it, kept as cells, and the bytes that draw cells on a terminal: a
// redraw costs at most the size of the screen, however long the game has run, and a change what
// changed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

// Rows of text, each as wide as the screen, and the cursor (zero-based column and row).
struct Cells {
    std::vector<std::string> rows;
    ScreenSize cursor{0, 0};
    bool operator==(const Cells&) const = default;
};

// The bytes that turn a terminal showing `shown` into one showing `wanted`: each changed run of a
// row written again (short unchanged gaps written over rather than crossed with a cursor move),
// then the cursor put in its place. With nothing known of what is shown (null, or another size:
// a terminal resized, continued, written over), the display is erased first and every run of
// text drawn.
std::string drawCells(const Cells* shown, const Cells& wanted);

class ScreenCells {
public:
    // A screen of the layout's size, blank, the cursor in the top-left corner.
    explicit ScreenCells(ScreenSize size);

    // Carries out what the game writes: "\e[2J" (erase), "\e[<row>;<column>H" (cursor),
    // "\n" (to column 1 of the next row, scrolling at the bottom, as the terminal's output
    // processing does), "\r", and printable bytes, which fill the cell under the cursor and move
    // it right. A cell right of the last column is dropped (the game writes only blanks there).
    // Any other control byte or escape sequence changes nothing. A sequence may be split
    // across calls.
    void write(std::string_view bytes);

    // Erases the terminal and draws every cell that is not blank, then puts the cursor back.
    [[nodiscard]] std::string redraw() const;

    // The cells, with the cursor on the last column when it has passed it.
    [[nodiscard]] Cells cells() const;

    // The text of a row (0-based), blanks included, and the cursor (0-based column and row).
    [[nodiscard]] std::string row(int y) const;
    [[nodiscard]] ScreenSize cursor() const { return {column, line}; }

private:
    ScreenSize size;
    std::vector<std::string> rows;  // one string of size.columns bytes per row
    int column = 0;                 // may be size.columns: past the last cell
    int line = 0;
    std::string sequence;  // an escape sequence begun but not finished
    bool inSequence = false;

    void put(char byte);
    void finishSequence(char final);
};
