// The key timeline on its own: one point per step, changes that change nothing, focus; and typed
// characters turned into presses and releases by their timing.
#include "platform/key_timeline.h"

#include <gtest/gtest.h>

#include <bitset>
#include <string>
#include <vector>

TEST(KeyTimeline, ThePollsSeeOneChangeAtATimeInOrderAcrossKeys) {
    KeyTimeline keys;
    keys.press(50);
    keys.press(48);
    keys.release(50);
    EXPECT_FALSE(keys.isDown(50));  // nothing seen yet
    ASSERT_TRUE(keys.advance());
    EXPECT_TRUE(keys.isDown(50));
    EXPECT_FALSE(keys.isDown(48));
    ASSERT_TRUE(keys.advance());
    EXPECT_TRUE(keys.isDown(50) && keys.isDown(48));
    ASSERT_TRUE(keys.advance());
    EXPECT_FALSE(keys.isDown(50));
    EXPECT_FALSE(keys.advance());
}

TEST(KeyTimeline, ChangesThatChangeNothingTakeNoStep) {
    KeyTimeline keys;
    keys.release(13);  // already up
    keys.press(13);
    keys.press(13);  // a repeated press
    ASSERT_TRUE(keys.advance());
    EXPECT_FALSE(keys.advance());
    EXPECT_TRUE(keys.isDown(13));
}

TEST(KeyTimeline, ReleaseAllIsOneStepInItsPlace) {
    KeyTimeline keys;
    keys.press(49);
    keys.press(13);
    keys.releaseAll();
    keys.press(50);
    keys.advance();
    keys.advance();
    EXPECT_TRUE(keys.isDown(49) && keys.isDown(13));
    keys.advance();
    EXPECT_FALSE(keys.isDown(49) || keys.isDown(13));
    keys.advance();
    EXPECT_TRUE(keys.isDown(50));
    keys.releaseAll();
    keys.releaseAll();  // nothing down at the end any more: no second step
    EXPECT_TRUE(keys.advance());
    EXPECT_FALSE(keys.advance());
    EXPECT_THROW(keys.press(256), std::out_of_range);
}

namespace {
// The states of key 13 the polls see, one per step, after the characters typed at these times
// and time passed to `endMs`: "D" down, "U" up.
std::string typedAt(const std::vector<std::int64_t>& times, std::int64_t endMs, std::int32_t vk = 13) {
    KeyTimeline keys;
    TypedKeys typed;
    for (const std::int64_t at : times) typed.typed(vk, at, keys);
    typed.elapse(endMs, keys);
    std::string seen;
    while (keys.advance()) seen += keys.isDown(vk) ? 'D' : 'U';
    return seen;
}

// A held key's characters: one at `fromMs`, then its repeats after `firstDelayMs`, every
// `intervalMs`, up to `untilMs`.
std::vector<std::int64_t> heldAt(std::int64_t fromMs, std::int64_t firstDelayMs, std::int64_t intervalMs,
                                 std::int64_t untilMs) {
    std::vector<std::int64_t> times{fromMs};
    for (std::int64_t at = fromMs + firstDelayMs; at <= untilMs; at += intervalMs) times.push_back(at);
    return times;
}

std::vector<std::int64_t> operator+(std::vector<std::int64_t> times, const std::vector<std::int64_t>& more) {
    times.insert(times.end(), more.begin(), more.end());
    return times;
}
}  // namespace

TEST(TypedKeys, RepeatsAreOneHeldKeySecondPressesWaitForWhatFollows) {
    // one character: down at once, up once the longest first delay is over
    EXPECT_EQ(typedAt({0}, 2499), "D");
    EXPECT_EQ(typedAt({0}, 2500), "DU");
    // repeats after a first delay (X's 660 ms and 40 ms): held, up once they stop
    const std::vector<std::int64_t> held = heldAt(0, 660, 40, 1500);
    EXPECT_EQ(typedAt(held, 1579), "D");
    EXPECT_EQ(typedAt(held, 1580), "DU");
    // a double tap counts twice at once; a second character later may be a first repeat: a
    // press once nothing followed it at repeat speed
    EXPECT_EQ(typedAt({0, 120}, 120), "DUD");
    EXPECT_EQ(typedAt({0, 300}, 949), "D");
    EXPECT_EQ(typedAt({0, 300}, 950), "DUD");
    EXPECT_EQ(typedAt({0, 300, 1200}, 1849), "DUD");
    EXPECT_EQ(typedAt({0, 300, 1200}, 1850), "DUDUD");
    // soon after the repeats stopped: a press once no repeat followed it, late repeats (a busy
    // link) go on with the hold, the key up; later still, a press at once
    EXPECT_EQ(typedAt(held + std::vector<std::int64_t>{1800}, 1879), "DU");
    EXPECT_EQ(typedAt(held + std::vector<std::int64_t>{1800}, 1880), "DUD");
    EXPECT_EQ(typedAt(held + std::vector<std::int64_t>{1800, 1830, 1870}, 2500), "DU");
    EXPECT_EQ(typedAt(held + std::vector<std::int64_t>{3000}, 3000), "DUD");
    // repeats read late and bunched with the next, even right after the press: still the hold;
    // one character alone that soon after the press was typed ahead, a press
    EXPECT_EQ(typedAt({0, 700, 700, 700, 733, 766}, 1000), "DU");
    EXPECT_EQ(typedAt({0, 40, 80, 120}, 150), "D");
    EXPECT_EQ(typedAt({0, 0}, 79), "D");
    EXPECT_EQ(typedAt({0, 0}, 80), "DUD");

    // a different key lets go of the first at once, a second character of it counting as a press
    KeyTimeline keys;
    TypedKeys typed;
    typed.typed(13, 0, keys);
    typed.typed(13, 250, keys);
    typed.typed(49, 260, keys);
    std::string seen;
    while (keys.advance()) {
        seen.push_back(keys.isDown(13) ? '1' : '0');
        seen.push_back(keys.isDown(49) ? '1' : '0');
        seen.push_back(' ');
    }
    EXPECT_EQ(seen, "10 00 10 00 01 ");
    EXPECT_EQ(typed.deadline(), 260 + TypedKeys::longestFirstDelayMs);
}

namespace {
// A player whose system repeats a held key after `setting.firstDelayMs`, then every
// `setting.intervalMs`: the keys it types, and the presses the polls see.
struct Player {
    explicit Player(KeyRepeat repeat) : setting(repeat) {}
    KeyRepeat setting;
    KeyTimeline keys;
    TypedKeys typed;
    std::int64_t nowMs = 0;
    std::vector<std::int32_t> presses;  // the keys that went down, in order

    void type(std::int32_t vk, std::int64_t atMs) {
        nowMs = atMs;
        typed.typed(vk, atMs, keys);
    }
    // Held for `forMs`: its character, then its repeats, until let go or another key goes down.
    void hold(std::int32_t vk, std::int64_t forMs) {
        for (const std::int64_t at : heldAt(nowMs, setting.firstDelayMs, setting.intervalMs, nowMs + forMs)) {
            type(vk, at);
        }
    }
    void pause(std::int64_t ms) { nowMs += ms; }
    // The presses the polls saw of what was typed since the last look, once everything is decided.
    std::vector<std::int32_t> seen() {
        typed.elapse(nowMs + 10000, keys);
        nowMs += 10000;
        std::bitset<256> before;
        for (int vk : {13, 49}) before.set(vk, keys.isDown(vk));
        presses.clear();
        while (keys.advance()) {
            for (int vk : {13, 49}) {
                if (keys.isDown(vk) && !before.test(vk)) presses.push_back(vk);
                before.set(vk, keys.isDown(vk));
            }
        }
        return presses;
    }
};
using Presses = std::vector<std::int32_t>;
}  // namespace

// Repeat settings from the quickest to the slowest a system offers, and what a player does: a
// hold is one press, every press by hand counts. The first hold is seen with nothing learnt;
// what follows is read with the repeat that hold showed.
TEST(TypedKeys, EverySettingAHoldIsOnePressAndEveryPressByHandCounts) {
    const std::vector<KeyRepeat> settings{
        {250, 30},  {250, 100},  {250, 200},  {250, 500},  {500, 30},  {500, 100},  {500, 200},  {660, 40},
        {1000, 30}, {1000, 100}, {1000, 200}, {1000, 500}, {2000, 30}, {2000, 100}, {2000, 200}, {2000, 500},
    };
    for (const KeyRepeat& setting : settings) {
        SCOPED_TRACE(std::to_string(setting.firstDelayMs) + " ms, then every " + std::to_string(setting.intervalMs) +
                     " ms");
        Player player(setting);
        const std::int64_t aWhile = setting.firstDelayMs + 6 * setting.intervalMs + 100;
        // ENTER held on the last outcome, with nothing learnt yet
        player.hold(13, aWhile);
        EXPECT_EQ(player.seen(), Presses{13}) << "the first hold";
        EXPECT_EQ(player.typed.learnt(), setting);
        // presses by hand, three a second, as unevenly as a hand presses
        for (const std::int64_t gap : {0, 320, 370, 320, 340, 310}) player.type(13, player.nowMs + gap);
        EXPECT_EQ(player.seen(), Presses(6, 13)) << "presses by hand";
        // a double tap
        player.type(13, player.nowMs);
        player.type(13, player.nowMs + 120);
        EXPECT_EQ(player.seen(), (Presses{13, 13})) << "a double tap";
        // a digit held through ENTER, which goes down between two of the digit's repeats
        player.hold(49, aWhile);
        player.type(13, player.nowMs + setting.intervalMs / 2);
        EXPECT_EQ(player.seen(), (Presses{49, 13})) << "a digit held through ENTER";
        // ENTER held again, once learnt
        player.hold(13, aWhile);
        EXPECT_EQ(player.seen(), Presses{13}) << "a hold, learnt";
    }
}

// Before any hold, presses by hand at the pace of a slow repeat cannot be told from a first hold:
// the reading that invents no press, and nothing learnt from it.
TEST(TypedKeys, BeforeAnyHoldPressesAtTheirPaceAreAHoldAndNothingIsLearnt) {
    Player player({500, 500});
    // presses in an even rhythm after a pause, or uneven, or three, the last two close: one hold,
    // not learnt
    for (const std::int64_t gap : {0, 300, 310, 300, 320, 305}) player.type(13, player.nowMs + gap);
    EXPECT_EQ(player.seen(), Presses{13});
    for (const std::int64_t gap : {0, 300, 450, 320, 480}) player.type(13, player.nowMs + gap);
    EXPECT_EQ(player.seen(), Presses{13});
    for (const std::int64_t gap : {0, 1000, 200}) player.type(13, player.nowMs + gap);
    EXPECT_EQ(player.seen(), Presses{13});
    EXPECT_EQ(player.typed.learnt(), std::nullopt);
    // presses too quick for a first repeat, or slower than the slowest, count
    for (const std::int64_t gap : {0, 120, 120}) player.type(13, player.nowMs + gap);
    EXPECT_EQ(player.seen(), Presses(3, 13));
    for (const std::int64_t gap : {0, 700, 800, 700}) player.type(13, player.nowMs + gap);
    EXPECT_EQ(player.seen(), Presses(4, 13));
    // a hold whose first repeat comes 1 s after the press, then every 200 ms, one of them late:
    // learnt, and presses by hand in the even pace they were lost to before then count
    const std::int64_t start = player.nowMs;
    for (const std::int64_t at : {0, 1000, 1200, 1515, 1715, 1915, 2115, 2315, 2515}) player.type(13, start + at);
    EXPECT_EQ(player.seen(), Presses{13});
    EXPECT_EQ(player.typed.learnt(), (KeyRepeat{1000, 200}));
    for (const std::int64_t gap : {0, 333, 333, 333}) player.type(13, player.nowMs + gap);
    EXPECT_EQ(player.seen(), Presses(4, 13));
}

// A setting changed after a hold was learnt: a repeat quicker than any hand is still a hold.
TEST(TypedKeys, ARepeatQuickerThanAHandIsAHoldWhateverWasLearnt) {
    Player player({1000, 200});
    player.hold(13, 2500);
    EXPECT_EQ(player.seen(), Presses{13});
    player.setting = {400, 30};
    player.hold(13, 1000);
    EXPECT_EQ(player.seen(), (Presses{13, 13}));  // the first repeat is a press: not where it was
    player.hold(13, 1000);
    EXPECT_EQ(player.seen(), Presses{13});
    EXPECT_EQ(player.typed.learnt(), (KeyRepeat{400, 30}));
}
