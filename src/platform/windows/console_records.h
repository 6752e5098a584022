// The Windows console's input records turned into the platform's events: a pure function over
// the records' fields, so it builds and is tested on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/backend.h"

// The fields of one KEY_EVENT_RECORD, as plain values.
struct ConsoleKeyRecord {
    bool keyDown = false;               // bKeyDown: true for a press or an autorepeat, false for a release
    std::uint16_t repeatCount = 1;      // wRepeatCount
    std::uint16_t virtualKeyCode = 0;   // wVirtualKeyCode
    std::uint16_t virtualScanCode = 0;  // wVirtualScanCode
    char16_t character = 0;             // uChar.UnicodeChar: 0 for keys that type nothing (Escape, arrows)
    std::uint32_t controlKeyState = 0;  // dwControlKeyState: Shift, Ctrl, Alt, the locks, the enhanced-key flag
};

// One INPUT_RECORD, as plain values: the records the game reads, and every other kind as `other`.
struct ConsoleRecord {
    enum class Type { key, focus, bufferSize, other };
    Type type = Type::other;
    ConsoleKeyRecord key{};  // for `key`
    bool setFocus = false;   // for `focus`: bSetFocus
};

// The game's key a record is about (13 ENTER, either Enter key; 81 Q; 48 to 57 the main-row
// digits), by its virtual-key code alone: never the character it types, and the keypad's digits,
// Shift, Ctrl, Alt and every other key are no key of the game.
std::optional<std::int32_t> gameKeyOf(const ConsoleKeyRecord& record);

// The events of records read together, in order: a down record is the key going down (an
// autorepeat changes nothing where the key is down already), an up record the key coming up;
// the focus leaving, and a buffer size change. Every other record is dropped.
void takeConsoleRecords(std::span<const ConsoleRecord> records, std::vector<BackendEvent>& events);
