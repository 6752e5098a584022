// One timeline of key changes for all keys, read one point per poll cycle; typed characters turned
// into presses and releases by their timing.
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

void KeyTimeline::releaseAll() {
    if (end.none()) return;
    end.reset();
    unseen.push_back({allKeys, false});
}

bool KeyTimeline::isDown(std::int32_t vk) const { return seen.test(slot(vk)); }

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

// A key that is down (a press the protocol reported, say) goes up first: the character is a
// new press.
void TypedKeys::newPress(std::int32_t vk, std::int64_t nowMs, KeyTimeline& keys) {
    keys.release(vk);
    keys.press(vk);
    phase = Phase::pressed;
    key = vk;
    lastMs = nowMs;
}

void TypedKeys::typed(std::int32_t vk, std::int64_t nowMs, KeyTimeline& keys) {
    elapse(nowMs, keys);
    if (phase != Phase::none && vk != key) letGo(keys);
    switch (phase) {
    case Phase::none:
        if (vk == stoppedKey && nowMs - stoppedMs < firstDelayMs) {
            phase = Phase::lateSeen;
            key = vk;
            break;
        }
        stoppedKey = -1;
        newPress(vk, nowMs, keys);
        return;
    case Phase::pressed: phase = Phase::secondSeen; break;
    case Phase::secondSeen:
    case Phase::repeating: phase = Phase::repeating; break;
    case Phase::lateSeen:
    case Phase::lateRepeats: phase = Phase::lateRepeats; break;
    }
    lastMs = nowMs;
}

std::optional<std::int64_t> TypedKeys::deadline() const {
    switch (phase) {
    case Phase::none: return std::nullopt;
    case Phase::pressed: return lastMs + firstDelayMs;
    case Phase::secondSeen:
    case Phase::repeating:
    case Phase::lateSeen:
    case Phase::lateRepeats: return lastMs + repeatGapMs;
    }
    return std::nullopt;
}

void TypedKeys::elapse(std::int64_t nowMs, KeyTimeline& keys) {
    while (phase != Phase::none && nowMs >= *deadline()) {
        if (phase == Phase::secondSeen || phase == Phase::lateSeen) {
            // no more characters came at repeat speed: this one was pressed by hand
            newPress(key, lastMs, keys);
        } else {
            keys.release(key);
            if (phase != Phase::pressed) {
                stoppedKey = key;
                stoppedMs = lastMs;
            }
            phase = Phase::none;
        }
    }
}

void TypedKeys::letGo(KeyTimeline& keys) {
    stoppedKey = -1;  // another key between: what follows is no repeat of this one
    if (phase == Phase::none) return;
    if (phase == Phase::secondSeen || phase == Phase::lateSeen) newPress(key, lastMs, keys);
    keys.release(key);
    phase = Phase::none;
}
