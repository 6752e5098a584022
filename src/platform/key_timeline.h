// The keyboard as the polls see it: one timeline of key changes for all keys, in the order they
// happened, and the point of it that the current poll cycle reads; and the characters of a
// terminal that reports no key releases, turned into keys going down and coming up.
#pragma once

#include <bitset>
#include <cstdint>
#include <deque>
#include <optional>

class KeyTimeline {
public:
    // Changes at the end of the timeline. One that changes nothing (a press of a key already
    // down, a release of a key already up) is not kept: it could never be seen.
    void press(std::int32_t vk);
    void release(std::int32_t vk);
    // Every key up at once: the focus left, or the keyboard's state is unknown again.
    void releaseAll();

    // Is the key down at the point the polls read now?
    [[nodiscard]] bool isDown(std::int32_t vk) const;

    // Moves the point on past the next change. False when the polls have seen every change.
    bool advance();

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

// A terminal without key releases sends a held key's character once, then, after the system's
// first repeat delay, again and again at its repeat rate. Characters of one key that follow each
// other at repeat speed, with no other key between them, are that key held down: one press, and
// a release once they stop. Whether a second character of the key starts the repeats or is a
// second press by hand is known only when a third follows at repeat speed, so the second one
// alone is counted once that time has passed. So is a character of a key soon after its repeats
// stopped: a late repeat (a slow link, a busy machine) goes on with the hold, the key still up,
// rather than counting as a press nobody made. Every other character counts at once.
class TypedKeys {
public:
    // The longest first repeat delay a system uses (X: 660 ms, GNOME: 500 ms).
    static constexpr std::int64_t firstDelayMs = 750;
    // Longer than any repeat interval (25 to 100 ms): how long a second character waits for a
    // third, and how long after the last repeat the key counts as released.
    static constexpr std::int64_t repeatGapMs = 150;

    // A character of the key `vk` read at `nowMs`.
    void typed(std::int32_t vk, std::int64_t nowMs, KeyTimeline& keys);

    // The time is `nowMs`: what was waiting for it is decided.
    void elapse(std::int64_t nowMs, KeyTimeline& keys);

    // When elapse next has something to decide, if ever.
    [[nodiscard]] std::optional<std::int64_t> deadline() const;

    // The keyboard is known otherwise from now on (a key event with its release, the focus
    // gone): a second character still undecided counts as a press, and the typed key is let go.
    void letGo(KeyTimeline& keys);

private:
    enum class Phase {
        none,         // no typed key is down
        pressed,      // one character: the key is down until its first repeat delay is over
        secondSeen,   // a second character within that delay: a repeat or a new press, not known yet
        repeating,    // repeats: down while they keep coming
        lateSeen,     // a character soon after the repeats stopped: a press, or late repeats
        lateRepeats,  // late repeats: the hold goes on, the key up
    };
    Phase phase = Phase::none;
    std::int32_t key = 0;
    std::int64_t lastMs = 0;  // when its last character came
    // The key whose repeats stopped last, and when its last character came.
    std::int32_t stoppedKey = -1;
    std::int64_t stoppedMs = 0;

    void newPress(std::int32_t vk, std::int64_t nowMs, KeyTimeline& keys);
};
