// The keyboard as the polls see it: each key's changes of state, shown to the polls of that key
// one per poll in arrival order, so that keys arriving together are all seen; a change that no
// poll takes in time lapses, and then only the key's latest state counts.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>

using KeyClock = std::chrono::steady_clock;

class KeyQueue {
public:
    // How long a change waits for a poll of its key before it lapses.
    static constexpr std::chrono::milliseconds lapse{100};

    void press(std::int32_t vk, KeyClock::time_point at);
    void release(std::int32_t vk, KeyClock::time_point at);
    // A key that went down and up again with nothing in between to tell how long (a typed
    // character): down at the next poll of that key, up at the one after.
    void tap(std::int32_t vk, KeyClock::time_point at);

    // One poll of the key at time `now`: takes its next change, if any, and says whether the
    // key reads down.
    bool poll(std::int32_t vk, KeyClock::time_point now);

    // Does the key have changes that no poll has taken yet?
    [[nodiscard]] bool hasPending(std::int32_t vk) const;

    // Every key up, nothing pending: the keyboard state is unknown again (after a suspend).
    void releaseAll();

private:
    struct Change {
        bool down;
        KeyClock::time_point at;
    };
    struct Key {
        bool shown = false;          // what the polls of this key see now
        std::deque<Change> changes;  // not yet taken, oldest first
        [[nodiscard]] bool latest() const { return changes.empty() ? shown : changes.back().down; }
    };
    // A key tapped faster than it is polled keeps only this many changes; older ones lapse.
    static constexpr std::size_t maxChanges = 16;
    std::array<Key, 256> keys{};

    void add(std::int32_t vk, bool down, KeyClock::time_point at);
};
