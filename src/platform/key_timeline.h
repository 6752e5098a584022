// The keyboard as the polls see it: one timeline of key changes for all keys, in the order they
// happened, and the point of it that the current poll cycle reads.
#pragma once

#include <bitset>
#include <cstdint>
#include <deque>

class KeyTimeline {
public:
    // Changes at the end of the timeline. One that changes nothing (a press of a key already
    // down, a release of a key already up) is not kept: it could never be seen.
    void press(std::int32_t vk);
    void release(std::int32_t vk);
    // A key that went down and up with nothing to tell how long (a typed character): down at
    // one point, up at the next. A key down before it goes up first, so the tap is a new press.
    void tap(std::int32_t vk);
    // Every key up at once: the focus left, or the keyboard's state is unknown again.
    void releaseAll();

    // Is the key down at the point the polls read now?
    [[nodiscard]] bool isDown(std::int32_t vk) const;

    // Moves the point on past the next change. False when the polls have seen every change.
    bool advance();

    // Is the key down at the end of the timeline, once every change is seen?
    [[nodiscard]] bool isDownAtEnd(std::int32_t vk) const;

private:
    static constexpr std::size_t keyCount = 256;
    struct Change {
        std::int32_t vk;  // the key, or allKeys
        bool down;
    };
    static constexpr std::int32_t allKeys = -1;

    std::bitset<keyCount> seen;  // the keyboard at the point read now
    std::bitset<keyCount> end;   // the keyboard once every change is seen
    std::deque<Change> unseen;   // changes after the point, oldest first

    void add(std::int32_t vk, bool down);
};
