// One timeline of key changes for all keys, read one point per poll cycle.
#include "platform/key_timeline.h"

#include <cstddef>

namespace {
std::size_t slot(std::int32_t vk) { return static_cast<std::size_t>(vk); }
}  // namespace

void KeyTimeline::add(std::int32_t vk, bool down) {
    if (end.test(slot(vk)) == down) return;
    end.set(slot(vk), down);
    unseen.push_back({vk, down});
}

void KeyTimeline::press(std::int32_t vk) { add(vk, true); }

void KeyTimeline::release(std::int32_t vk) { add(vk, false); }

void KeyTimeline::tap(std::int32_t vk) {
    add(vk, false);
    add(vk, true);
    add(vk, false);
}

void KeyTimeline::releaseAll() {
    if (end.none()) return;
    end.reset();
    unseen.push_back({allKeys, false});
}

bool KeyTimeline::isDown(std::int32_t vk) const { return seen.test(slot(vk)); }

bool KeyTimeline::isDownAtEnd(std::int32_t vk) const { return end.test(slot(vk)); }

bool KeyTimeline::advance() {
    if (unseen.empty()) return false;
    const Change change = unseen.front();
    unseen.pop_front();
    if (change.vk == allKeys) {
        seen.reset();
    } else {
        seen.set(slot(change.vk), change.down);
    }
    return true;
}
