// Unit tests of the Windows console record mapping: which records are the game's keys, taps,
// holds and repeats within a batch, and the key model fed from it.
#include "platform/console_records.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <vector>

// gtest finds this by argument-dependent lookup, so failures show "tap 49", not raw bytes.
void PrintTo(const KeyChange& change, std::ostream* os) {
    static constexpr const char* names[] = {"press", "repeat", "release", "tap"};
    *os << names[static_cast<int>(change.kind)] << ' ' << change.vk;
}

namespace {
using Changes = std::vector<KeyChange>;
using Records = std::vector<ConsoleKeyRecord>;
using std::chrono::milliseconds;

// dwControlKeyState flags, as the console sets them.
constexpr std::uint32_t leftCtrlPressed = 0x0008;
constexpr std::uint32_t shiftPressed = 0x0010;
constexpr std::uint32_t numLockOn = 0x0020;
constexpr std::uint32_t capsLockOn = 0x0080;
constexpr std::uint32_t enhancedKey = 0x0100;

// Virtual-key codes of keys that are no key of the game.
constexpr std::uint16_t vkShift = 0x10;
constexpr std::uint16_t vkControl = 0x11;
constexpr std::uint16_t vkMenu = 0x12;  // Alt
constexpr std::uint16_t vkEscape = 0x1b;
constexpr std::uint16_t vkNumpad0 = 0x60;
constexpr std::uint16_t vkNumpad1 = 0x61;

ConsoleKeyRecord record(bool down, std::uint16_t vk, char16_t character = 0, std::uint32_t state = 0) {
    return {down, 1, vk, 0, character, state};
}
ConsoleKeyRecord down(std::uint16_t vk, char16_t character = 0, std::uint32_t state = 0) {
    return record(true, vk, character, state);
}
ConsoleKeyRecord up(std::uint16_t vk, char16_t character = 0, std::uint32_t state = 0) {
    return record(false, vk, character, state);
}

KeyChange press(std::int32_t vk) { return {KeyChangeKind::press, vk}; }
KeyChange repeat(std::int32_t vk) { return {KeyChangeKind::repeat, vk}; }
KeyChange release(std::int32_t vk) { return {KeyChangeKind::release, vk}; }
KeyChange tap(std::int32_t vk) { return {KeyChangeKind::tap, vk}; }

Changes changesOf(const Records& batch) { return keyChangesOf(batch); }

// The key latch's rule, over the key model: 1 a new press, 2 held, 0 up.
struct Latch {
    bool latched = false;
    int poll(KeyQueue& keys, std::int32_t vk, KeyClock::time_point now) {
        if (!keys.poll(vk, now)) {
            latched = false;
            return 0;
        }
        if (latched) return 2;
        latched = true;
        return 1;
    }
};

const KeyClock::time_point t0{};
}  // namespace

TEST(ConsoleRecords, TheGameKeysAreEnterQAndTheMainRowDigits) {
    EXPECT_EQ(gameKeyOf(down(13, u'\r')), 13);
    EXPECT_EQ(gameKeyOf(down(81, u'q')), 81);
    for (std::uint16_t vk = 48; vk <= 57; ++vk) EXPECT_EQ(gameKeyOf(down(vk, static_cast<char16_t>(vk))), vk);
}

TEST(ConsoleRecords, KeypadEnterIsEnter) { EXPECT_EQ(gameKeyOf(down(13, u'\r', enhancedKey)), 13); }

TEST(ConsoleRecords, QCountsWithShiftOrCapsLock) {
    EXPECT_EQ(gameKeyOf(down(81, u'Q', shiftPressed)), 81);
    EXPECT_EQ(gameKeyOf(down(81, u'Q', capsLockOn)), 81);
    EXPECT_EQ(gameKeyOf(down(81, u'q', shiftPressed | capsLockOn)), 81);
}

TEST(ConsoleRecords, KeypadDigitsNeverCount) {
    // With NumLock on they type the very same characters as the main row's digits.
    for (std::uint16_t i = 0; i <= 9; ++i) {
        const auto vk = static_cast<std::uint16_t>(vkNumpad0 + i);
        EXPECT_EQ(gameKeyOf(down(vk, static_cast<char16_t>(u'0' + i), numLockOn)), std::nullopt);
    }
}

TEST(ConsoleRecords, TheKeyIsTheVirtualKeyCodeNeverTheCharacter) {
    EXPECT_EQ(gameKeyOf(down(vkEscape, 0)), std::nullopt);       // Escape types character 0
    EXPECT_EQ(gameKeyOf(down(0x41, u'1')), std::nullopt);        // a layout that types "1" on another key
    EXPECT_EQ(gameKeyOf(down(49, 0, leftCtrlPressed)), 49);      // Ctrl+1 types nothing, 1 is still down
    EXPECT_EQ(gameKeyOf(down(13, u'\n', leftCtrlPressed)), 13);  // Ctrl+Enter types a line feed
    EXPECT_EQ(gameKeyOf(down(81, 0x11, leftCtrlPressed)), 81);   // Ctrl+Q
}

TEST(ConsoleRecords, ModifiersAndOtherKeysAreNoKeyOfTheGame) {
    for (const std::uint16_t vk : {vkShift, vkControl, vkMenu, vkEscape, std::uint16_t{0x26}, std::uint16_t{0x20},
                                   std::uint16_t{0x70}, std::uint16_t{0x51 + 1}, std::uint16_t{0}}) {
        EXPECT_EQ(gameKeyOf(down(vk)), std::nullopt) << "vk " << vk;
    }
}

TEST(ConsoleRecords, ADownAndAnUpInOneBatchAreOneTap) {
    EXPECT_EQ(changesOf({down(13, u'\r'), up(13, u'\r')}), (Changes{tap(13)}));
}

TEST(ConsoleRecords, ADownAloneIsAPressAndAnUpAloneARelease) {
    EXPECT_EQ(changesOf({down(49, u'1')}), (Changes{press(49)}));
    EXPECT_EQ(changesOf({up(49, u'1')}), (Changes{release(49)}));
}

TEST(ConsoleRecords, ASecondDownWithoutAnUpIsARepeat) {
    EXPECT_EQ(changesOf({down(50), down(50), down(50)}), (Changes{press(50), repeat(50), repeat(50)}));
    // held long enough to repeat, then let go: not a tap
    EXPECT_EQ(changesOf({down(50), down(50), up(50)}), (Changes{press(50), repeat(50), release(50)}));
}

TEST(ConsoleRecords, TypedAheadKeysAreEachATapInOrder) {
    EXPECT_EQ(changesOf({down(13), up(13), down(49), up(49), down(13), up(13)}), (Changes{tap(13), tap(49), tap(13)}));
}

TEST(ConsoleRecords, OverlappingKeysAreEachTheirOwn) {
    EXPECT_EQ(changesOf({down(48), down(49), up(48), up(49)}), (Changes{tap(48), tap(49)}));
    EXPECT_EQ(changesOf({down(48), up(49)}), (Changes{press(48), release(49)}));
}

TEST(ConsoleRecords, ModifierRecordsAreDroppedAndNeedNotBeBalanced) {
    // Shift+q, as the console sends it
    EXPECT_EQ(changesOf({down(vkShift, 0, shiftPressed), down(81, u'Q', shiftPressed), up(81, u'Q', shiftPressed),
                         up(vkShift)}),
              (Changes{tap(81)}));
    // a Ctrl released that was pressed before the game started, an Alt pressed and never released
    EXPECT_EQ(changesOf({up(vkControl), down(vkMenu), down(49, 0, 0x0002), up(49, 0, 0x0002)}), (Changes{tap(49)}));
}

TEST(ConsoleRecords, OtherKeysInABatchLeaveNothing) {
    EXPECT_EQ(changesOf({}), Changes{});
    EXPECT_EQ(
        changesOf({down(vkNumpad1, u'1', numLockOn), up(vkNumpad1, u'1', numLockOn), down(vkEscape), up(vkEscape)}),
        Changes{});
}

TEST(ConsoleRecords, ATapIsANewPressAtOnePollAndUpAtTheNext) {
    KeyQueue keys;
    Latch enter;
    const Records batch{down(13, u'\r'), up(13, u'\r')};
    applyKeyChanges(keys, keyChangesOf(batch), t0);
    EXPECT_EQ(enter.poll(keys, 13, t0 + milliseconds(1)), 1);
    EXPECT_EQ(enter.poll(keys, 13, t0 + milliseconds(2)), 0);
}

TEST(ConsoleRecords, AHeldKeyFollowsTheLatchAcrossBatches) {
    // On a real console down, repeats and up come in batches of their own, with real timing.
    KeyQueue keys;
    Latch enter;
    Latch digit;
    applyKeyChanges(keys, keyChangesOf(Records{down(13)}), t0);
    EXPECT_EQ(enter.poll(keys, 13, t0 + milliseconds(1)), 1);
    applyKeyChanges(keys, keyChangesOf(Records{down(13)}), t0 + milliseconds(500));  // autorepeat
    EXPECT_EQ(enter.poll(keys, 13, t0 + milliseconds(501)), 2);
    EXPECT_EQ(enter.poll(keys, 13, t0 + milliseconds(900)), 2);  // a wait for ENTER goes on through the hold
    applyKeyChanges(keys, keyChangesOf(Records{up(13)}), t0 + milliseconds(1000));
    EXPECT_EQ(enter.poll(keys, 13, t0 + milliseconds(1001)), 0);
    // a digit held from one Event to the next is down at every poll: the choice takes it again
    applyKeyChanges(keys, keyChangesOf(Records{down(49)}), t0 + milliseconds(1100));
    EXPECT_EQ(digit.poll(keys, 49, t0 + milliseconds(1101)), 1);
    applyKeyChanges(keys, keyChangesOf(Records{down(49)}), t0 + milliseconds(1600));
    EXPECT_NE(digit.poll(keys, 49, t0 + milliseconds(1601)), 0);
}

TEST(ConsoleRecords, AKeyReleasedAndPressedAgainBetweenPollsIsShownUpThenDown) {
    KeyQueue keys;
    Latch enter;
    applyKeyChanges(keys, keyChangesOf(Records{down(13)}), t0);
    EXPECT_EQ(enter.poll(keys, 13, t0 + milliseconds(1)), 1);
    applyKeyChanges(keys, keyChangesOf(Records{up(13), down(13)}), t0 + milliseconds(200));
    EXPECT_EQ(enter.poll(keys, 13, t0 + milliseconds(201)), 0);
    EXPECT_EQ(enter.poll(keys, 13, t0 + milliseconds(202)), 1);
}

TEST(ConsoleRecords, AStaleTapIsNeverReplayed) {
    // ENTER tapped while only the digits were polled, long before the next wait for ENTER
    KeyQueue keys;
    Latch enter;
    applyKeyChanges(keys, keyChangesOf(Records{down(13), up(13)}), t0);
    EXPECT_EQ(enter.poll(keys, 13, t0 + milliseconds(150)), 0);
}

TEST(ConsoleRecords, KeysThatAreNoKeyOfTheGameNeverReachTheKeyModel) {
    KeyQueue keys;
    applyKeyChanges(keys, keyChangesOf(Records{down(vkNumpad1, u'1', numLockOn), down(vkShift)}), t0);
    for (std::int32_t vk = 0; vk < 256; ++vk) EXPECT_FALSE(keys.hasPending(vk)) << "vk " << vk;
}
