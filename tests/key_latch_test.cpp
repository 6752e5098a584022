// Presses from polled key state: the latch rules.
#include <gtest/gtest.h>

#include "console/key_latch.h"
#include "scripted_keyboard.h"

namespace {
struct KeyLatch : ::testing::Test {
    void SetUp() override { keyLatch.fill(0); }
};
}  // namespace

TEST_F(KeyLatch, ADownKeyIsOneNewPressThenHeldUntilSeenUp) {
    scriptKeys({{13}, {13}, {}, {13}});
    EXPECT_EQ(keyPressed(13), keyNewPress);
    EXPECT_LT(keyLatch[13], 0);
    EXPECT_EQ(keyPressed(13), keyHeld);
    EXPECT_EQ(keyLatch[13], -127);
    scriptKeys({{}});
    EXPECT_EQ(keyPressed(13), keyUp);
    EXPECT_EQ(keyLatch[13], 0);
}

TEST_F(KeyLatch, WaitReturnsOnlyAfterAPollSawTheKeyUp) {
    keyLatch[13] = -127;  // accepted earlier and never seen up
    scriptKeys({{13}, {13}, {}, {13}, {}});
    captureOutput([] { waitForKey(13); });
    EXPECT_EQ(waitsMade(), 3);
    EXPECT_EQ(keysPolled(), (std::vector<std::int32_t>{13, 13, 13, 13}));
}

TEST_F(KeyLatch, AReleaseAndPressBetweenTwoPollsIsStillHeld) {
    scriptKeys({{49}, {49}});
    EXPECT_EQ(keyPressed(49), keyNewPress);
    EXPECT_EQ(keyPressed(49), keyHeld);
}

TEST_F(KeyLatch, PollingOneKeyLeavesTheOthersLatches) {
    keyLatch[13] = -127;
    scriptKeys({{}});
    EXPECT_EQ(keyPressed(48), keyUp);
    EXPECT_EQ(keyPressed(81), keyUp);
    EXPECT_EQ(keyLatch[13], -127);
    EXPECT_EQ(keyLatch[48], 0);
}
