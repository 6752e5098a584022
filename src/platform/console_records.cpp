// The mapping from Windows console key records to the game's key changes.
#include "platform/console_records.h"

#include <array>
#include <cstddef>

#include "platform/keys.h"

std::optional<std::int32_t> gameKeyOf(const ConsoleKeyRecord& record) {
    const std::int32_t vk = record.virtualKeyCode;
    // Keypad Enter is VK_RETURN with the enhanced-key flag: the same key to the game, as it is to
    // a poll of VK_RETURN. The keypad's digits have codes of their own (96 to 105) and stay out.
    if (vk == vkEnter || vk == vkQ) return vk;
    if (vk >= vkDigit0 && vk <= vkDigit0 + 9) return vk;
    return std::nullopt;
}

std::vector<KeyChange> keyChangesOf(std::span<const ConsoleKeyRecord> batch) {
    std::vector<KeyChange> changes;
    // Per key, where its latest change in this batch is in `changes`, if it has one.
    std::array<std::optional<std::size_t>, 256> latest{};
    for (const ConsoleKeyRecord& record : batch) {
        const std::optional<std::int32_t> vk = gameKeyOf(record);
        if (!vk) continue;
        std::optional<std::size_t>& last = latest.at(static_cast<std::size_t>(*vk));
        const bool wasDown =
            last && (changes[*last].kind == KeyChangeKind::press || changes[*last].kind == KeyChangeKind::repeat);
        if (record.keyDown) {
            changes.push_back({wasDown ? KeyChangeKind::repeat : KeyChangeKind::press, *vk});
            last = changes.size() - 1;
        } else if (last && changes[*last].kind == KeyChangeKind::press) {
            changes[*last].kind = KeyChangeKind::tap;  // down and up with nothing between: one tap
        } else {
            // after a repeat (the key was held), or for a key that went down before this batch
            changes.push_back({KeyChangeKind::release, *vk});
            last = changes.size() - 1;
        }
    }
    return changes;
}

void applyKeyChanges(KeyQueue& keys, std::span<const KeyChange> changes, KeyClock::time_point at) {
    for (const KeyChange& change : changes) {
        switch (change.kind) {
        case KeyChangeKind::tap: keys.tap(change.vk, at); break;
        case KeyChangeKind::press:
        case KeyChangeKind::repeat: keys.press(change.vk, at); break;
        case KeyChangeKind::release: keys.release(change.vk, at); break;
        }
    }
}
