// The drawing primitives and the conditions panel, byte for byte.
#include <gtest/gtest.h>

#include "console/conditions_panel.h"
#include "console/drawing.h"
#include "scripted_keyboard.h"
#include "state/conditions.h"

TEST(Drawing, EscapeSequences) {
    EXPECT_EQ(captureOutput([] { clearScreen(); }), "\x1b[2J");
    EXPECT_EQ(captureOutput([] { moveCursor(10, 81); }), "\x1b[10;81H");
}

TEST(Drawing, PrintAtStartsEveryLineInTheSameColumn) {
    EXPECT_EQ(captureOutput([] { printAt("", {3, 4}); }), at(5, 4));
    EXPECT_EQ(captureOutput([] { printAt("ab\nde", {5, 2}); }), at(3, 6) + "ab" + at(4, 6) + "de");
    // a final "\n" only moves the cursor; two in a row leave a row untouched
    EXPECT_EQ(captureOutput([] { printAt("ab\n", {0, 0}); }), at(1, 1) + "ab" + at(2, 1));
    EXPECT_EQ(captureOutput([] { printAt("a\n\nb", {2, 7}); }), at(8, 3) + "a" + at(9, 3) + at(10, 3) + "b");
    // every other byte goes out unchanged
    EXPECT_EQ(captureOutput([] { printAt("\t\"x\" ", {0, 0}); }), at(1, 1) + "\t\"x\" ");
}

TEST(Drawing, PrintCenteredPutsTheOddColumnOnTheRight) {
    EXPECT_EQ(captureOutput([] { printCentered("Conditions", {80, 0}); }), at(1, 87) + "Conditions");
    EXPECT_EQ(captureOutput([] { printCentered("abc", {0, 0}); }), at(1, 10) + "abc");
    EXPECT_EQ(captureOutput([] { printCentered("ab", {0, 0}); }), at(1, 11) + "ab");
    EXPECT_EQ(captureOutput([] { printCentered("", {4, 2}); }), at(3, 16));
    EXPECT_EQ(captureOutput([] { printCentered("ab\n", {0, 0}); }), at(1, 11) + "ab" + at(2, 12));
    EXPECT_EQ(captureOutput([] { printCentered("a\nbcd", {0, 5}); }), at(6, 11) + "a" + at(7, 10) + "bcd");
}

TEST(Drawing, PrintCenteredLinesOfTheFieldsWidthOrLonger) {
    const std::string full(22, 'x');
    EXPECT_EQ(captureOutput([&] { printCentered(full, {80, 0}); }), at(1, 81) + full);
    EXPECT_EQ(captureOutput([] { printCentered(std::string(23, 'y'), {10, 0}); }), at(1, 10) + std::string(23, 'y'));
    EXPECT_EQ(captureOutput([] { printCentered(std::string(24, 'y'), {10, 0}); }), at(1, 10) + std::string(24, 'y'));
    EXPECT_EQ(captureOutput([] { printCentered(std::string(30, 'z'), {10, 0}); }), at(1, 7) + std::string(30, 'z'));
}

// The bars are spelled out in full: the expected text is the specified one, cell by cell.
TEST(Drawing, BarsHaveOneCellPerFivePoints) {
    EXPECT_EQ(makeBar(0), "[                    ]");
    EXPECT_EQ(makeBar(4), "[                    ]");
    EXPECT_EQ(makeBar(5), "[=                   ]");
    EXPECT_EQ(makeBar(54), "[==========          ]");
    EXPECT_EQ(makeBar(99), "[=================== ]");
    EXPECT_EQ(makeBar(100), "[====================]");
    for (int value = 0; value <= 100; ++value) EXPECT_EQ(makeBar(value).size(), 22u) << value;
}

TEST(Drawing, BothOutputPathsKeepTheirOrderAndThePlatformSeesEveryByte) {
    platformSaw().clear();
    const std::string out = captureOutput([] {
        printFormatted("%c", 'a');
        insertText("bc");
        printFormatted("You survived %d", 3);
        insertText(" Days\n");
        clearScreen();
        printAt("x", {0, 0});
        insertText("y");
    });
    EXPECT_EQ(out, "abcYou survived 3 Days\n\x1b[2J" + at(1, 1) + "xy");
    EXPECT_EQ(platformSaw(), out);
}

namespace {
std::string panel(const std::array<std::string, 4>& lines, const std::array<int, 4>& values) {
    std::string expected = at(1, 87) + "Conditions";
    for (int i = 0; i < 4; ++i) {
        expected += at(2 * i + 2, 81) + lines[i] + at(2 * i + 3, 81) + makeBar(values[i]);
    }
    return expected;
}
}  // namespace

TEST(ConditionsPanel, StartingValues) {
    resetRecruit();
    EXPECT_EQ(captureOutput(drawConditions),
              panel({"Health: 100  ", "Sanity: 50  ", "Reputation: 50  ", "Punchability: 30  "}, {100, 50, 50, 30}));
    EXPECT_EQ(makeBar(30), "[======              ]");
}

TEST(ConditionsPanel, FatalValuesAndShortNumbers) {
    conditions = {5, 0, 100, 100};
    EXPECT_EQ(captureOutput(drawConditions),
              panel({"Health: 5  ", "Sanity: 0  ", "Reputation: 100  ", "Punchability: 100  "}, {5, 0, 100, 100}));
    resetRecruit();
}
