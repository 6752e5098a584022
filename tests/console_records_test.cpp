// Unit tests of the Windows console record mapping: which records are the game's keys, and the
// events a batch of records gives, focus and size included.
#include "platform/windows/console_records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

// gtest finds this by argument-dependent lookup, so failures show "keyDown 49", not raw bytes.
void PrintTo(const BackendEvent& event, std::ostream* os) {
    static constexpr const char* names[] = {"keyDown",   "keyRepeat", "keyUp",   "keyTap", "releasesReported",
                                            "focusLost", "interrupt", "resumed", "resized"};
    *os << names[static_cast<int>(event.kind)] << ' ' << event.value;
}

namespace {
using Events = std::vector<BackendEvent>;

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

ConsoleRecord key(const ConsoleKeyRecord& record) { return {ConsoleRecord::Type::key, record, false}; }
ConsoleRecord focus(bool set) { return {ConsoleRecord::Type::focus, {}, set}; }

Events eventsOf(const std::vector<ConsoleRecord>& records) {
    Events events;
    takeConsoleRecords(records, events);
    return events;
}
Events eventsOf(const std::vector<ConsoleKeyRecord>& keys) {
    std::vector<ConsoleRecord> records;
    records.reserve(keys.size());
    for (const ConsoleKeyRecord& one : keys) records.push_back(key(one));
    return eventsOf(records);
}

BackendEvent pressed(std::int32_t vk) { return {BackendEventKind::keyDown, vk}; }
BackendEvent released(std::int32_t vk) { return {BackendEventKind::keyUp, vk}; }
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

TEST(ConsoleRecords, EachRecordOfAGameKeyIsItsKeyGoingDownOrUpInOrder) {
    // typed ahead, each key down and up in one batch, as wine's console sends them
    EXPECT_EQ(eventsOf({down(13, u'\r'), up(13, u'\r'), down(49, u'1'), up(49, u'1')}),
              (Events{pressed(13), released(13), pressed(49), released(49)}));
    // overlapping keys, and autorepeat: another down (the core takes it as no change)
    EXPECT_EQ(eventsOf({down(48), down(49), down(49), up(48), up(49)}),
              (Events{pressed(48), pressed(49), pressed(49), released(48), released(49)}));
}

TEST(ConsoleRecords, ModifierAndOtherKeyRecordsAreDroppedAndNeedNotBeBalanced) {
    // Shift+q, as the console sends it
    EXPECT_EQ(eventsOf({down(vkShift, 0, shiftPressed), down(81, u'Q', shiftPressed), up(81, u'Q', shiftPressed),
                        up(vkShift)}),
              (Events{pressed(81), released(81)}));
    // a Ctrl released that was pressed before the game started, an Alt pressed and never released
    EXPECT_EQ(eventsOf({up(vkControl), down(vkMenu), down(49, 0, 0x0002), up(49, 0, 0x0002)}),
              (Events{pressed(49), released(49)}));
    EXPECT_EQ(eventsOf({down(vkNumpad1, u'1', numLockOn), up(vkNumpad1, u'1', numLockOn), down(vkEscape)}), Events{});
}

TEST(ConsoleRecords, TheFocusLeavingReleasesEveryKeyAndASizeChangeIsAResize) {
    // 1 held, the focus goes to another window where 1 is let go, then comes back
    const std::vector<ConsoleRecord> records{key(down(49)),
                                             focus(false),
                                             focus(true),
                                             {ConsoleRecord::Type::bufferSize, {}, false},
                                             {ConsoleRecord::Type::other, {}, false}};
    EXPECT_EQ(eventsOf(records), (Events{pressed(49), {BackendEventKind::focusLost}, {BackendEventKind::resized}}));
}
