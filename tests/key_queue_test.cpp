// The keyboard as the polls see it: changes one per poll, bunched events, lapse, repeat.
#include <gtest/gtest.h>

#include "platform/key_queue.h"

namespace {
using std::chrono::milliseconds;
const KeyClock::time_point t0{};

std::vector<bool> pollTimes(KeyQueue& keys, std::int32_t vk, int times, KeyClock::time_point now) {
    std::vector<bool> seen;
    seen.reserve(static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i) seen.push_back(keys.poll(vk, now));
    return seen;
}
}  // namespace

TEST(KeyQueue, ATapIsDownAtOnePollAndUpAtTheNext) {
    KeyQueue keys;
    keys.tap(49, t0);
    EXPECT_TRUE(keys.hasPending(49));
    EXPECT_EQ(pollTimes(keys, 49, 3, t0 + milliseconds(5)), (std::vector<bool>{true, false, false}));
    EXPECT_FALSE(keys.hasPending(49));
}

TEST(KeyQueue, BunchedChangesAreShownOnePerPollInOrder) {
    KeyQueue keys;
    // two taps and a press that arrived in one read
    keys.tap(13, t0);
    keys.tap(13, t0);
    keys.press(13, t0);
    EXPECT_EQ(pollTimes(keys, 13, 6, t0 + milliseconds(1)), (std::vector<bool>{true, false, true, false, true, true}));
}

TEST(KeyQueue, OtherKeysAreNotTouchedByAPoll) {
    KeyQueue keys;
    keys.tap(13, t0);
    keys.press(50, t0);
    EXPECT_FALSE(keys.poll(48, t0));
    EXPECT_TRUE(keys.hasPending(13));
    EXPECT_TRUE(keys.poll(50, t0));
    EXPECT_TRUE(keys.hasPending(13));
}

TEST(KeyQueue, ChangesNobodyPolledInTimeLapseToTheLatestState) {
    KeyQueue keys;
    keys.tap(13, t0);  // ENTER tapped while only the digits are polled
    EXPECT_FALSE(keys.poll(13, t0 + milliseconds(150)));
    EXPECT_FALSE(keys.hasPending(13));

    keys.press(49, t0);  // held: the press lapses, the key is still down
    EXPECT_TRUE(keys.poll(49, t0 + milliseconds(500)));

    // an old tap lapses, a recent one is still shown
    keys.tap(50, t0);
    keys.tap(50, t0 + milliseconds(450));
    EXPECT_EQ(pollTimes(keys, 50, 2, t0 + milliseconds(460)), (std::vector<bool>{true, false}));
}

TEST(KeyQueue, AStaleReleaseIsStillSeenBeforeAFreshPress) {
    KeyQueue keys;
    keys.tap(13, t0);
    EXPECT_TRUE(keys.poll(13, t0));  // the press is taken; its release waits, unpolled
    keys.tap(13, t0 + milliseconds(400));
    // the latch must see ENTER up once, or the fresh press would read as the old one held
    EXPECT_EQ(pollTimes(keys, 13, 3, t0 + milliseconds(401)), (std::vector<bool>{false, true, false}));

    // a stale tap on a key seen down collapses to one release, not to a replayed press
    keys.press(49, t0);
    EXPECT_TRUE(keys.poll(49, t0));
    keys.release(49, t0);
    keys.tap(49, t0);
    EXPECT_EQ(pollTimes(keys, 49, 2, t0 + milliseconds(300)), (std::vector<bool>{false, false}));
}

TEST(KeyQueue, RepeatsAndDoubleReleasesChangeNothing) {
    KeyQueue keys;
    keys.press(81, t0);
    keys.press(81, t0);  // a repeat: still down
    keys.release(81, t0);
    keys.release(81, t0);
    EXPECT_EQ(pollTimes(keys, 81, 3, t0), (std::vector<bool>{true, false, false}));
}

TEST(KeyQueue, AFloodOfTapsIsBoundedAndEndsUp) {
    KeyQueue keys;
    for (int i = 0; i < 10000; ++i) keys.tap(49, t0);
    int downs = 0;
    for (int i = 0; i < 100 && keys.hasPending(49); ++i) downs += keys.poll(49, t0) ? 1 : 0;
    EXPECT_FALSE(keys.hasPending(49));
    EXPECT_LE(downs, 8);
    EXPECT_GE(downs, 1);
    EXPECT_FALSE(keys.poll(49, t0));
}

TEST(KeyQueue, ReleaseAllForgetsEverything) {
    KeyQueue keys;
    keys.press(13, t0);
    keys.tap(49, t0);
    EXPECT_TRUE(keys.poll(13, t0));
    keys.releaseAll();
    EXPECT_FALSE(keys.poll(13, t0));
    EXPECT_FALSE(keys.hasPending(49));
    EXPECT_FALSE(keys.poll(49, t0));
}
