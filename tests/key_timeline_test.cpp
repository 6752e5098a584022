// The key timeline on its own: one point per step, changes that change nothing, taps, focus.
#include "platform/key_timeline.h"

#include <gtest/gtest.h>

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

TEST(KeyTimeline, ATapIsDownThenUpAndANewPressEvenOfAKeyDown) {
    KeyTimeline keys;
    keys.press(49);
    keys.tap(49);
    const bool expected[] = {true, false, true, false};
    for (const bool down : expected) {
        ASSERT_TRUE(keys.advance());
        EXPECT_EQ(keys.isDown(49), down);
    }
    EXPECT_FALSE(keys.advance());
}

TEST(KeyTimeline, ReleaseAllIsOneStepInItsPlace) {
    KeyTimeline keys;
    keys.press(49);
    keys.press(13);
    keys.releaseAll();
    keys.press(50);
    EXPECT_FALSE(keys.isDownAtEnd(49));
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
