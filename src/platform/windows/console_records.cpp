// The mapping from Windows console input records to the platform's events.
#include "platform/windows/console_records.h"

#include "platform/keys.h"

std::optional<std::int32_t> gameKeyOf(const ConsoleKeyRecord& record) {
    const std::int32_t vk = record.virtualKeyCode;
    // Keypad Enter is VK_RETURN with the enhanced-key flag: the same key to the game, as it is to
    // a poll of VK_RETURN. The keypad's digits have codes of their own (96 to 105) and stay out.
    if (vk == vkEnter || vk == vkQ) return vk;
    if (vk >= vkDigit0 && vk <= vkDigit0 + 9) return vk;
    return std::nullopt;
}

void takeConsoleRecords(std::span<const ConsoleRecord> records, std::vector<BackendEvent>& events) {
    for (const ConsoleRecord& record : records) {
        switch (record.type) {
        case ConsoleRecord::Type::key:
            if (const std::optional<std::int32_t> vk = gameKeyOf(record.key)) {
                events.push_back({record.key.keyDown ? BackendEventKind::keyDown : BackendEventKind::keyUp, *vk});
            }
            break;
        case ConsoleRecord::Type::focus:
            // No release comes for a key let go in another window: every key counts as up.
            if (!record.setFocus) events.push_back({BackendEventKind::focusLost});
            break;
        case ConsoleRecord::Type::bufferSize: events.push_back({BackendEventKind::resized}); break;
        case ConsoleRecord::Type::other: break;
        }
    }
}
