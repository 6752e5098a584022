// The screen kept as cells: what the game writes carried out as the terminal does, and the redraw.
#include "platform/screen_cells.h"

#include <gtest/gtest.h>

namespace {
std::string trimmed(const ScreenCells& screen, int row) {
    std::string text = screen.row(row);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}
}  // namespace

TEST(ScreenCells, CarriesOutErasesCursorMovesNewlinesAndText) {
    ScreenCells screen({20, 4});
    screen.write("old\x1b[2J\x1b[2;3Hab\ncd\r\x1b[4;20Hxyz");
    EXPECT_EQ(trimmed(screen, 0), "");
    EXPECT_EQ(trimmed(screen, 1), "  ab");
    EXPECT_EQ(trimmed(screen, 2), "cd");  // "\n" starts the next row at column 1
    // the last column is written; what would pass the edge is dropped
    EXPECT_EQ(screen.row(3), std::string(19, ' ') + "x");
    EXPECT_EQ(screen.cursor(), (ScreenSize{20, 3}));
}

TEST(ScreenCells, MovesOutsideTheScreenStopAtItsEdgesAndTheLastRowScrolls) {
    ScreenCells screen({10, 3});
    screen.write("\x1b[99;99H!\x1b[0;0H?\x1b[H.");
    EXPECT_EQ(screen.row(2), std::string(9, ' ') + "!");
    EXPECT_EQ(screen.row(0), ".         ");  // 0 and absent parameters are 1, as for a terminal
    screen.write("\x1b[2J\x1b[1;1Htop\x1b[3;1Hlast\nnew");
    EXPECT_EQ(trimmed(screen, 0), "");
    EXPECT_EQ(trimmed(screen, 1), "last");
    EXPECT_EQ(trimmed(screen, 2), "new");
}

TEST(ScreenCells, SequencesSplitAcrossWritesAndOthersChangeNothing) {
    ScreenCells screen({10, 3});
    screen.write("\x1b[");
    screen.write("2;");
    screen.write("4Hx\x1b[?25l\x1b=\x1b[1mz\t\x07");
    EXPECT_EQ(screen.row(1), "   xz     ");
}

TEST(ScreenCells, TheRedrawDrawsTheSameScreenAndCursorWithShortGapsWrittenOut) {
    ScreenCells screen({60, 5});
    screen.write("\x1b[1;1Hab   cd\x1b[1;40Hfar\x1b[3;2Hx\x1b[5;60Hz\x1b[2;7H");
    const std::string redraw = screen.redraw();
    EXPECT_EQ(redraw, "\x1b[2J\x1b[1;1Hab   cd\x1b[1;40Hfar\x1b[3;2Hx\x1b[5;60Hz\x1b[2;7H");
    ScreenCells again({60, 5});
    again.write("something else entirely\n\n\x1b[4;4Hmore");
    again.write(redraw);
    for (int row = 0; row < 5; ++row) EXPECT_EQ(again.row(row), screen.row(row));
    EXPECT_EQ(again.cursor(), screen.cursor());
    // an empty screen costs an erase and the cursor only
    EXPECT_EQ(ScreenCells({60, 5}).redraw(), "\x1b[2J\x1b[1;1H");
}

TEST(ScreenCells, AChangeRewritesTheChangedTextsWholeRowByRowOneUnderTheOther) {
    const auto cells = [](std::vector<std::string> rows, ScreenSize cursor) {
        for (std::string& row : rows) row.resize(40, ' ');
        return Cells{rows, cursor};
    };
    const Cells before = cells({"top", "Today you have a test", "", "gauge 50          panel", "end"}, {0, 2});
    const Cells after = cells({"top", "It's time to eat", "", "gauge 35          panel", "            new"}, {0, 2});
    // on a line of its own, from the first changed row to the last, with the terminal's own line
    // breaks; each changed text whole, blanks over an old text it replaces; an unchanged text and a
    // long gap crossed; drawn anew, from the top-left corner down
    EXPECT_EQ(drawCells(&before, after), "\n\x1b[2;1HIt's time to eat     \n\ngauge 35\n   \x1b[5;13Hnew\x1b[3;1H");
    EXPECT_EQ(drawCells(nullptr, cells({"", " ab", "", "c"}, {1, 0})), "\x1b[2J\x1b[1;1H\n ab\n\nc\x1b[1;2H");
    EXPECT_EQ(drawCells(&after, after), "");
    EXPECT_EQ(drawCells(&after, cells({"", "", "", "", ""}, {3, 2})), "\x1b[2J\x1b[3;4H");
    // what the change draws is what was wanted
    ScreenCells terminal({40, 5});
    terminal.write(drawCells(nullptr, before) + drawCells(&before, after));
    EXPECT_EQ(terminal.cells(), after);
}
