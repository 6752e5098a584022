// The key timeline on its own: one point per step, changes that change nothing, focus; and typed
// characters turned into presses and releases by their timing.
#include "platform/key_timeline.h"

#include <gtest/gtest.h>

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
}  // namespace

TEST(TypedKeys, RepeatsAreOneHeldKeySecondPressesWaitForAThird) {
    // one character: down at once, up once the longest first repeat delay is over
    EXPECT_EQ(typedAt({0}, 749), "D");
    EXPECT_EQ(typedAt({0}, 750), "DU");
    // repeats after a first delay: held, up 150 ms after the last
    std::vector<std::int64_t> held{0};
    for (std::int64_t at = 660; at <= 1500; at += 40) held.push_back(at);
    EXPECT_EQ(typedAt(held, 1649), "D");
    EXPECT_EQ(typedAt(held, 1650), "DU");
    // a second character alone: a press by hand, counted when no third came in 150 ms
    EXPECT_EQ(typedAt({0, 300}, 449), "D");
    EXPECT_EQ(typedAt({0, 300}, 450), "DUD");
    EXPECT_EQ(typedAt({0, 300, 1200}, 1200), "DUDUD");
    // soon after the repeats stopped: a press once no repeat followed it, late repeats go on
    // with the hold (the key up); later still, a press at once
    held.push_back(1800);
    EXPECT_EQ(typedAt(held, 1949), "DU");
    EXPECT_EQ(typedAt(held, 1950), "DUD");
    held.push_back(1830);
    EXPECT_EQ(typedAt(held, 2500), "DU");
    held.push_back(3000);
    EXPECT_EQ(typedAt(held, 3000), "DUD");

    // a different key lets go of the first at once, a second character of it counting as a press
    KeyTimeline keys;
    TypedKeys typed;
    typed.typed(13, 0, keys);
    typed.typed(13, 200, keys);
    typed.typed(49, 210, keys);
    std::string seen;
    while (keys.advance()) {
        seen.push_back(keys.isDown(13) ? '1' : '0');
        seen.push_back(keys.isDown(49) ? '1' : '0');
        seen.push_back(' ');
    }
    EXPECT_EQ(seen, "10 00 10 00 01 ");
    EXPECT_EQ(typed.deadline(), 210 + TypedKeys::firstDelayMs);
}
