// Whole runs played with the scripted keyboard: intro, turns, endings, day count, restart, quit.
#include <gtest/gtest.h>

#include "console/conditions_panel.h"
#include "console/key_latch.h"
#include "game/game_loop.h"
#include "game/play_order.h"
#include "scripted_keyboard.h"
#include "state/conditions.h"

namespace {
const std::string intro = "\x1b[2J" + at(1, 1) +
                          "You have made the mistake of joining the Marines\n"
                          "This is your attempt to get through bootcamp\n\n"
                          "Press ENTER to continue\n";
const std::string prompt = "\nPress ENTER to restart or Q to quit\n";
const std::string healthEnding =
    "You collapse from exhaustion and are set to be medically discharged\n"
    "Should've laid off on those peanut butter packets fatty\n\n";
const std::string sanityEnding =
    "During a manic episode you accidentally say the magic words to your Senior DI\n"
    "Now you can't even have your own shoelaces\n\n";
const std::string reputationEnding =
    "\"Clearly you don't care about being here\"\nat least thats what the Senior DI said\n"
    "Well it doesn't matter now, a discharge is a discharge\n\n";
const std::string punchabilityEnding =
    "You know all those crazy DI stories you hear?\nImagine that but 10x worse\n"
    "at least you made the local news\n\n";

// An Event whose three Options all have the same effects.
Event eventWith(const std::string& prompt, std::vector<std::int32_t> effects) {
    return Event{prompt, {{" a", effects, "A"}, {" b", effects, "B"}, {" c", effects, "C"}}};
}
const Event harmless = eventWith("Harmless", {1, 5});

// Script pieces. Each starts in the step where the ENTER press before it was taken: the intro's
// ENTER held at start; a turn answered with digit 0 and closed by a new ENTER press; a restart
// by a new ENTER press, then the intro passed by another.
const std::vector<KeysDown> start{{13}};
const std::vector<KeysDown> turn{{48}, {}, {13}};
const std::vector<KeysDown> restart{{}, {13}, {}, {13}};
const std::vector<KeysDown> quit{{81}};

std::vector<KeysDown> join(std::vector<std::vector<KeysDown>> parts) {
    std::vector<KeysDown> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string play(std::vector<KeysDown> keys) {
    scriptKeys(std::move(keys));
    return captureOutput([] { EXPECT_EQ(runGame(), 0); });
}

std::string endScreen(const std::string& ending, const std::string& days) {
    return "\x1b[2J" + at(1, 1) + ending + "You survived " + days + "\n" + prompt;
}

struct GameLoop : ::testing::Test {
    void SetUp() override {
        resetRecruit();
        keyLatch.fill(0);
    }
    void TearDown() override { playOrder.clear(); }
};
}  // namespace

TEST_F(GameLoop, ARunFromIntroToQuitByteForByte) {
    playOrder = {eventWith("Fatal", {0, -100})};
    // ENTER held at start passes the intro at once
    const std::string output = play({{13}, {}, {48}, {}, {13}, {}, {81}});
    const std::string panel = captureOutput([] {
        resetRecruit();
        drawConditions();
    });
    ASSERT_EQ(output.substr(0, intro.size() + 4 + panel.size()), intro + "\x1b[2J" + panel);
    const std::string end = endScreen(healthEnding, "0 Days") + "\x1b[2J";
    ASSERT_GE(output.size(), end.size());
    EXPECT_EQ(output.substr(output.size() - end.size()), end);
    EXPECT_NE(output.find(at(2, 1) + "Fatal" + at(4, 1) + "0) a"), std::string::npos);
}

TEST_F(GameLoop, TheDayCountSaysDayOnlyForOne) {
    const std::vector<std::pair<int, std::string>> cases{{0, "0 Days"}, {1, "1 Day"}, {2, "2 Days"}};
    for (const auto& [survived, words] : cases) {
        resetRecruit();
        keyLatch.fill(0);
        playOrder.assign(static_cast<std::size_t>(survived), harmless);
        playOrder.push_back(eventWith("Fatal", {2, -100}));
        std::vector<std::vector<KeysDown>> parts{start};
        for (int i = 0; i <= survived; ++i) parts.push_back(turn);
        parts.push_back(quit);
        const std::string output = play(join(parts));
        EXPECT_NE(output.find(endScreen(reputationEnding, words)), std::string::npos) << words;
    }
}

TEST_F(GameLoop, EndingsAreTestedInTheirFixedOrder) {
    const std::vector<std::pair<std::vector<std::int32_t>, std::string>> cases{
        {{1, -100, 0, -100}, healthEnding},  // Health and Sanity both 0: Health
        {{1, -100, 3, 100}, sanityEnding},   // Sanity 0 and Punchability 100: Sanity
        {{2, -100, 3, 100}, reputationEnding},
        {{3, 100}, punchabilityEnding},
    };
    for (const auto& [effects, ending] : cases) {
        resetRecruit();
        keyLatch.fill(0);
        playOrder = {eventWith("Fatal", effects)};
        const std::string output = play(join({start, turn, quit}));
        EXPECT_NE(output.find(endScreen(ending, "0 Days")), std::string::npos) << ending;
    }
}

TEST_F(GameLoop, RestartPlaysTheSameOrderFromTheStartingValues) {
    playOrder = {eventWith("First", {1, -20}), eventWith("Second", {0, -100})};
    const std::string output = play(join({start, turn, turn, restart, turn, turn, quit}));
    const std::size_t second = output.find(intro, 1);
    ASSERT_NE(second, std::string::npos);
    const std::string firstRun = output.substr(0, second);
    const std::string secondRun = output.substr(second, firstRun.size());
    EXPECT_EQ(firstRun, secondRun);  // same screens, same order, same values
    EXPECT_LT(firstRun.find("First"), firstRun.find("Second"));
    EXPECT_EQ(conditions[health], 0);  // quitting leaves the values that ended the run
}

TEST_F(GameLoop, SurvivingEveryEventPrintsNothingMore) {
    playOrder = {harmless, harmless};
    const std::string output = play(join({start, turn, turn, quit}));
    // the last turn's clean-up, then only the clear of the quit
    const std::string tail = at(10, 81) + std::string(90, ' ') + at(10, 1) + "\x1b[2J";
    EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
    EXPECT_EQ(daysSurvived, 2);
    EXPECT_EQ(output.find("You survived"), std::string::npos);
}

TEST_F(GameLoop, AnEmptyPlayOrderGoesFromThePanelToTheWait) {
    const std::string output = play({{13}, {}, {81}});
    const std::string panel = captureOutput(drawConditions);
    EXPECT_EQ(output, intro + "\x1b[2J" + panel + "\x1b[2J");
}

TEST_F(GameLoop, TheEndScreenWaitTakesOnlyNewPresses) {
    playOrder = {eventWith("Fatal", {0, -100})};
    // the ENTER that closed the turn is still held on the end screen and does not restart;
    // ENTER and Q pressed in the same cycle: ENTER wins
    std::string output = play(join({start, turn, {{13}, {}, {13, 81}, {}, {13}}, turn, quit}));
    std::size_t intros = 0;
    for (std::size_t at = output.find(intro); at != std::string::npos; at = output.find(intro, at + 1)) ++intros;
    EXPECT_EQ(intros, 2u);

    // Q already held when the end screen appears quits at once: it was never polled before
    resetRecruit();
    keyLatch.fill(0);
    output = play({{13}, {}, {48, 81}, {}, {13, 81}});
    EXPECT_EQ(output.substr(output.size() - 4), "\x1b[2J");
    EXPECT_EQ(waitsMade(), 4);
}

TEST_F(GameLoop, ADigitHeldThroughEnterChoosesInTheNextEventAtOnce) {
    playOrder = {harmless, eventWith("Next", {0, -100})};
    // 1 pressed in the first Event and held while ENTER closes the turn
    const std::string output = play({{13}, {49}, {49, 13}, {}, {13}, {81}});
    EXPECT_NE(output.find(at(2, 1) + "Next"), std::string::npos);
    EXPECT_NE(output.find(at(8, 1) + "B" + at(10, 81) + "Health -100 " + at(5, 1)), std::string::npos);
    EXPECT_EQ(waitsMade(), 5);  // no wait between the second prompt and its outcome
}

TEST_F(GameLoop, QHasNoEffectAtTheIntroOrDuringAnEvent) {
    playOrder = {harmless};
    scriptKeys({{81}, {81, 48}, {81}, {81, 13}});
    EXPECT_THROW(captureOutput([] { runGame(); }), ScriptEnded);
    for (std::int32_t vk : keysPolled()) EXPECT_NE(vk, 81);
}
