// The Windows console's key records turned into the game's key changes: a pure function over the
// records' fields, so it builds and is tested on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/key_queue.h"

// The fields of one KEY_EVENT_RECORD, as plain values.
struct ConsoleKeyRecord {
    bool keyDown = false;               // bKeyDown: true for a press or an autorepeat, false for a release
    std::uint16_t repeatCount = 1;      // wRepeatCount
    std::uint16_t virtualKeyCode = 0;   // wVirtualKeyCode
    std::uint16_t virtualScanCode = 0;  // wVirtualScanCode
    char16_t character = 0;             // uChar.UnicodeChar: 0 for keys that type nothing (Escape, arrows)
    std::uint32_t controlKeyState = 0;  // dwControlKeyState: Shift, Ctrl, Alt, the locks, the enhanced-key flag
};

enum class KeyChangeKind {
    press,    // the key went down
    repeat,   // another down record with no release in between: autorepeat, the key is still down
    release,  // the key came up
    tap,      // down and up again in the same batch of records: nothing tells how long it was held
};

struct KeyChange {
    KeyChangeKind kind;
    std::int32_t vk;
    bool operator==(const KeyChange&) const = default;
};

// The game's key a record is about (13 ENTER, either Enter key; 81 Q; 48 to 57 the main-row
// digits), by its virtual-key code alone: never the character it types, and the keypad's digits,
// Shift, Ctrl, Alt and every other key are no key of the game.
std::optional<std::int32_t> gameKeyOf(const ConsoleKeyRecord& record);

// The key changes in one batch of records read together, in order: per key, a down followed by
// an up is one tap, and a down after a down is a repeat. Records of other keys are dropped.
std::vector<KeyChange> keyChangesOf(std::span<const ConsoleKeyRecord> batch);

// Hands the changes of one batch to the key model, all as of `at`, the time the batch was read.
void applyKeyChanges(KeyQueue& keys, std::span<const KeyChange> changes, KeyClock::time_point at);
