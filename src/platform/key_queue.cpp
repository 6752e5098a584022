// Key changes shown to the polls one at a time, with the lapse of changes nobody polled.
#include "platform/key_queue.h"

void KeyQueue::add(std::int32_t vk, bool down, KeyClock::time_point at) {
    Key& key = keys.at(static_cast<std::size_t>(vk));
    if (key.latest() == down) return;  // no change: a repeated press, or a release of a key up
    key.changes.push_back({down, at});
    if (key.changes.size() > maxChanges) {
        // drop the oldest whole pair, so the states still alternate
        key.changes.erase(key.changes.begin(), key.changes.begin() + 2);
    }
}

void KeyQueue::press(std::int32_t vk, KeyClock::time_point at) { add(vk, true, at); }

void KeyQueue::release(std::int32_t vk, KeyClock::time_point at) { add(vk, false, at); }

void KeyQueue::tap(std::int32_t vk, KeyClock::time_point at) {
    add(vk, true, at);
    add(vk, false, at);
}

bool KeyQueue::poll(std::int32_t vk, KeyClock::time_point now) {
    Key& key = keys.at(static_cast<std::size_t>(vk));
    // Changes that waited too long lapse: together they count as one change to the state the
    // last of them left, and only if that differs from what the polls saw before. So a stale
    // tap is never replayed, but a stale release still reaches the latch before a fresh press.
    bool lapsedTo = key.shown;
    while (!key.changes.empty() && now - key.changes.front().at > lapse) {
        lapsedTo = key.changes.front().down;
        key.changes.pop_front();
    }
    if (lapsedTo != key.shown) {
        key.shown = lapsedTo;
    } else if (!key.changes.empty()) {
        key.shown = key.changes.front().down;
        key.changes.pop_front();
    }
    return key.shown;
}

bool KeyQueue::hasPending(std::int32_t vk) const { return !keys.at(static_cast<std::size_t>(vk)).changes.empty(); }

void KeyQueue::releaseAll() {
    for (Key& key : keys) {
        key.shown = false;
        key.changes.clear();
    }
}
