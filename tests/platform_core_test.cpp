// The platform core over a scripted backend, played through the real key latch and Event turn:
// keys in the order they happened, held keys, held keys known only by their repeats, focus,
// presses without releases, the size notice, the redraw from cells, and the hand-back.
#include <gtest/gtest.h>

#include "capture_output.h"
#include "console/key_latch.h"
#include "game/event_turn.h"
#include "platform/platform.h"
#include "platform/screen_cells.h"
#include "platform/window_fit.h"
#include "scripted_backend.h"
#include "state/conditions.h"

namespace {
constexpr int enter = 13;
constexpr int q = 81;
constexpr int digit(int n) { return 48 + n; }
constexpr ScreenSize layout{133, 15};
const ScreenLayout probeLayout{layout, 80, 9, 100, 0, 22, {}, {}};

// Option i raises Sanity by i + 1, so the change tells which Option was taken.
const Event probe{"Probe", {{" a", {1, 1}, "A"}, {" b", {1, 2}, "B"}, {" c", {1, 3}, "C"}}};

struct Core : ::testing::Test {
    void SetUp() override {
        scripted.reset();
        keyLatch.fill(0);
        resetRecruit();
    }

    // What the opening wrote.
    static std::string open(bool releasesReported = true, const ScreenLayout& layout = probeLayout) {
        scripted.opening.releasesReported = releasesReported;
        return captureOutput([&] { openTerminal(layout); });
    }

    // Each inner list is what one read of the backend returns.
    static void script(const std::vector<std::vector<BackendEvent>>& reads) {
        for (const auto& events : reads) scripted.reads.push_back({events, std::nullopt});
    }

    // One character of `vk`, typed at `ms` on the scripted clock; `count` of them, `everyMs` apart.
    static void typeAt(int vk, std::int64_t ms, int count = 1, std::int64_t everyMs = 0) {
        for (int i = 0; i < count; ++i) scripted.reads.push_back({{tap(vk)}, std::nullopt, false, ms + i * everyMs});
    }

    // Waits for new presses of ENTER until the script runs out: when each was taken.
    static std::vector<std::int64_t> enterPresses() {
        std::vector<std::int64_t> taken;
        captureOutput([&] {
            try {
                for (;;) {
                    waitForKey(enter);
                    taken.push_back(scripted.nowMs);
                }
            } catch (const ScriptEnded&) {}
        });
        return taken;
    }

    // Plays up to `turns` Events until the script runs out; the Options taken, in order, the one
    // of a turn cut short by the end of the script included.
    static std::vector<int> play(int turns, std::string* output = nullptr) {
        std::vector<int> taken;
        const std::string written = captureOutput([&] {
            int before = conditions[sanity];
            try {
                for (int turn = 0; turn < turns; ++turn) {
                    runEvent(probe);
                    taken.push_back(conditions[sanity] - before - 1);
                    before = conditions[sanity];
                }
            } catch (const ScriptEnded&) {
                if (conditions[sanity] != before) taken.push_back(conditions[sanity] - before - 1);
            }
        });
        if (output != nullptr) *output = written;
        return taken;
    }
};

using Taken = std::vector<int>;
using Times = std::vector<std::int64_t>;
}  // namespace

TEST_F(Core, KeysTypedAheadInOneReadPlayInTheOrderTyped) {
    // "2", ENTER, "0", ENTER, "1" from a terminal that sends characters
    open(false);
    script({{tap(digit(2)), tap(enter), tap(digit(0)), tap(enter), tap(digit(1)), tap(enter)}});
    EXPECT_EQ(play(3), (Taken{2, 0, 1}));

    // the same as presses and releases
    open(true);
    script({{down(digit(2)), up(digit(2)), down(enter), up(enter), down(digit(0)), up(digit(0)), down(enter), up(enter),
             down(digit(1)), down(enter)}});
    EXPECT_EQ(play(3), (Taken{2, 0, 1}));

    // keys go down in order too: 2 went down before 0, so 2 is taken
    open(true);
    script({{down(digit(2)), down(digit(0))}});
    EXPECT_EQ(play(1), (Taken{2}));
}

TEST_F(Core, ADigitHeldThroughEnterIsTakenAgainButEnterMustBeReleasedAndPressedAnew) {
    open(true);
    script({{down(digit(1))}, {down(enter)}, {up(enter)}, {down(enter)}});
    EXPECT_EQ(play(2), (Taken{1, 1}));
    EXPECT_EQ(scripted.readsMade, 4);  // the held ENTER did not close the second turn
}

TEST_F(Core, TheLowestOfTheDigitsDownAtOnceWins) {
    open(true);
    // 2 held from the first turn; 0 goes down too before ENTER closes it
    script({{down(digit(2))}, {down(digit(0)), down(enter)}});
    EXPECT_EQ(play(2), (Taken{2, 0}));
}

TEST_F(Core, KeysNobodyPollsHaveNoEffectLater) {
    open(false);
    // ENTER tapped while a digit is awaited does not close the turn once the digit is taken
    script({{tap(enter), tap(digit(1))}, {tap(enter)}});
    EXPECT_EQ(play(1), (Taken{1}));
    EXPECT_EQ(scripted.readsMade, 2);

    // a digit tapped while ENTER is awaited does not choose in the next Event
    open(false);
    script({{tap(digit(0))}, {tap(digit(2)), tap(enter)}, {tap(digit(1))}});
    EXPECT_EQ(play(2), (Taken{0, 1}));
}

TEST_F(Core, WhenTheFocusLeavesEveryKeyIsUpUntilReportedDownAgain) {
    open(true);
    // 1 held; the focus leaves and no release comes; a late release changes nothing, and the
    // next Event waits until a key is reported down again, by a press or (kitty's first press
    // after a focus change) a repeat
    script({{down(digit(1))}, {focusLost(), down(enter), up(enter)}, {up(digit(1))}, {repeat(digit(2))}});
    EXPECT_EQ(play(2), (Taken{1, 2}));
    EXPECT_EQ(scripted.readsMade, 5);  // the late release chose nothing
}

TEST_F(Core, WithoutReleasesEachPressAndRepeatIsAWholeTap) {
    // the terminal took the flags without event types: presses come, releases never do
    open(true);
    script({{releases(false), down(digit(1))}, {down(enter)}, {repeat(digit(2))}, {down(enter)}});
    EXPECT_EQ(play(2), (Taken{1, 2}));
    EXPECT_EQ(scripted.readsMade, 4);  // no wait for a release that never comes

    // and once releases are confirmed, a press holds the key down
    open(false);
    script({{releases(true), down(digit(1))}, {down(enter)}});
    EXPECT_EQ(play(2), (Taken{1, 1}));
}

TEST_F(Core, CtrlCReportedAsAKeyEndsByInterrupt) {
    open(true);
    script({{down(digit(1)), {BackendEventKind::interrupt}}});
    try {
        play(1);
        FAIL() << "no early end";
    } catch (const EarlyEnd& end) {
        EXPECT_TRUE(end.interrupted);
        EXPECT_EQ(end.handBack, HandBack::belowLayout);
    }
    const std::string last = captureOutput([] { closeTerminal(HandBack::belowLayout); });
    EXPECT_EQ(last, "\x1b[15;1H\r\n");
    EXPECT_EQ(scripted.outputAtClose, static_cast<long>(last.size()));  // the backend's bytes follow
}

TEST_F(Core, TheSetUpGoesOutWithTheFirstScreenAndTheHandBackOnce) {
    scripted.opening.firstBytes = "<set-up>";
    const std::string first = captureOutput([] {
        openTerminal(probeLayout);
        std::fputs("intro", stdout);
    });
    EXPECT_EQ(first, "<set-up>intro");  // nothing waited for, nothing written apart
    EXPECT_EQ(scripted.readsMade, 0);
    EXPECT_EQ(captureOutput([] { closeTerminal(HandBack::asDrawn); }), "");
    EXPECT_EQ(scripted.outputAtClose, 0);
    scripted.outputAtClose = -1;
    EXPECT_EQ(captureOutput([] { closeTerminal(HandBack::belowLayout); }), "");
    EXPECT_EQ(scripted.outputAtClose, -1);
}

TEST_F(Core, WhereNothingFitsTheNoticeDropsKeysAndTheGameComesBackWithEveryKeyUp) {
    const ScreenLayout turns = screenLayout({probe});
    scripted.size = ScreenSize{70, 15};
    scripted.opening.resizeReported = false;
    scripted.reads.push_back({{down(digit(1))}, ScreenSize{70, 15}});
    scripted.reads.push_back({{}, ScreenSize{70, 20}});
    // the notice names the smallest window that plays: as narrow as it may be, as many rows as that needs
    EXPECT_NE(open(true, turns).find("at least 40 columns and 20 rows; this one has 70 columns and 15 rows"),
              std::string::npos);
    // the size is looked at while the notice is up; then what is already waiting is read too
    EXPECT_EQ(scripted.timeouts, (std::vector<std::optional<int>>{250, 250, 0}));
    script({{down(digit(2))}});
    EXPECT_EQ(play(1), (Taken{2}));  // the 1 pressed while the notice was up is not held

    // a digit held when the window shrinks is up when the game comes back
    open(true, turns);
    script({{down(digit(1))}});
    scripted.reads.push_back({{{BackendEventKind::resized}}, ScreenSize{30, 40}});
    scripted.reads.push_back({{}, ScreenSize{70, 20}});
    script({{down(enter)}, {down(digit(2))}});
    EXPECT_EQ(play(2), (Taken{1, 2}));

    // an ENTER typed while the notice was up, still unread when the window is large again, goes
    // with the notice: the turn still waits for ENTER
    open(true, turns);
    script({{down(digit(1))}});
    scripted.reads.push_back({{{BackendEventKind::resized}}, ScreenSize{70, 15}});
    scripted.reads.push_back({{}, ScreenSize{133, 15}});
    scripted.reads.push_back({{down(enter)}, std::nullopt, true});
    script({{down(digit(2))}});
    EXPECT_EQ(play(2), (Taken{1}));
}

TEST_F(Core, InAWindowTheLayoutDoesNotFitTheScreenIsLaidOutAnewWithTheSameKeys) {
    // the same keys typed ahead, in a window the layout fits and in three it does not
    const ScreenLayout turns = screenLayout({probe});
    std::string asDrawn;
    for (const ScreenSize window : {ScreenSize{140, 40}, ScreenSize{110, 13}, ScreenSize{80, 24}, ScreenSize{40, 20}}) {
        scripted.reset();
        keyLatch.fill(0);
        resetRecruit();
        scripted.size = window;
        open(false, turns);
        script({{tap(digit(2)), tap(enter), tap(digit(0))}});
        std::string output;
        EXPECT_EQ(play(2, &output), (Taken{2, 0}));
        if (asDrawn.empty()) {
            asDrawn = output;
            continue;
        }
        // the terminal shows the game's screen as laid out for the window, not one byte of its own
        // layout's moves; cut short, the cursor goes under the rows that layout takes
        ScreenCells game(turns.size);
        game.write(asDrawn);
        ScreenCells terminal(window);
        terminal.write(output);
        const std::optional<WindowPlan> plan = planWindow(turns, window, LayoutChoice::fitted);
        ASSERT_TRUE(plan);
        EXPECT_EQ(terminal.cells(), fitScreen(game.cells(), turns, *plan)) << window.columns << "x" << window.rows;
        EXPECT_EQ(output.find(at(10, 81)), std::string::npos);
        EXPECT_EQ(scripted.cutShort, at(plan->rows, 1) + "\r\n");
    }
}

TEST_F(Core, AResizeLaysTheScreenOutAgainAtOnceAndGrowingBackGivesTheLayoutAsDrawn) {
    const ScreenLayout turns = screenLayout({probe});
    open(true, turns);
    // answered; the window shrinks to 80x24 and grows back while the outcome is shown; ENTER
    script({{down(digit(1)), up(digit(1))}});
    scripted.reads.push_back({{{BackendEventKind::resized}}, ScreenSize{80, 24}});
    scripted.reads.push_back({{{BackendEventKind::resized}}, ScreenSize{140, 40}});
    script({{down(enter), up(enter)}});
    std::string output;
    ASSERT_EQ(play(1, &output), (Taken{1}));
    ASSERT_EQ(scripted.outputAtRead.size(), 4U);
    const auto between = [&](std::size_t read) {
        const auto from = static_cast<std::size_t>(scripted.outputAtRead[read]);
        return output.substr(from, static_cast<std::size_t>(scripted.outputAtRead[read + 1]) - from);
    };
    ScreenCells game(turns.size);
    game.write(output.substr(0, static_cast<std::size_t>(scripted.outputAtRead[1])));

    // small: the screen laid out for it, from an erase, in no more bytes than its text and a move a row
    const std::string small = between(1);
    ScreenCells terminal({80, 24});
    terminal.write("stale text\n\x1b[5;5Hmore");
    terminal.write(small);
    EXPECT_EQ(terminal.cells(), fitScreen(game.cells(), turns, *planWindow(turns, {80, 24}, LayoutChoice::fitted)));
    EXPECT_TRUE(small.starts_with("\x1b[2J"));
    EXPECT_LE(small.size(), 200U);
    // large again: the game's own screen, as a redraw draws it
    EXPECT_EQ(between(2), game.redraw());
}

TEST_F(Core, QWhileTooSmallQuits) {
    scripted.size = ScreenSize{133, 14};
    script({{tap(q)}});
    std::optional<EarlyEnd> ended;
    const std::string shown = captureOutput([&] {
        try {
            openTerminal(probeLayout);
        } catch (const EarlyEnd& end) {
            ended = end;
        }
    });
    ASSERT_TRUE(ended) << "Q did not quit";
    EXPECT_EQ(ended->status, 0);
    EXPECT_FALSE(ended->interrupted);
    EXPECT_EQ(ended->handBack, HandBack::asDrawn);
    EXPECT_TRUE(shown.ends_with("\x1b[2J"));
    EXPECT_EQ(scripted.timeouts.front(), std::nullopt);  // resizes are reported
}

TEST_F(Core, AResizeOrResumeRedrawsTheScreenFromCellsAtTheCostOfOneScreen) {
    open(true);
    std::string everything;  // the game's bytes since the terminal was taken
    for (int turn = 0; turn < 20; ++turn) {
        // a choice, then a resize and a resume while the outcome is shown, then ENTER
        script({{down(digit(turn % 3)), up(digit(turn % 3))}});
        scripted.reads.push_back({{{BackendEventKind::resized}}, ScreenSize{150, 20}});
        script({{{BackendEventKind::resumed}}, {down(enter), up(enter)}});
        scripted.outputAtRead.clear();
        std::string output;
        ASSERT_EQ(play(1, &output).size(), 1U);
        ASSERT_EQ(scripted.outputAtRead.size(), 4U);

        // the screen as the game's bytes left it at the ENTER wait: up to the cursor move that
        // follows the effects line
        const std::size_t effects = output.find(at(10, 81));
        const std::size_t wait = output.find('H', output.find('\x1b', effects + 1)) + 1;
        ScreenCells expected(layout);
        expected.write(everything + output.substr(0, wait));
        everything += output;

        // what was written after the resize was read, and after the resume
        const auto between = [&](std::size_t read) {
            const auto from = static_cast<std::size_t>(scripted.outputAtRead[read]);
            return output.substr(from, static_cast<std::size_t>(scripted.outputAtRead[read + 1]) - from);
        };
        for (const std::string& redraw : {between(1), between(2)}) {
            EXPECT_TRUE(redraw.starts_with("\x1b[2J"));
            EXPECT_LE(redraw.size(), 15U * (133U + 8U)) << "turn " << turn;
            ScreenCells drawn(layout);
            drawn.write("stale text\n\x1b[5;5Hmore");
            drawn.write(redraw);
            for (int row = 0; row < layout.rows; ++row) EXPECT_EQ(drawn.row(row), expected.row(row)) << "row " << row;
            EXPECT_EQ(drawn.cursor(), expected.cursor());
        }
    }
}

TEST_F(Core, AfterAResumeNoKeyIsHeld) {
    open(true);
    script({{down(digit(1))}, {{BackendEventKind::resumed}, down(enter)}, {down(digit(2))}});
    EXPECT_EQ(play(2), (Taken{1, 2}));
}

// A terminal that reports no releases: characters, each read when it comes on the scripted clock.
TEST_F(Core, AKeyHeldWhereOnlyItsCharacterRepeatsIsOnePressReleasedWhenTheRepeatsStop) {
    open(false);
    // ENTER held: one CR, then one every 33 ms from 500 ms on (the X default would be 660 ms and
    // 40 ms), up to 1.5 s, one repeat 200 ms late on the way (a busy link); released, and pressed
    // again by hand 300 ms after the last repeat: counted once no repeat followed it
    typeAt(enter, 0);
    typeAt(enter, 500, 15, 33);
    typeAt(enter, 995 + 200, 15, 33);
    typeAt(enter, 1957);
    scripted.reads.push_back({{}, std::nullopt, false, 3000});
    EXPECT_EQ(enterPresses(), (Times{0, 2037}));

    // held on the last outcome with a slow repeat (the first after 1 s, then every 200 ms) seen
    // for the first time; then, that repeat learnt, presses by hand count at once
    open(false);
    scripted.nowMs = 0;
    typeAt(enter, 0);
    typeAt(enter, 1000, 8, 200);
    typeAt(enter, 4000);
    typeAt(enter, 4330);
    scripted.reads.push_back({{}, std::nullopt, false, 6000});
    EXPECT_EQ(enterPresses(), (Times{0, 4000, 4330}));

    // the same from a terminal that honours the keyboard flags without event types: presses only
    open(true);
    scripted.nowMs = 0;
    scripted.reads.push_back({{releases(false), down(enter)}, std::nullopt, false, 0});
    for (int i = 0; i < 20; ++i) scripted.reads.push_back({{down(enter)}, std::nullopt, false, 660 + 40 * i});
    EXPECT_EQ(enterPresses(), (Times{0}));
}

TEST_F(Core, PressesByHandCountEachOnlyOnesThatMayBeAFirstRepeatWaitAMoment) {
    open(false);
    // a double tap counts at once; a press 380 ms later may be a first repeat: it counts once no
    // repeat followed it; after the longest first delay, at once again
    typeAt(enter, 0);
    typeAt(enter, 120);
    typeAt(enter, 500);
    typeAt(enter, 3000);
    EXPECT_EQ(enterPresses(), (Times{0, 120, 1150, 3000}));

    // other keys are never delayed: a digit chooses at once, ENTER after it closes the turn at
    // once, and the digit, still repeating before ENTER, is up in the next Event
    open(false);
    scripted.nowMs = 0;
    typeAt(digit(1), 0);
    typeAt(digit(1), 500, 10, 33);
    typeAt(enter, 900);
    typeAt(digit(2), 1000);
    std::vector<std::int64_t> when;
    const std::string output = captureOutput([&] {
        try {
            for (int turn = 0; turn < 2; ++turn) {
                runEvent(probe);
                when.push_back(scripted.nowMs);
            }
        } catch (const ScriptEnded&) {}
    });
    EXPECT_EQ(when, (Times{900}));
    EXPECT_EQ(conditions[sanity], 50 + 2 + 3);  // Option 1, then Option 2
    EXPECT_EQ(scripted.nowMs, 1000);
}
