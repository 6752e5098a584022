// One Event turn, byte for byte, and its key rules.
#include <gtest/gtest.h>

#include "console/conditions_panel.h"
#include "console/drawing.h"
#include "console/key_latch.h"
#include "game/event_turn.h"
#include "scripted_keyboard.h"
#include "state/conditions.h"

namespace {
const Event rack{
    "You Encounter A Rack",
    {{" Make Your rack", {1, -15, 3, -10, 2, 5}, "\"This is the worst rack I've ever seen\"\nWell at least you tried"},
     {" Jump off 3rd Deck", {1, 25, 0, -15}, "You fly"},
     {" Roll on the floor like an eel", {1, 30, 3, 15}, "You Look Really Stupid"}}};

std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

std::string wipeAndPanel(int optionCount) {
    std::string expected;
    for (int row = 1; row <= 15; ++row) expected += at(row, 1) + blanks(80);
    expected += captureOutput(drawConditions);
    return expected + at(10, 81) + blanks(90) + at(optionCount + 7, 1);
}

struct EventTurn : ::testing::Test {
    void SetUp() override {
        resetRecruit();
        keyLatch.fill(0);
    }
};
}  // namespace

TEST_F(EventTurn, AWholeTurnByteForByte) {
    scriptKeys({{}, {48}, {}, {13}});
    std::string output = captureOutput([] { runEvent(rack); });
    EXPECT_EQ(conditions, (std::array<std::int32_t, 4>{100, 35, 55, 20}));
    const std::string expected = at(2, 1) + "You Encounter A Rack" + at(4, 1) + "0) Make Your rack" + at(5, 1) +
                                 "1) Jump off 3rd Deck" + at(6, 1) + "2) Roll on the floor like an eel" + at(8, 1) +
                                 "\"This is the worst rack I've ever seen\"" + at(9, 1) + "Well at least you tried" +
                                 at(10, 81) + "Sanity -15 Punchability -10 Reputation +5 " + at(4, 1) + wipeAndPanel(3);
    EXPECT_EQ(output, expected);
    // the panel drawn at the end shows the new values
    EXPECT_NE(output.find("Sanity: 35  "), std::string::npos);
}

TEST_F(EventTurn, TheLowestDigitDownWinsAndOnlyTheOptionDigitsArePolled) {
    scriptKeys({{13, 81, 51, 57}, {48, 50}, {}, {13}});
    captureOutput([] { runEvent(rack); });
    EXPECT_EQ(conditions[sanity], 35);  // Option 0
    const std::vector<std::int32_t> expected{48, 49, 50, 48, 13, 13, 13};
    EXPECT_EQ(keysPolled(), expected);
    EXPECT_EQ(keyLatch[50], 0);  // not polled after 0 was taken
}

TEST_F(EventTurn, OutcomeFromRowEightAndCursorOnTheChosenLine) {
    scriptKeys({{49}, {}, {13}});
    const std::string output = captureOutput([] { runEvent(rack); });
    const std::string resolved = at(8, 1) + "You fly" + at(10, 81) + "Sanity +25 Health -15 " + at(5, 1);
    EXPECT_NE(output.find(resolved), std::string::npos) << output;
}

TEST_F(EventTurn, ADigitHeldFromTheLastTurnIsTakenAtOnceButEnterMustBePressedAnew) {
    keyLatch[49] = -127;  // accepted in the previous turn and still held
    keyLatch[13] = -127;  // the ENTER that closed the previous turn, still held
    scriptKeys({{49, 13}, {}, {13}});
    captureOutput([] { runEvent(rack); });
    EXPECT_EQ(conditions[sanity], 75);
    EXPECT_EQ(waitsMade(), 2);  // no wait for the digit; the held ENTER did not end the turn
}

TEST_F(EventTurn, ClampedValuesAndTheAuthoredDeltasOnTheEffectsLine) {
    conditions[sanity] = 95;
    conditions[health] = 5;
    const Event edge{"Edge", {{" a", {1, 10, 0, -10, 2, 0}, "x"}, {" b", {}, "y"}}};
    scriptKeys({{48}, {}, {13}});
    const std::string output = captureOutput([&] { runEvent(edge); });
    EXPECT_EQ(conditions[sanity], 100);
    EXPECT_EQ(conditions[health], 0);
    EXPECT_NE(output.find(at(10, 81) + "Sanity +10 Health -10 Reputation 0 " + at(4, 1)), std::string::npos);
    // two Options: outcome on row 7, cursor on row 9 at the end
    EXPECT_NE(output.find(at(7, 1) + "x"), std::string::npos);
    EXPECT_EQ(output.substr(output.size() - at(9, 1).size()), at(9, 1));

    scriptKeys({{49}, {}, {13}});
    const std::string empty = captureOutput([&] { runEvent(edge); });
    EXPECT_NE(empty.find(at(10, 81) + at(5, 1)), std::string::npos);  // nothing listed
}

TEST_F(EventTurn, ThePanelShowsTheOldValuesUntilEnter) {
    scriptKeys({{48}, {}, {13}});
    const std::string output = captureOutput([] { runEvent(rack); });
    const std::size_t enterWait = output.find(at(4, 1), output.find("Reputation +5 "));
    EXPECT_EQ(output.find("Sanity: "), output.rfind("Sanity: "));  // one panel, after the wait
    EXPECT_GT(output.find("Sanity: 35"), enterWait);
}

// The terminal must hold the panel (102 columns) and the widest effects line from column 81.
TEST(LayoutSize, FollowsTheLongestEffectsLine) {
    EXPECT_EQ(layoutSize({}).columns, 102);
    const Event narrow{"Narrow", {{" a", {1, 5}, "x"}}};  // "Sanity +5 ": inside the panel's columns
    EXPECT_EQ(layoutSize({narrow}).columns, 102);
    EXPECT_EQ(layoutSize({rack}).columns, 122);  // "Sanity -15 Punchability -10 Reputation +5 "
    // "Punchability +30 " four times: 68 characters, the last at column 148
    const Event wide{"Wide", {{" a", {3, 30, 3, 30, 3, 30, 3, 30}, "x"}}};
    EXPECT_EQ(layoutSize({rack, wide}).columns, 148);
    EXPECT_EQ(layoutSize({wide}).rows, 15);
}

// The page colours a gauge by how close it is to the end of the run: Punchability ends it at the
// top, the others at 0.
TEST(ScreenLayout, TellsWhichGaugesEndTheRunAtTheTop) {
    const ScreenLayout layout = screenLayout({rack});
    EXPECT_EQ(layout.gaugeMax, 100);
    EXPECT_EQ(layout.gaugesEndingHigh, 1 << punchability);
}
